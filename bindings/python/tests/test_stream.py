"""Streaming decode: what is held back, and that chunking never changes the
restored text."""

from __future__ import annotations

import json
import random
import unittest

import quorvel
from quorvel._stream import held_tail_start

from .support import TOKEN, enforcer


def stream(decoder: quorvel.StreamDecoder, chunks: list[str]) -> str:
    return "".join(decoder.feed(c) for c in chunks) + decoder.finish()


class HeldTailTest(unittest.TestCase):
    def test_shortest_tail_that_could_become_a_token(self) -> None:
        # (text, signed, start of the held tail)
        cases = [
            ("", False, 0),
            ("plain text", False, 10),
            ("a <", False, 2),
            ("a <P", False, 2),
            ("a <PERSON_2", False, 2),
            ("a <PERSON:", False, 2),
            ("a <PERSON:0a1B2c3", False, 2),
            ("a <PERSON:0a1B2c3d", False, 2),
            ("a <PERSON:0a1B2c3d>", False, 19),
            ("a <PERSON:0a1B2c3d-", False, 19),
            ("a <PERSON:0a1B2c3d-", True, 2),
            ("a <PERSON:0a1B2c3d-41", True, 2),
            ("a <PERSON:0a1B2c3d-417", True, 2),
            ("a <PERSON:0a1B2c3d-417>", True, 23),
            ("a <PERSON:0a1B2c3d-4170", True, 23),
            ("a <PERSON:0a1B2c3d-4x", True, 21),
            ("a <PERSON:0a1B2c3d0", False, 19),
            ("a <PERSON:0a1g", False, 14),
            ("a <person", False, 9),
            ("a <PER SON", False, 10),
            ("a <:", False, 4),
            ("a <PERSON::", False, 11),
            ("<<", False, 1),
            ("<A<B:1", False, 2),
            ("<A:1<", True, 4),
            ("a <PÉRSON", False, 9),
            ("a <PERSON:٠", False, 11),  # an Arabic-Indic digit is no hex digit
        ]
        for text, signed, start in cases:
            with self.subTest(text=text, signed=signed):
                self.assertEqual(held_tail_start(text, signed), start)


class StreamDecoderTest(unittest.TestCase):
    def setUp(self) -> None:
        self.enforcer = enforcer()
        self.addCleanup(self.enforcer.close)

    def test_what_each_feed_releases(self) -> None:
        # No token here is known to the session, so the text comes back as
        # sent; only where it is cut differs.
        cases = [
            (["Hi <PER", "SON:0a1b2c3d> bye"], 0, ["Hi ", "<PERSON:0a1b2c3d> bye"]),
            (["Hi <per", "son"], 0, ["Hi <per", "son"]),
            (["a <B:0123", "4567", ">"], 0, ["a ", "", "<B:01234567>"]),
            (["a <B:01234567-", "123>"], 0, ["a <B:01234567-", "123>"]),
            (["a <B:01234567-", "123>"], 1, ["a ", "<B:01234567-123>"]),
            (["a <B:01234567-12", "34"], 1, ["a ", "<B:01234567-1234"]),
            (["<B:012345678"], 0, ["<B:012345678"]),
            (["0a1b", "2c3d"], 0, ["", ""]),
            (["0a1b2c3d", "9"], 0, ["", "0a1b2c3d9"]),
            (["0a1b2c3d", "<"], 0, ["", "0a1b2c3d"]),
            (["x", "0a1b2c3d"], 0, ["x", "0a1b2c3d"]),
            (["0a1b2c3", "g"], 0, ["", "0a1b2c3g"]),
            (["<B:", ":"], 0, ["", "<B::"]),
            (["<<"], 0, ["<"]),
            (["a<B:01234567>b<", ""], 0, ["a<B:01234567>b", ""]),
            (["", "", "x"], 0, ["", "", "x"]),
        ]
        for chunks, mode, released in cases:
            with self.subTest(chunks=chunks, mode=mode):
                decoder = quorvel.StreamDecoder(self.enforcer, mode)
                self.assertEqual([decoder.feed(c) for c in chunks], released)
                self.assertEqual("".join(released) + decoder.finish(), "".join(chunks))

    def test_feed_after_finish_is_refused_and_finish_is_final(self) -> None:
        decoder = quorvel.StreamDecoder(self.enforcer)
        self.assertEqual(decoder.feed("ab <X"), "ab ")
        self.assertEqual(decoder.finish(), "<X")
        self.assertEqual(decoder.finish(), "")
        with self.assertRaises(ValueError):
            decoder.feed("more")
        with self.assertRaises(TypeError):
            quorvel.StreamDecoder(self.enforcer).feed(b"bytes")  # type: ignore[arg-type]


class ChunkingInvarianceTest(unittest.TestCase):
    """Any chunking of a reply restores to what decoding it whole gives."""

    @classmethod
    def setUpClass(cls) -> None:
        cls.enforcer = enforcer()
        plain = cls.enforcer.encode({"a": "ada@math.com", "b": "555-0100"})["payload"]
        signed = cls.enforcer.encode({"a": "bob@math.com"}, with_signature=True)["payload"]
        u1, u2 = plain["a"], plain["b"]
        s1 = signed["a"]
        m = TOKEN.fullmatch(s1)
        assert m and m.group(3) and TOKEN.fullmatch(u1) and TOKEN.fullmatch(u2)
        s1u = f"<{m.group(1)}:{m.group(2)}>"
        v = TOKEN.fullmatch(u1).group(2)  # type: ignore[union-attr]
        unknown = "<EMAIL:ffffffff>"
        # (label, reply, modes in which decoding it whole changes it)
        all_modes, signed_only, never = {0, 1, 2}, {1}, set()
        cls.replies = [
            ("unsigned tokens in prose", f"Hello {u1}, your phone {u2} is on file.", all_modes),
            ("signed token and its unsigned form", f"{s1} then {s1u} and {s1} again", all_modes),
            ("signed token alone", f"mail {s1}!", signed_only),
            ("adjacent tokens", f"{u1}{u1}{u2}{s1}", all_modes),
            ("tokens in brackets", f"<{u1}> <<{u2}>>", all_modes),
            ("unknown tokens", f"{unknown} and {unknown[:-1]}-123>", never),
            ("lower-case type", f"<email:{v}>", never),
            ("upper-case value", f"<EMAIL:{v.upper()}>", never),
            ("seven hex digits", f"<EMAIL:{v[:7]}>", never),
            ("nine hex digits", f"<EMAIL:{v}0>", never),
            ("two-digit signature", f"{s1[:-2]}>", never),
            ("four-digit signature", f"{s1[:-1]}4>", never),
            ("double colon", f"<EMAIL::{v}>", never),
            ("token in an unfinished one", f"<EMAIL:{u1}", all_modes),
            ("dangling starts", "a < b <A <B:1 <C:0a1b2c3d- end <", never),
            ("bare value", v, all_modes),
            ("bare value upper-case", v.upper(), never),
            ("bare value then space", v + " ", never),
            ("space then bare value", " " + v, never),
            ("bare value then <", v + "<", never),
            ("bare value then a token", v + u1, all_modes),
            ("nine hex digits alone", v + "0", never),
            ("seven hex digits alone", v[:7], never),
            ("unknown bare value", "ffffffff", never),
            ("empty reply", "", never),
            ("escapes and non-ASCII", f'Grüße 😀 "{u1}"\\n\t\u0000{s1}\u2028', all_modes),
            (
                "everything",
                f"{v} {u1}<{s1}{unknown}<email:{v}>{s1[:-1]}4><EMAIL:{v}0>{u2} ok <EMAIL:{v[:5]}",
                all_modes,
            ),
        ]
        cls.modes = (0, 1, 2)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.enforcer.close()

    def whole(self, reply: str, mode: int) -> str:
        return self.enforcer.decode(json.dumps(reply), mode)["payload"]

    def test_the_replies_exercise_restoration(self) -> None:
        for label, reply, restoring_modes in self.replies:
            for mode in self.modes:
                with self.subTest(label, mode=mode):
                    self.assertEqual(self.whole(reply, mode) != reply, mode in restoring_modes)

    def test_every_split_in_two(self) -> None:
        for label, reply, _ in self.replies:
            for mode in self.modes:
                expected = self.whole(reply, mode)
                for i in range(len(reply) + 1):
                    with self.subTest(label, mode=mode, split=i):
                        decoder = quorvel.StreamDecoder(self.enforcer, mode)
                        self.assertEqual(stream(decoder, [reply[:i], reply[i:]]), expected)

    def test_random_chunkings(self) -> None:
        rng = random.Random(20240611)
        for label, reply, _ in self.replies:
            for mode in self.modes:
                expected = self.whole(reply, mode)
                for _ in range(15):
                    cuts = sorted(rng.randint(0, len(reply)) for _ in range(rng.randint(1, 8)))
                    chunks = [reply[a:b] for a, b in zip([0] + cuts, cuts + [len(reply)])]
                    with self.subTest(label, mode=mode, chunks=chunks):
                        decoder = quorvel.StreamDecoder(self.enforcer, mode)
                        self.assertEqual(stream(decoder, chunks), expected)

    def test_one_character_at_a_time_releases_before_the_end(self) -> None:
        # Streaming must not degrade into holding everything until finish.
        label, reply, _ = self.replies[0]
        decoder = quorvel.StreamDecoder(self.enforcer)
        released = "".join(decoder.feed(ch) for ch in reply)
        self.assertEqual(released + decoder.finish(), self.whole(reply, 0))
        self.assertEqual(released, self.whole(reply, 0))


if __name__ == "__main__":
    unittest.main()
