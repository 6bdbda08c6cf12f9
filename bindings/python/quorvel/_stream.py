"""Decoding of a model reply that arrives in chunks."""

from __future__ import annotations

import json
import re

from ._api import Enforcer

# What may follow a "<" that is still on its way to becoming a token, for
# unsigned tokens only and for both kinds. Neither admits a complete token:
# once its ">" has arrived there is nothing left to wait for.
_UNSIGNED_PREFIX = re.compile(r"[A-Z0-9_]*|[A-Z0-9_]+:[0-9a-fA-F]{0,8}")
_SIGNED_PREFIX = re.compile(r"[A-Z0-9_]*|[A-Z0-9_]+:[0-9a-fA-F]{0,8}|[A-Z0-9_]+:[0-9a-fA-F]{8}-[0-9]{0,3}")
# A reply that could still turn out to be exactly eight hex digits, which the
# library restores as a bare token value.
_BARE_PREFIX = re.compile(r"[0-9a-fA-F]{0,8}")


def held_tail_start(text: str, signed: bool) -> int:
    """Where the shortest tail of ``text`` that could still become a token starts.

    Returns ``len(text)`` when no tail needs holding. A token holds a single
    "<", so only the last one can start an unfinished token.
    """
    at = text.rfind("<")
    if at < 0:
        return len(text)
    grammar = _SIGNED_PREFIX if signed else _UNSIGNED_PREFIX
    return at if grammar.fullmatch(text, at + 1) else len(text)


class StreamDecoder:
    """Restores tokens in a reply that arrives in chunks.

    ``feed`` returns the text that is ready to show, with tokens restored; it
    holds back only a tail that could still become a token (and, while the
    whole reply so far is at most eight hex digits, all of it, because such a
    reply is looked up as a bare token value). ``finish`` returns the rest.
    The pieces joined equal what :meth:`Enforcer.decode` gives for the whole
    reply as one JSON string, as long as no restored value itself holds token
    text. One decoder per reply, fed from one thread at a time.
    """

    __slots__ = ("_enforcer", "_mode", "_signed", "_held", "_released", "_finished")

    def __init__(self, enforcer: Enforcer, mode: int = 0) -> None:
        self._enforcer = enforcer
        self._mode = mode
        # Signed tokens are restored only in mode 1; elsewhere a "-" after
        # the value ends every chance of a restorable token.
        self._signed = mode == 1
        self._held = ""
        self._released = False
        self._finished = False

    def feed(self, chunk: str) -> str:
        """Takes the next chunk and returns the text now ready to show."""
        if self._finished:
            raise ValueError("feed after finish")
        if not isinstance(chunk, str):
            raise TypeError(f"chunk must be str, not {type(chunk).__name__}")
        text = self._held + chunk
        if not self._released and _BARE_PREFIX.fullmatch(text):
            self._held = text
            return ""
        cut = held_tail_start(text, self._signed)
        self._held = text[cut:]
        if cut == 0:
            return ""
        self._released = True
        return self._restore_part(text[:cut])

    def finish(self) -> str:
        """Returns the rest of the reply; the decoder takes no more chunks."""
        if self._finished:
            return ""
        self._finished = True
        text, self._held = self._held, ""
        if not text:
            return ""
        if not self._released:
            return self._decode(text)  # the whole reply: the bare-value rule applies
        return self._restore_part(text)

    def _restore_part(self, part: str) -> str:
        # Part of a longer reply. Without a "<" it holds no token, and the
        # library must not see it alone: eight hex digits would be taken
        # for a bare value, which only a whole reply can be.
        if "<" not in part:
            return part
        return self._decode(part)

    def _decode(self, text: str) -> str:
        envelope = self._enforcer.decode(json.dumps(text, ensure_ascii=False), self._mode)
        restored = envelope["payload"]
        assert isinstance(restored, str)
        return restored
