"""The example and the benchmark script keep working."""

from __future__ import annotations

import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parents[1]


def run(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, timeout=120, check=False)


class ExamplesTest(unittest.TestCase):
    def test_agent_loop_restores_reply_and_tool_arguments(self) -> None:
        done = run(str(HERE / "examples" / "agent_loop.py"))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("send_mail(to='ada.lovelace@example.com'", done.stdout)
        self.assertNotIn("ada.lovelace@example.com", done.stdout.splitlines()[0])

    def test_benchmark_script_runs(self) -> None:
        done = run(str(HERE / "bench_encode.py"), "--iterations", "20", "--rounds", "1")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"python: [0-9.]+ us per encode of a [0-9]+-byte payload")


if __name__ == "__main__":
    unittest.main()
