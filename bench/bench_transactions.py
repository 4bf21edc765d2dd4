#!/usr/bin/env python3
"""Throughput of decode_transaction, decode_instructions, decode and decode_logs on real transactions.

Builds a block of real getTransaction results (the fixtures in
../shared/fixtures/logs/, or without them the bundled examples) that carry
events of several programs (the OKX router, pump_amm, the Raydium CLMM, pump),
and measures in this process, over the same transactions:

* varkel.decode_transaction (events only), varkel.decode_instructions
  (instructions only) and varkel.decode (both, and why a transaction failed,
  in one pass) with all decoders, from JSON text and from the dict that
  json.loads gives;
* the same once per program (one decoder per call), as an indexer that cannot
  pass several programs does;
* varkel.decode_logs over each transaction's log lines, one pass;
* EventDecoder.parse_logs over the same lines, once per program (the
  baseline: events found by discriminator only, no attribution);
* parse_logs over the event lines alone: the cost of decoding the events
  themselves, so that what attribution adds shows as the difference;
* json.loads of the text, the cost a dict has already paid.

It first checks, untimed, that every decoder finds the same events in every
form. Nothing here asserts anything about timing. Run it with the
free-threaded interpreter that has varkel installed:
``.venv/bin/python bench/bench_transactions.py``.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import random
import sys
from pathlib import Path
import columnar
from timing import best_time

REPO = Path(__file__).resolve().parents[1]
FIXTURES = Path(os.environ.get("VARKEL_FIXTURES", REPO.parent / "shared" / "fixtures"))

PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"

# (IDL file under FIXTURES/idl, address for a legacy IDL)
FIXTURE_IDLS = [
    ("current/okx-dex_solana.json", None),
    ("current/pump-fun-pump_amm-2026-01-10.json", None),
    ("current/raydium-amm_v3-clmm.json", None),
    ("legacy/pumpfun-legacy.json", PUMP),
]
# Transactions whose events those IDLs decode (the 2025 pump transaction needs
# the 2025 pump IDL, which shares its program with the legacy one: left out).
FIXTURE_TRANSACTIONS = [
    "agavesim-pump_amm-okx-route-tx-2zNeSn8c.json",      # json, OKX router + pump_amm at depth 2
    "agavesim-pump_amm-buy-tx-5bvyp1no.json",            # json, pump_amm
    "agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json",     # json, Raydium CLMM
    "pump_amm-sell-buy-tx-slot387020561.json",           # base64, pump_amm
    "chainstack-pump-buy-getTransaction-2024.json",      # jsonParsed, pump
    "chainstack-pump-create-getTransaction-2024.json",   # jsonParsed, pump
]
EXAMPLE_IDLS = [(REPO / "examples" / "pump-legacy" / "idl.json", None), (REPO / "examples" / "okx-dex" / "idl.json", None)]
EXAMPLE_TRANSACTIONS = REPO / "examples" / "pump-legacy" / "transactions.jsonl"


def load_inputs():
    """(IDL texts, transaction texts, where they come from)."""
    idls, texts = [], []
    if (FIXTURES / "logs").is_dir():
        for name, address in FIXTURE_IDLS:
            doc = json.loads((FIXTURES / "idl" / name).read_text())
            if address:
                doc.setdefault("metadata", {})["address"] = address
            idls.append(json.dumps(doc))
        for name in FIXTURE_TRANSACTIONS:
            texts.append(json.dumps(json.loads((FIXTURES / "logs" / name).read_text())))
        origin = f"{len(texts)} real transactions of {FIXTURES / 'logs'}, {len(idls)} programs"
    else:
        idls = [path.read_text() for path, _ in EXAMPLE_IDLS]
        texts = EXAMPLE_TRANSACTIONS.read_text().splitlines()
        origin = f"fixtures absent ({FIXTURES}); {len(texts)} bundled transactions, {len(idls)} programs"
    return idls, texts, origin


def logs_of(doc):
    result = doc["result"] if "jsonrpc" in doc else doc
    return result["meta"]["logMessages"]



def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--transactions", type=int, default=3000, help="transactions in the block (default 3000)")
    ap.add_argument("--repeat", type=int, default=5, help="repetitions per measurement, best is kept (default 5)")
    ap.add_argument("--case", help="run only this case (its label and passes, e.g. 'decode_logs/1 pass'), once, "
                                   "without the checks: for profilers such as callgrind")
    ap.add_argument("--quick", action="store_true", help="small sizes for a smoke run (300 transactions, 2 repetitions)")
    args = ap.parse_args(argv)
    if args.quick:
        args.transactions, args.repeat = min(args.transactions, 300), min(args.repeat, 2)

    try:
        import varkel
    except ImportError as exc:
        print(f"bench: varkel is not importable ({exc}); run scripts/setup.sh and use .venv/bin/python")
        return 2

    idls, texts, origin = load_inputs()
    decoders = [varkel.EventDecoder(t) for t in idls]
    rng = random.Random(20260110)
    block_texts = [rng.choice(texts) for _ in range(args.transactions)]
    block_dicts = [json.loads(t) for t in block_texts]
    block_logs = [logs_of(d) for d in block_dicts]
    event_lines = []  # the lines that carry the events decode_logs finds, per transaction
    for lines in block_logs:
        event_lines.append([lines[e.log_index] for e in varkel.decode_logs(lines, decoders)])

    n_tx = len(block_texts)
    if not args.case:
        # Correctness, once and untimed: every form and every pass finds the same events.
        one_pass = [varkel.decode_transaction(t, decoders) for t in block_texts]
        if [varkel.decode_transaction(d, decoders) for d in block_dicts] != one_pass:
            print("bench: decode_transaction differs between text and dict")
            return 1
        per_program = [[e for d in decoders for e in d.decode_transaction(t)] for t in block_texts]
        if [sorted(map(tuple, p), key=str) for p in per_program] != [sorted(map(tuple, p), key=str) for p in one_pass]:
            print("bench: one pass differs from one call per program")
            return 1
        n_events = sum(len(r) for r in one_pass)
        del one_pass, per_program
    else:
        n_events = 0
    n_lines = sum(len(lines) for lines in block_logs)
    n_logged = sum(len(r) for r in event_lines)
    parse_found = sum(len(d.parse_logs(lines)) for lines in block_logs for d in decoders)
    gc.collect()

    n_instructions = sum(len(varkel.decode_instructions(t, decoders)) for t in block_texts)
    cases = [
        ("decode_transaction text", "1 pass", n_events,
         lambda: [varkel.decode_transaction(t, decoders) for t in block_texts]),
        ("decode_transaction dict", "1 pass", n_events,
         lambda: [varkel.decode_transaction(d, decoders) for d in block_dicts]),
        ("decode_instructions text", "1 pass", n_instructions,
         lambda: [varkel.decode_instructions(t, decoders) for t in block_texts]),
        ("decode_instructions dict", "1 pass", n_instructions,
         lambda: [varkel.decode_instructions(d, decoders) for d in block_dicts]),
        ("decode text", "1 pass", n_events + n_instructions,
         lambda: [varkel.decode(t, decoders) for t in block_texts]),
        ("decode dict", "1 pass", n_events + n_instructions,
         lambda: [varkel.decode(d, decoders) for d in block_dicts]),
        ("decode_transaction text", "per program", n_events,
         lambda: [d.decode_transaction(t) for t in block_texts for d in decoders]),
        ("json.loads", "-", 0, lambda: [json.loads(t) for t in block_texts]),
    ]
    pa = columnar.load_pyarrow()
    if pa is not None:
        # The same transactions into Arrow tables, per batch of 1,000 (as the
        # command line writes Parquet), read by pyarrow.
        def tables(instructions, pubkey="base58"):
            def run():
                for i in range(0, n_tx, 1000):
                    for t in varkel.decode_tables(block_texts[i:i + 1000], decoders, pubkey=pubkey,
                                                  instructions=instructions).values():
                        pa.table(t)
            return run
        cases += [
            ("decode_tables events", "1 pass", n_events, tables(False)),
            ("decode_tables", "1 pass", n_events + n_instructions, tables(True)),
            ("decode_tables bytes keys", "1 pass", n_events + n_instructions, tables(True, "binary")),
        ]
    cases += [
        ("decode_logs", "1 pass", n_logged, lambda: [varkel.decode_logs(lines, decoders) for lines in block_logs]),
        ("parse_logs", "per program", parse_found,
         lambda: [d.parse_logs(lines) for lines in block_logs for d in decoders]),
        ("parse_logs event lines", "per program", n_logged,
         lambda: [d.parse_logs(lines) for lines in event_lines for d in decoders]),
    ]
    if args.case:
        chosen = [c for c in cases if f"{c[0]}/{c[1]}" == args.case]
        if not chosen:
            print("bench: cases are " + ", ".join(repr(f"{c[0]}/{c[1]}") for c in cases))
            return 2
        chosen[0][3]()
        return 0

    gil = getattr(sys, "_is_gil_enabled", None)
    print(f"varkel transaction benchmark: {n_tx} transactions, {n_lines} log lines, {n_events} events "
          f"({n_logged} of them logged), {n_instructions} instructions, {len(decoders)} programs")
    print(f"  {origin}")
    print(f"  Python {platform.python_version()} {sys.implementation.name}, "
          f"GIL disabled: {gil() is False if gil else 'no'}, cores: {os.cpu_count()} "
          f"(load {os.getloadavg()[0]:.1f}), best of {args.repeat}")
    print()
    times = {}
    for label, passes, events, fn in cases:
        times[(label, passes)] = (best_time(fn, args.repeat), events)
    parse_time = times[("parse_logs", "per program")][0]
    loads_time = times[("json.loads", "-")][0]
    head = ("case", "passes", "tx/s", "items/s", "ms", "note")
    print(f"{head[0]:<25} {head[1]:>11} {head[2]:>10} {head[3]:>11} {head[4]:>8}  {head[5]}")
    for (label, passes), (t, events) in times.items():
        note = f"{t / parse_time:.2f}x parse_logs time, {t / loads_time:.2f}x json.loads time"
        print(f"{label:<25} {passes:>11} {n_tx / t:>10,.0f} {(events / t if events else 0):>11,.0f} "
              f"{t * 1e3:>8.1f}  {note}")
    decode_logs_time = times[("decode_logs", "1 pass")][0]
    events_only = times[("parse_logs event lines", "per program")][0]
    print()
    print(f"Attribution from the lines: decode_logs takes {decode_logs_time / parse_time:.2f}x the time of parse_logs "
          f"over the same lines ({len(decoders)} passes); of its time, {1 - events_only / decode_logs_time:.0%} is "
          f"the line walk and attribution, the rest decoding the events (parse_logs of the event lines alone).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
