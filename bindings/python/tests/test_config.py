"""Config handles: reading policies, their properties, and release."""

from __future__ import annotations

import gc
import json
import unittest
from pathlib import Path

import quorvel
from quorvel._api import _Handle

from .support import policy

EXAMPLE_POLICY = Path(__file__).resolve().parents[3] / "examples" / "support_policy.json"


class ConfigTest(unittest.TestCase):
    def test_default_policy(self) -> None:
        with quorvel.Config.default() as config:
            self.assertFalse(config.active)
            self.assertEqual(config.policy_name, "default")
            self.assertEqual(config.policy_version, "0.0.0")

    def test_properties_of_a_document_as_str_and_bytes(self) -> None:
        text = EXAMPLE_POLICY.read_text(encoding="utf-8")
        for form in (text, text.encode("utf-8"), bytearray(text.encode("utf-8"))):
            with self.subTest(type=type(form).__name__), quorvel.Config.from_json(form) as config:
                self.assertTrue(config.active)
                self.assertEqual(config.policy_name, "customer-support")
                self.assertEqual(config.policy_version, "1.2.0")

    def test_non_ascii_names_come_back_intact(self) -> None:
        doc = json.loads(policy())
        doc["policy_name"] = "Kundendienst Zürich ☎"
        with quorvel.Config.from_json(json.dumps(doc, ensure_ascii=True)) as config:
            self.assertEqual(config.policy_name, "Kundendienst Zürich ☎")

    def test_explicitly_inactive_policy(self) -> None:
        doc = json.loads(policy())
        doc["active"] = False
        with quorvel.Config.from_json(json.dumps(doc)) as config:
            self.assertFalse(config.active)

    def test_rejected_documents_raise_value_error(self) -> None:
        def edited(**changes: object) -> str:
            doc = json.loads(policy())
            doc.update(changes)
            return json.dumps(doc)

        bad_pattern = policy(patterns=[{"name": "X", "pattern": "(unclosed"}])
        cases = {
            "empty": "",
            "not json": "policy please",
            "two values": policy() + " {}",
            "invalid utf-8": b'{"policy_name":"\xff"}',
            "schema 2.0": edited(schema_version="2.0"),
            "empty name": edited(policy_name=""),
            "empty version": edited(policy_version=""),
            "pattern that does not compile": bad_pattern,
        }
        for label, text in cases.items():
            with self.subTest(label), self.assertRaises(ValueError):
                quorvel.Config.from_json(text)

    def test_wrong_argument_type_raises_type_error(self) -> None:
        for value in (None, 42, {"policy_name": "x"}):
            with self.subTest(value=value), self.assertRaises(TypeError):
                quorvel.Config.from_json(value)  # type: ignore[arg-type]

    def test_closed_config_refuses_use_and_closes_once(self) -> None:
        config = quorvel.Config.from_json(policy())
        config.close()
        config.close()
        self.assertTrue(config.closed)
        for use in (lambda: config.active, lambda: config.policy_name, lambda: quorvel.Enforcer(config, "s")):
            with self.assertRaisesRegex(ValueError, "closed"):
                use()
        self.assertIn("closed", repr(config))

    def test_enforcer_outlives_its_closed_config(self) -> None:
        with quorvel.Config.from_json(policy()) as config:
            enforcer = quorvel.Enforcer(config, "outlives")
        self.assertTrue(config.closed)
        with enforcer:
            self.assertEqual(enforcer.encode({"a": 1})["policy_name"], "bindings-test")

    def test_garbage_collection_releases_the_handle(self) -> None:
        config = quorvel.Config.from_json(policy())
        finalizer = config._handle._finalizer
        self.assertTrue(finalizer.alive)
        del config
        gc.collect()
        self.assertFalse(finalizer.alive)


class HandleTest(unittest.TestCase):
    """The release rule shared by configs and enforcers, with a recording drop."""

    class Owner:
        pass

    def make(self) -> tuple[_Handle, list[object], object]:
        dropped: list[object] = []
        owner = self.Owner()
        return _Handle(owner, "ptr", dropped.append), dropped, owner

    def test_close_waits_for_calls_in_flight(self) -> None:
        handle, dropped, _owner = self.make()
        self.assertEqual(handle.acquire("h"), "ptr")
        self.assertEqual(handle.acquire("h"), "ptr")
        handle.close()
        self.assertEqual(dropped, [])
        with self.assertRaises(ValueError):
            handle.acquire("h")
        handle.release()
        self.assertEqual(dropped, [])
        handle.release()
        self.assertEqual(dropped, ["ptr"])

    def test_idle_close_drops_at_once_and_only_once(self) -> None:
        handle, dropped, owner = self.make()
        handle.acquire("h")
        handle.release()
        self.assertEqual(dropped, [])
        handle.close()
        handle.close()
        del owner
        gc.collect()
        self.assertEqual(dropped, ["ptr"])

    def test_collection_without_close_drops(self) -> None:
        handle, dropped, owner = self.make()
        del owner
        gc.collect()
        self.assertEqual(dropped, ["ptr"])
        handle.close()
        self.assertEqual(dropped, ["ptr"])


if __name__ == "__main__":
    unittest.main()
