"""Policies, sessions and token helpers shared by the binding's tests."""

from __future__ import annotations

import json
import re
import uuid
from typing import Any

import quorvel

PATTERNS = [
    {"name": "EMAIL", "pattern": "[a-z.]+@[a-z]+\\.com"},
    {"name": "PHONE", "pattern": "\\b555-[0-9]{4}\\b"},
]

TOKEN = re.compile(r"<([A-Z0-9_]+):([0-9a-f]{8})(-[0-9]{3})?>")


def policy(patterns: Any = PATTERNS, mapping_rules: Any = (), *, mapping: bool = True) -> str:
    """An active policy document with the given patterns and mapping rules."""
    return json.dumps(
        {
            "schema_version": "1.0",
            "policy_name": "bindings-test",
            "policy_version": "3.1.4",
            "quorvel_policy": {
                "masking": True,
                "mapping": mapping,
                "masking_rules": [],
                "mapping_rules": list(mapping_rules),
                "pii_config": {"backend": {"type": "regex", "patterns": list(patterns)}},
            },
        }
    )


def fresh_session() -> str:
    """A session id no other test uses, so each test starts with an empty vault."""
    return f"py-{uuid.uuid4()}"


def enforcer(document: str | None = None) -> quorvel.Enforcer:
    with quorvel.Config.from_json(document or policy()) as config:
        return quorvel.Enforcer(config, fresh_session())


def tokens_in(value: Any) -> list[str]:
    """Every token text in a payload, in the order of its JSON text."""
    return [m.group(0) for m in TOKEN.finditer(json.dumps(value, ensure_ascii=False))]
