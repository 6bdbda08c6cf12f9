"""Config and Enforcer: the policy handle and the per-conversation object."""

from __future__ import annotations

import json
import threading
import weakref
from typing import Any, Callable, TypedDict, Union

from . import _native
from ._native import lib

JsonText = Union[str, bytes, bytearray, memoryview]

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


class EncodeEnvelope(TypedDict):
    """What :meth:`Enforcer.encode` returns."""

    payload: Any
    signature_injection_text: str
    rules_applied_count: int
    rule_names: list[str]
    policy_name: str


class DecodeEnvelope(TypedDict):
    """What :meth:`Enforcer.decode` returns."""

    payload: Any
    rules_applied_count: int
    rule_names: list[str]
    policy_name: str


class _Handle:
    """A native pointer whose release runs exactly once.

    The library forbids dropping a handle while another thread still uses it,
    so ``close()`` only marks the handle; the release then happens when the
    last call in flight returns. Garbage collection releases it too (through
    ``weakref.finalize``), which can only happen once nobody holds the owner.
    """

    __slots__ = ("_ptr", "_lock", "_users", "_closed", "_finalizer")

    def __init__(self, owner: object, ptr: Any, drop: Callable[[Any], None]) -> None:
        self._ptr = ptr
        self._lock = threading.Lock()
        self._users = 0
        self._closed = False
        self._finalizer = weakref.finalize(owner, drop, ptr)

    def acquire(self, what: str) -> Any:
        with self._lock:
            if self._closed:
                raise ValueError(f"{what} is closed")
            self._users += 1
            return self._ptr

    def release(self) -> None:
        with self._lock:
            self._users -= 1
            last = self._closed and self._users == 0
        if last:
            self._finalizer()

    def close(self) -> None:
        with self._lock:
            if self._closed:
                return
            self._closed = True
            idle = self._users == 0
        if idle:
            self._finalizer()

    @property
    def closed(self) -> bool:
        return self._closed


def _to_bytes(text: JsonText, what: str) -> bytes:
    if isinstance(text, str):
        return text.encode("utf-8")
    if isinstance(text, (bytes, bytearray, memoryview)):
        return bytes(text)
    raise TypeError(f"{what} must be str or bytes, not {type(text).__name__}")


def _payload_bytes(payload: Any) -> bytes:
    if isinstance(payload, (str, bytes, bytearray, memoryview)):
        return _to_bytes(payload, "payload")
    # NaN and infinities are not JSON; refuse them here rather than send them.
    return json.dumps(payload, ensure_ascii=False, allow_nan=False).encode("utf-8")


class Config:
    """A policy, shared by the enforcers created from it.

    Build one with :meth:`from_json` or :meth:`default`. The enforcers keep
    their own reference to the policy, so a config may be closed as soon as
    its enforcers exist. Usable as a context manager; also released when
    garbage-collected.
    """

    __slots__ = ("_handle", "__weakref__")

    def __init__(self, _ptr: Any) -> None:
        if not _ptr:
            raise ValueError("policy rejected")
        self._handle = _Handle(self, _ptr, lib.quorvel_config_drop)

    @classmethod
    def from_json(cls, text: JsonText) -> "Config":
        """Reads a policy document.

        Raises ValueError when the text is not one JSON value in UTF-8 or the
        policy fails validation (the library gives no reason).
        """
        data = _to_bytes(text, "policy")
        return cls(lib.quorvel_config_from_json(data, len(data)))

    @classmethod
    def default(cls) -> "Config":
        """The default policy: inactive, named "default", version "0.0.0"."""
        return cls(lib.quorvel_config_default())

    def _query(self, fn: Callable[[Any], Any]) -> Any:
        ptr = self._handle.acquire("config")
        try:
            return fn(ptr)
        finally:
            self._handle.release()

    @property
    def active(self) -> bool:
        """The policy's master switch."""
        return bool(self._query(lib.quorvel_config_active))

    @property
    def policy_name(self) -> str:
        name = _native.take_string(self._query(lib.quorvel_config_policy_name))
        assert name is not None
        return name

    @property
    def policy_version(self) -> str:
        version = _native.take_string(self._query(lib.quorvel_config_policy_version))
        assert version is not None
        return version

    @property
    def closed(self) -> bool:
        return self._handle.closed

    def close(self) -> None:
        """Releases the handle (after calls in flight on it have returned)."""
        self._handle.close()

    def __enter__(self) -> "Config":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        if self.closed:
            return "<quorvel.Config closed>"
        return f"<quorvel.Config {self.policy_name!r} {self.policy_version!r} active={self.active}>"


class Enforcer:
    """The per-conversation object that encodes and decodes payloads.

    Enforcers created for the same session id share one token vault for the
    life of the process, so a later enforcer restores tokens an earlier one
    issued. Safe to call from several threads at once. Usable as a context
    manager; also released when garbage-collected. Closing an enforcer does
    not end its session.
    """

    __slots__ = ("_handle", "_session_id", "__weakref__")

    def __init__(self, config: Config, session_id: Union[str, bytes] = "") -> None:
        sid = _to_bytes(session_id, "session_id")
        ptr = config._handle.acquire("config")
        try:
            enforcer = lib.quorvel_enforcer_create(ptr, sid, len(sid))
        finally:
            config._handle.release()
        if not enforcer:
            raise RuntimeError("quorvel_enforcer_create failed")
        self._handle = _Handle(self, enforcer, lib.quorvel_enforcer_drop)
        self._session_id = session_id

    @property
    def session_id(self) -> Union[str, bytes]:
        return self._session_id

    def _call(self, fn: Callable[..., Any], payload: Any, flag: int) -> Any:
        data = _payload_bytes(payload)
        ptr = self._handle.acquire("enforcer")
        try:
            text = _native.take_string(fn(ptr, data, len(data), flag))
        finally:
            self._handle.release()
        if text is None:
            raise ValueError("payload rejected: not exactly one JSON value in UTF-8")
        return json.loads(text)

    def encode(self, payload: Any, with_signature: bool = False) -> EncodeEnvelope:
        """Masks and tokenizes a payload on its way to the model.

        ``payload`` is a JSON text (str or bytes) or any other value, which is
        serialized first; to send a plain string, pass ``json.dumps(s)``.
        With ``with_signature`` every token of the call carries a three-digit
        signature and, when anything was applied, the envelope's
        ``signature_injection_text`` holds a rule for the system prompt.
        Raises ValueError for a payload that is not one JSON value.
        """
        return self._call(lib.quorvel_encode, payload, 1 if with_signature else 0)

    def decode(self, payload: Any, mode: int = 0) -> DecodeEnvelope:
        """Restores the tokens this session knows in a payload from the model.

        ``payload`` is taken as in :meth:`encode`. ``mode`` 1 restores signed
        tokens as well; any other value restores unsigned tokens only.
        """
        if not isinstance(mode, int):
            raise TypeError("mode must be an int")
        if not _INT32_MIN <= mode <= _INT32_MAX:
            raise ValueError("mode must fit in 32 bits")
        return self._call(lib.quorvel_decode, payload, mode)

    @property
    def closed(self) -> bool:
        return self._handle.closed

    def close(self) -> None:
        """Releases the enforcer (after calls in flight on it have returned)."""
        self._handle.close()

    def __enter__(self) -> "Enforcer":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = " closed" if self.closed else ""
        return f"<quorvel.Enforcer session={self._session_id!r}{state}>"
