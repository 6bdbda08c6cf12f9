"""Encode and decode through an enforcer: payload forms, round trips,
signatures, sessions, errors and use from several threads."""

from __future__ import annotations

import json
import threading
import unittest
from concurrent.futures import ThreadPoolExecutor

import quorvel

from .support import TOKEN, enforcer, fresh_session, policy, tokens_in

CONVERSATION = {
    "messages": [
        {"role": "user", "content": "I am ada@math.com, call 555-0100 or 555-0199. Grüße 😀"},
        {"role": "assistant", "content": "Noted."},
    ],
    "tool_call": {"name": "lookup", "arguments": {"email": "ada@math.com", "n": 3, "ok": True, "x": None}},
}
ORIGINALS = ("ada@math.com", "555-0100", "555-0199")


class EncodeDecodeTest(unittest.TestCase):
    def setUp(self) -> None:
        self.enforcer = enforcer()
        self.addCleanup(self.enforcer.close)

    def test_round_trip_restores_the_payload_exactly(self) -> None:
        encoded = self.enforcer.encode(CONVERSATION)
        text = json.dumps(encoded["payload"], ensure_ascii=False)
        for original in ORIGINALS:
            self.assertNotIn(original, text)
        self.assertEqual(len(tokens_in(encoded["payload"])), 4)
        self.assertEqual(encoded["rules_applied_count"], 4)
        self.assertEqual(encoded["rule_names"], ["EMAIL", "PHONE"])
        self.assertEqual(encoded["signature_injection_text"], "")
        self.assertEqual(encoded["policy_name"], "bindings-test")

        decoded = self.enforcer.decode(encoded["payload"])
        self.assertEqual(decoded["payload"], CONVERSATION)
        self.assertEqual(decoded["rules_applied_count"], 4)
        self.assertEqual(set(decoded["rule_names"]), {"EMAIL", "PHONE"})

    def test_payload_forms(self) -> None:
        # A str or bytes is JSON text; every other value is serialized first.
        cases = [
            ("dict", {"k": "mail ada@math.com"}, {"k": "mail ada@math.com"}),
            ("list", ["ada@math.com", 1], ["ada@math.com", 1]),
            ("json text", '{"k":"ada@math.com"}', {"k": "ada@math.com"}),
            ("json bytes", b'["ada@math.com"]', ["ada@math.com"]),
            ("json bytearray", bytearray(b'"ada@math.com"'), "ada@math.com"),
            ("json string literal", json.dumps("é ada@math.com"), "é ada@math.com"),
            ("number", 2.5, 2.5),
            ("none", None, None),
            ("bool", True, True),
            ("tuple", ("555-0100",), ["555-0100"]),
        ]
        for label, payload, plain in cases:
            with self.subTest(label):
                encoded = self.enforcer.encode(payload)
                has_pii = "@" in json.dumps(plain) or "555-" in json.dumps(plain)
                self.assertEqual(bool(tokens_in(encoded["payload"])), has_pii, encoded)
                # The envelope's payload may itself be a str, which decode
                # would read as JSON text: hand it back serialized.
                back = self.enforcer.decode(json.dumps(encoded["payload"]))
                self.assertEqual(back["payload"], plain)

    def test_rejected_payloads(self) -> None:
        cases = {
            "empty": "",
            "bare word": "hello",
            "two values": "{} {}",
            "truncated": '{"a":',
            "invalid utf-8": b'"\xc3"',
            "lone surrogate": "\"\ud800\"",
            "nan value": float("nan"),
            "infinity in a list": [1, float("inf")],
        }
        for label, payload in cases.items():
            for call in (self.enforcer.encode, self.enforcer.decode):
                with self.subTest(label, call=call.__name__), self.assertRaises(ValueError):
                    call(payload)
        with self.assertRaises(TypeError):
            self.enforcer.encode({"a": object()})

    def test_signatures_and_modes(self) -> None:
        encoded = self.enforcer.encode({"t": "ada@math.com and 555-0100"}, with_signature=True)
        signed = [m for m in TOKEN.finditer(encoded["payload"]["t"])]
        self.assertEqual(len(signed), 2)
        self.assertTrue(all(m.group(3) for m in signed), encoded)
        self.assertEqual(len({m.group(3) for m in signed}), 1, "one signature per call")
        self.assertIn(signed[0].group(3)[1:], encoded["signature_injection_text"])

        reply = {"t": encoded["payload"]["t"], "unsigned": f"<{signed[0].group(1)}:{signed[0].group(2)}>"}
        for mode, expected_t, count in [
            (0, encoded["payload"]["t"], 1),
            (1, "ada@math.com and 555-0100", 3),
            (2, encoded["payload"]["t"], 1),
            (-1, encoded["payload"]["t"], 1),
        ]:
            with self.subTest(mode=mode):
                decoded = self.enforcer.decode(reply, mode)
                self.assertEqual(decoded["payload"], {"t": expected_t, "unsigned": "ada@math.com"})
                self.assertEqual(decoded["rules_applied_count"], count)

    def test_mode_must_be_a_32_bit_int(self) -> None:
        for mode, error in [(2**31, ValueError), (-(2**31) - 1, ValueError), ("1", TypeError), (1.0, TypeError)]:
            with self.subTest(mode=mode), self.assertRaises(error):
                self.enforcer.decode("{}", mode)  # type: ignore[arg-type]

    def test_mapping_rules_mask_for_good(self) -> None:
        rules = [{"source_field": "card", "pii_category": "CARD", "strategy": {"type": "redact"}}]
        with enforcer(policy(mapping_rules=rules)) as masked:
            encoded = masked.encode({"card": "4111 1111", "mail": "ada@math.com"})
            self.assertEqual(encoded["payload"]["card"], "[REDACTED]")
            decoded = masked.decode(encoded["payload"])
            self.assertEqual(decoded["payload"], {"card": "[REDACTED]", "mail": "ada@math.com"})

    def test_inactive_policy_passes_payloads_through(self) -> None:
        with quorvel.Config.default() as config, quorvel.Enforcer(config, fresh_session()) as passthrough:
            for call in (passthrough.encode, passthrough.decode):
                envelope = call(CONVERSATION)
                self.assertEqual(envelope["payload"], CONVERSATION)
                self.assertEqual(envelope["rules_applied_count"], 0)
                self.assertEqual(envelope["policy_name"], "default")

    def test_closed_enforcer_refuses_calls(self) -> None:
        self.enforcer.close()
        with self.assertRaisesRegex(ValueError, "closed"):
            self.enforcer.encode({})
        with self.assertRaisesRegex(ValueError, "closed"):
            self.enforcer.decode({})


class SessionTest(unittest.TestCase):
    def test_enforcers_of_one_session_share_tokens(self) -> None:
        session = fresh_session()
        with quorvel.Config.from_json(policy()) as config:
            with quorvel.Enforcer(config, session) as first:
                encoded = first.encode({"t": "ada@math.com"})
            cases = [
                ("same session, str id", session, "ada@math.com"),
                ("same session, bytes id", session.encode(), "ada@math.com"),
                ("other session", session + "x", encoded["payload"]["t"]),
                ("empty session", "", encoded["payload"]["t"]),
            ]
            for label, sid, expected in cases:
                with self.subTest(label), quorvel.Enforcer(config, sid) as later:
                    self.assertEqual(later.decode(encoded["payload"])["payload"]["t"], expected)
                    self.assertEqual(later.session_id, sid)


class ThreadsTest(unittest.TestCase):
    def test_concurrent_round_trips_on_one_enforcer(self) -> None:
        shared = enforcer()
        self.addCleanup(shared.close)

        def worker(n: int) -> list[bool]:
            results = []
            for i in range(150):
                payload = {"who": f"user{n}x{i}@math.com", "phone": f"555-{(n * 1000 + i) % 10000:04d}"}
                encoded = shared.encode(payload, with_signature=bool(i % 2))
                results.append(shared.decode(encoded["payload"], mode=1)["payload"] == payload)
            return results

        with ThreadPoolExecutor(max_workers=6) as pool:
            outcomes = [ok for batch in pool.map(worker, range(6)) for ok in batch]
        self.assertEqual(len(outcomes), 900)
        self.assertTrue(all(outcomes))

    def test_close_while_other_threads_call(self) -> None:
        # Closing must wait for calls in flight; each call either completes
        # or is refused as closed, and the process survives.
        victim = enforcer()
        start = threading.Barrier(5)
        outcomes: list[str] = []

        def worker() -> None:
            start.wait()
            while True:
                try:
                    encoded = victim.encode({"t": "ada@math.com"})
                    assert victim.decode(encoded["payload"])["payload"] == {"t": "ada@math.com"}
                    outcomes.append("ok")
                except ValueError as err:
                    self.assertIn("closed", str(err))
                    outcomes.append("closed")
                    return

        threads = [threading.Thread(target=worker) for _ in range(4)]
        for t in threads:
            t.start()
        start.wait()
        while "ok" not in outcomes:
            threading.Event().wait(0.001)
        victim.close()
        for t in threads:
            t.join()
        self.assertEqual(outcomes.count("closed"), 4)
        self.assertFalse(victim._handle._finalizer.alive)


if __name__ == "__main__":
    unittest.main()
