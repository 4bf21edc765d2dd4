"""Lines to pyarrow tables against parse_logs, on real pump trades.

The block is made of the trade transactions of examples/pump-legacy/trades.log
(mainnet logs: each top-level invocation of the pump program that logged a
TradeEvent, with its inner token transfer), repeated until the block has
--lines lines, and cut into batches of --batch lines. Untimed, it checks that
every table holds as many rows as parse_logs gives events of its name. Then it
times parse_logs and parse_logs_arrow followed by pyarrow.table() of every
table, with keys as base58 text and as 32-byte binary, with the cyclic garbage
collector on (as a program runs it) and off.
"""

from __future__ import annotations

import argparse
import gc
import os
import platform
import sys
from pathlib import Path

import varkel
from timing import best_time
import columnar

def run_batches(work, batches):
    """Calls work(batch) for every batch, each result dropped before the next call."""
    def run():
        for batch in batches:
            work(batch)
    return run


EXAMPLE = Path(__file__).resolve().parent.parent / "examples" / "pump-legacy"


def trade_invocations(lines: list[str]) -> list[list[str]]:
    """The top-level invocations in `lines` that logged an event and no Create."""
    out, current, depth = [], [], 0
    for line in lines:
        words = line.split(" ")
        if words[0] == "Program" and len(words) >= 3 and words[2] == "invoke":
            depth += 1
        current.append(line)
        if words[0] == "Program" and len(words) >= 3 and words[2] in ("success", "failed:"):
            depth -= 1
            if depth == 0:
                if any(x.startswith("Program data: ") for x in current) and "Program log: Instruction: Create" not in current:
                    out.append(current)
                current = []
    return out


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--lines", type=int, default=1_000_000, help="log lines in the block (default 1000000)")
    ap.add_argument("--batch", type=int, default=100_000, help="lines per batch (default 100000)")
    ap.add_argument("--repeat", type=int, default=5, help="repetitions per measurement, best is kept (default 5)")
    args = ap.parse_args(argv)
    pa = columnar.load_pyarrow()
    if pa is None:
        print("bench_pump_trades: needs pyarrow (pip install --only-binary=:all: pyarrow)")
        return 1
    decoder = varkel.EventDecoder((EXAMPLE / "idl.json").read_text())
    trades = trade_invocations((EXAMPLE / "trades.log").read_text().splitlines())
    unit = [line for t in trades for line in t]
    lines = (unit * (args.lines // len(unit) + 1))[:args.lines]
    batches = [lines[i:i + args.batch] for i in range(0, len(lines), args.batch)]
    problem = columnar.check(decoder, batches[0], pa)
    if problem:
        print(f"bench_pump_trades: {problem}")
        return 1
    events = sum(len(decoder.parse_logs(b)) for b in batches)
    gil = getattr(sys, "_is_gil_enabled", None)
    print(f"pump trades: {len(lines)} lines ({len(trades)} real trade invocations repeated), {events} events, "
          f"batches of {args.batch}")
    print(f"  Python {platform.python_version()}, GIL disabled: {gil() is False if gil else 'no'}, "
          f"cores: {os.cpu_count()} (load {os.getloadavg()[0]:.1f}), best of {args.repeat}")
    print(f"{'case':<28}{'gc':>4}{'events/s':>14}{'vs parse_logs':>16}")
    cases = (("parse_logs", decoder.parse_logs),
             ("arrow -> pa.Table, base58", columnar.to_tables(decoder, pa)),
             ("arrow -> pa.Table, binary", columnar.to_tables(decoder, pa, "binary")))
    for collector in ("on", "off"):
        gc.collect()
        (gc.enable if collector == "on" else gc.disable)()
        # The cases take turns, so that a slow spell of the machine does not
        # fall on one case alone; the best time of each is kept.
        best = [float("inf")] * len(cases)
        for _ in range(args.repeat):
            for i, (_, work) in enumerate(cases):
                best[i] = min(best[i], best_time(run_batches(work, batches), 1))
        for (label, _), t in zip(cases, best):
            print(f"{label:<28}{collector:>4}{events / t:>14,.0f}{best[0] / t:>15.2f}x")
    gc.enable()
    return 0


if __name__ == "__main__":
    sys.exit(main())
