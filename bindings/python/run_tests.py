"""Runs the binding's unittest suite; fails when a test fails or none ran."""

import sys
import unittest
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here))

suite = unittest.defaultTestLoader.discover(str(here / "tests"), top_level_dir=str(here))
result = unittest.TextTestRunner(verbosity=1).run(suite)
# A failing subtest is reported per subtest; count the test it belongs to once.
failed = {getattr(t, "test_case", t).id() for t, _ in result.failures + result.errors}
failed |= {t.id() for t in result.unexpectedSuccesses}
skipped = len(result.skipped)
passed = result.testsRun - len(failed) - skipped
print(f"python: {passed} passed, {len(failed)} failed" + (f", {skipped} skipped" if skipped else ""))
sys.exit(0 if result.testsRun > 0 and not failed else 1)
