"""Runs one entry point over the benchmark block once, for a profiler.

    PYTHONHASHSEED=0 valgrind --tool=callgrind .venv/bin/python bench/profile_block.py parse_logs

Instruction counts (callgrind) are repeatable where wall times are not: the
block is generated from a fixed seed (and PYTHONHASHSEED should be fixed too),
so two builds can be compared line for line. The case names:

  parse_logs        EventDecoder.parse_logs over the block in batches
  parse_logs_arrow  EventDecoder.parse_logs_arrow over the same batches
  none              everything but the calls: subtract its count from the
                    others' to get what the calls cost (the extension's
                    symbols are stripped, so callgrind cannot single them out)
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench_parse_logs import build_idl, generate_lines  # noqa: E402


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("case", choices=("parse_logs", "parse_logs_arrow", "none"))
    ap.add_argument("--lines", type=int, default=20_000)
    ap.add_argument("--batch", type=int, default=300)
    ap.add_argument("--rng", type=int, default=20260110)
    args = ap.parse_args(argv)

    from varkel import EventDecoder

    idl, weights, _ = build_idl()
    lines, _, _ = generate_lines(idl, weights, args.lines, args.rng)
    batches = [lines[i:i + args.batch] for i in range(0, len(lines), args.batch)]
    decoder = EventDecoder(json.dumps(idl))
    if args.case != "none":
        call = getattr(decoder, args.case)
        for batch in batches:
            call(batch)
    print(f"{args.case}: {len(lines)} lines in {len(batches)} batches", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
