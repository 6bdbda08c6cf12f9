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
    parser.add_argument("--iterations", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=40)
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
            best_cpu = best_wall = float("inf")
            for r in range(args.rounds):
                # A session per round, as in the C program.
                with quorvel.Enforcer(config, f"bench-{label}-{r}") as enforcer:
                    cpu, wall = time.process_time(), time.perf_counter()
                    for _ in range(args.iterations):
                        enforcer.encode(sent)
                    best_cpu = min(best_cpu, (time.process_time() - cpu) / args.iterations * 1e6)
                    best_wall = min(best_wall, (time.perf_counter() - wall) / args.iterations * 1e6)
            print(
                f"{label}: {best_cpu:.2f} us per encode of a {size}-byte payload "
                f"(CPU time, best of {args.rounds} rounds of {args.iterations}; wall {best_wall:.2f} us)"
            )


if __name__ == "__main__":
    main()
