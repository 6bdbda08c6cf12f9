"""Loading of libquorvel_ffi and the prototypes of its twelve functions."""

from __future__ import annotations

import ctypes
import os
from pathlib import Path
from typing import Optional

_LIB_NAME = "libquorvel_ffi.so"


class ConfigHandle(ctypes.Structure):
    """Opaque; only pointers to it cross the boundary."""


class EnforcerHandle(ctypes.Structure):
    """Opaque; only pointers to it cross the boundary."""


ConfigPtr = ctypes.POINTER(ConfigHandle)
EnforcerPtr = ctypes.POINTER(EnforcerHandle)


def _candidates() -> list[str]:
    explicit = os.environ.get("QUORVEL_LIB")
    if explicit:
        # An explicit choice is never second-guessed by a fallback.
        return [explicit]
    package_dir = Path(__file__).resolve().parent
    repo_root = package_dir.parents[2]
    return [
        str(package_dir / _LIB_NAME),
        str(repo_root / "build" / "src" / "ffi" / _LIB_NAME),
        _LIB_NAME,  # whatever the dynamic loader finds
    ]


def _load() -> ctypes.CDLL:
    errors = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            errors.append(f"{path}: no such file")
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as err:
            errors.append(str(err))
    raise OSError("cannot load libquorvel_ffi (set QUORVEL_LIB to its path): " + "; ".join(errors))


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    # Owned strings come back as c_void_p, not c_char_p: ctypes would copy a
    # c_char_p result and lose the pointer that quorvel_free needs.
    text = ctypes.c_char_p
    size = ctypes.c_size_t
    owned = ctypes.c_void_p
    table = {
        "quorvel_config_default": (ConfigPtr, []),
        "quorvel_config_from_json": (ConfigPtr, [text, size]),
        "quorvel_config_clone": (ConfigPtr, [ConfigPtr]),
        "quorvel_config_drop": (None, [ConfigPtr]),
        "quorvel_config_active": (ctypes.c_bool, [ConfigPtr]),
        "quorvel_config_policy_name": (owned, [ConfigPtr]),
        "quorvel_config_policy_version": (owned, [ConfigPtr]),
        "quorvel_enforcer_create": (EnforcerPtr, [ConfigPtr, text, size]),
        "quorvel_enforcer_drop": (None, [EnforcerPtr]),
        "quorvel_encode": (owned, [EnforcerPtr, text, size, ctypes.c_int32]),
        "quorvel_decode": (owned, [EnforcerPtr, text, size, ctypes.c_int32]),
        "quorvel_free": (None, [ctypes.c_void_p]),
    }
    for name, (restype, argtypes) in table.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


lib = _declare(_load())


def take_string(ptr: Optional[int]) -> Optional[str]:
    """Copies a string returned by the library and releases it; None for null."""
    if not ptr:
        return None
    try:
        return ctypes.string_at(ptr).decode("utf-8")
    finally:
        lib.quorvel_free(ptr)
