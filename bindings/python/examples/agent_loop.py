"""An agent loop: the model only ever sees tokens, the host and its tools see
the real values.

The model is a stand-in that echoes and rearranges the tokens it was given,
streams its reply in small chunks and asks for a tool call whose arguments
carry tokens. The host restores the streamed reply as it arrives and the tool
arguments before it runs the tool.

    QUORVEL_LIB=build/src/ffi/libquorvel_ffi.so python3 bindings/python/examples/agent_loop.py
"""

from __future__ import annotations

import json
import re
import sys
from pathlib import Path
from typing import Any, Iterator

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import quorvel  # noqa: E402

POLICY = {
    "schema_version": "1.0",
    "policy_name": "support-desk",
    "policy_version": "1.0.0",
    "quorvel_policy": {
        "masking": True,
        "mapping": True,
        "masking_rules": [],
        "mapping_rules": [],
        "pii_config": {
            "backend": {
                "type": "regex",
                "patterns": [
                    {"name": "EMAIL", "pattern": "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"},
                    {"name": "PHONE", "pattern": "\\(?\\b[0-9]{3}\\)?[-. ][0-9]{3}[-. ][0-9]{4}\\b"},
                ],
            }
        },
    },
}

USER_MESSAGE = "Hi, I'm Ada. Please confirm my order by mail to ada.lovelace@example.com, or call (555) 010-4477."
TOKEN = re.compile(r"<[A-Z0-9_]+:[0-9a-fA-F]{8}(?:-[0-9]{3})?>")


def fake_model(request: Any) -> tuple[Iterator[str], dict[str, Any]]:
    """Echoes the tokens it saw in another order, in chunks of seven
    characters, and asks to send a mail."""
    seen = TOKEN.findall(json.dumps(request["messages"]))
    email, phone = seen[0], seen[1]
    reply = f"Sure! I will call {phone} first; if nobody answers, a confirmation goes to {email}. ({email})"
    chunks = (reply[i : i + 7] for i in range(0, len(reply), 7))
    tool_call = {"name": "send_mail", "arguments": {"to": email, "body": f"Your order is confirmed. Call {phone}."}}
    return chunks, tool_call


def send_mail(to: str, body: str) -> str:
    return f"queued mail to {to} ({len(body)} characters)"


TOOLS = {"send_mail": send_mail}


def main() -> int:
    with quorvel.Config.from_json(json.dumps(POLICY)) as config:
        enforcer = quorvel.Enforcer(config, "agent-loop-example")
    with enforcer:
        outgoing = enforcer.encode({"messages": [{"role": "user", "content": USER_MESSAGE}]}, with_signature=True)
        request = {
            "system": "You are a support agent.\n" + outgoing["signature_injection_text"],
            "messages": outgoing["payload"]["messages"],
        }
        print("model sees:  ", request["messages"][0]["content"])

        chunks, tool_call = fake_model(request)
        # The signed tokens are restored in mode 1.
        decoder = quorvel.StreamDecoder(enforcer, mode=1)
        shown = []
        print("user sees:   ", end="")
        for chunk in chunks:
            piece = decoder.feed(chunk)
            shown.append(piece)
            print(piece, end="", flush=True)
        shown.append(decoder.finish())
        print(shown[-1])
        reply = "".join(shown)

        print("tool call:   ", json.dumps(tool_call["arguments"]))
        arguments = enforcer.decode(tool_call["arguments"], mode=1)["payload"]
        result = TOOLS[tool_call["name"]](**arguments)
        print(f"tool runs:    {tool_call['name']}(to={arguments['to']!r}, body={arguments['body']!r})")

        # The tool's result goes back to the model tokenized like any payload.
        back = enforcer.encode({"role": "tool", "content": result})
        print("model sees:  ", back["payload"]["content"])

    expected_reply = (
        "Sure! I will call (555) 010-4477 first; if nobody answers, a confirmation goes to "
        "ada.lovelace@example.com. (ada.lovelace@example.com)"
    )
    problems = []
    if reply != expected_reply:
        problems.append(f"reply not restored: {reply!r}")
    if arguments != {"to": "ada.lovelace@example.com", "body": "Your order is confirmed. Call (555) 010-4477."}:
        problems.append(f"tool arguments not restored: {arguments!r}")
    if "ada.lovelace@example.com" in json.dumps(back["payload"]):
        problems.append("the tool result reached the model unmasked")
    for problem in problems:
        print("FAILED:", problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
