"""Microseconds per encode of the 1 KiB payload through the Python binding.

    python3 bindings/python/bench_encode.py [--iterations N] [--rounds R]

Compare with bindings/bench/encode_bench.c for the cost of the C call alone.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import quorvel  # noqa: E402

REPO = HERE.parents[1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iterations", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--policy", default=str(REPO / "examples" / "support_policy.json"))
    parser.add_argument("--payload", default=str(REPO / "bindings" / "bench" / "payload_1k.json"))
    args = parser.parse_args()

    # Sent as JSON text, as the C program sends it, so the figure is the
    # binding's own cost and not that of json.dumps.
    payload = Path(args.payload).read_text(encoding="utf-8").rstrip("\r\n")
    value = json.loads(payload)
    size = len(payload.encode("utf-8"))
    with quorvel.Config.from_json(Path(args.policy).read_text(encoding="utf-8")) as config:
        for label, sent in (("python", payload), ("python, payload as a dict", value)):
            best = float("inf")
            for r in range(args.rounds):
                # A session per round, as in the C program.
                with quorvel.Enforcer(config, f"bench-{label}-{r}") as enforcer:
                    start = time.perf_counter()
                    for _ in range(args.iterations):
                        enforcer.encode(sent)
                    best = min(best, (time.perf_counter() - start) / args.iterations * 1e6)
            print(
                f"{label}: {best:.2f} us per encode of a {size}-byte payload "
                f"(best of {args.rounds} rounds of {args.iterations})"
            )


if __name__ == "__main__":
    main()
