#!/usr/bin/env python3
"""Throughput of EventDecoder.parse_logs on a block-sized batch of log lines.

Builds one IDL from events of real programs (plus one synthetic event that
carries every field shape a typical event uses), generates a seeded batch of
transaction log lines in which about one line in three carries an event, and
measures in this process:

* parse_logs, over transaction-sized batches and over one block-sized batch;
* a plain pure-Python decoder of the same events (the yardstick), after
  checking once that both decoders give exactly the generated values;
* marshal.loads rebuilding the same result objects (a floor for the cost of
  creating them);
* parse_logs on 1 and 2 threads sharing one decoder.

Nothing here asserts anything about timing. Run it with the free-threaded
interpreter that has varkel installed, e.g. ``.venv/bin/python bench/bench_parse_logs.py``.
"""

from __future__ import annotations

import argparse
import base64
import binascii
import copy
import gc
import json
import marshal
import os
import platform
import random
import struct
import sys
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
# Base58, the integer table, discriminators, the random value Sampler and the
# fixture folder (VARKEL_FIXTURES) come from the tests' support module.
sys.path.insert(0, str(REPO / "tests" / "support"))
from varkel_support import FIXTURES, INTS, Sampler, b58encode, event_discriminator  # noqa: E402

from collector import collector_table  # noqa: E402  (bench/ is on sys.path as the script's folder)
import columnar  # noqa: E402
from timing import best_time  # noqa: E402

IDL_DIR = FIXTURES / "idl" / "current"
EXAMPLE_IDL = REPO / "examples" / "okx-dex" / "idl.json"

# (IDL file, event, weight in the generated mix). Weights follow what a block
# of DEX traffic looks like: mostly swaps and trades, a few order events.
REAL_EVENTS = [
    ("pump-fun-pump_amm-2026-01-10.json", "BuyEvent", 3),
    ("pump-fun-pump_amm-2026-01-10.json", "SellEvent", 3),
    ("raydium-amm_v3-clmm.json", "SwapEvent", 3),
    ("okx-dex_solana.json", "SwapEvent", 2),
    ("jupiter-limit_order_2.json", "CreateOrderEvent", 1),
    ("jupiter-limit_order_2.json", "TradeEvent", 2),
]
FALLBACK_EVENTS = [  # examples/okx-dex/idl.json, when the fixtures are absent
    ("SwapEvent", 4),
    ("FillOrderEvent", 2),
    ("PlaceOrderEvent", 1),
]
SYNTHETIC_WEIGHT = 3

# An event with several keys, u64s, a bool, an i64 timestamp, a string, an
# option and a vec of structs. Real events rarely have all of these at once.
SYNTHETIC_TYPES = [
    {
        "name": "BenchRouteHop",
        "type": {
            "kind": "struct",
            "fields": [
                {"name": "pool", "type": "pubkey"},
                {"name": "amount_out", "type": "u64"},
                {"name": "fee_bps", "type": "u16"},
            ],
        },
    },
    {
        "name": "BenchSwapEvent",
        "type": {
            "kind": "struct",
            "fields": [
                {"name": "signer", "type": "pubkey"},
                {"name": "input_mint", "type": "pubkey"},
                {"name": "output_mint", "type": "pubkey"},
                {"name": "amount_in", "type": "u64"},
                {"name": "amount_out", "type": "u64"},
                {"name": "min_amount_out", "type": "u64"},
                {"name": "exact_in", "type": "bool"},
                {"name": "timestamp", "type": "i64"},
                {"name": "memo", "type": "string"},
                {"name": "referrer", "type": {"option": "pubkey"}},
                {"name": "route", "type": {"vec": {"defined": {"name": "BenchRouteHop"}}}},
            ],
        },
    },
]

SYSTEM_PROGRAM = bytes(32)
PROGRAM_IDS = [
    "pAMMBay6oceH9fJKBRHGP5D4bD4sWpmSwMn52FMfXEA",
    "CAMMCzo5YL8w4VFF8KVHrK22GGUsp5VTaW7grrKgrWqK",
    "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma",
    "j1o2qRpjcyUwEvwtcfhEQefh773ZgjxcVRry7LDqg5X",
]
INNER_PROGRAMS = [
    "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA",
    "TokenzQdBNbLqP5VEhdkAS6EPFLC1PHnBqCXEpPxuEb",
    "LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo",
]
INSTRUCTIONS = ["Swap", "SwapV2", "Buy", "Sell", "Route", "CommissionSplSwap2", "FillOrder"]
MEMOS = ["", "jup", "route:best", "bot-7f3a", "ünïcødé ✓", "x" * 40]
IX_NAMES = ["buy", "buy_exact_quote_in", "sell"]


# --------------------------------------------------------------------------
# The benchmark IDL: chosen events of real IDLs merged into one document.


def type_refs(t, out: set) -> None:
    """Collects the names of the defined types that a type expression uses."""
    if isinstance(t, dict):
        if "defined" in t:
            d = t["defined"]
            out.add(d if isinstance(d, str) else d["name"])
        for key in ("option", "vec", "array", "type", "fields", "variants", "alias"):
            if key in t:
                type_refs(t[key], out)
    elif isinstance(t, list):
        for item in t:
            type_refs(item, out)


def rename_refs(t, renames: dict):
    if isinstance(t, dict):
        t = {k: rename_refs(v, renames) for k, v in t.items()}
        d = t.get("defined")
        if isinstance(d, str) and d in renames:
            t["defined"] = renames[d]
        elif isinstance(d, dict) and d.get("name") in renames:
            t["defined"] = dict(d, name=renames[d["name"]])
        return t
    if isinstance(t, list):
        return [rename_refs(x, renames) for x in t]
    return t


def merge_events(sources) -> tuple[dict, dict]:
    """Builds one current-format IDL from (idl document, event name, weight, label).

    An event or type whose name is already taken by a different definition is
    renamed with the source program's name in front; a renamed event gets the
    discriminator of its new name so that every event stays distinguishable.
    """
    events, types, weights = [], {}, {}
    for doc, event, weight, label in sources:
        defs = {t["name"]: t for t in doc.get("types", [])}
        needed, todo = [], [event]
        while todo:
            name = todo.pop()
            if name in needed:
                continue
            needed.append(name)
            refs: set = set()
            type_refs(defs[name]["type"], refs)
            todo.extend(sorted(refs))
        renames = {}
        for name in needed:
            if name in types and types[name] != defs[name] or any(e["name"] == name for e in events):
                renames[name] = label + name
        for name in needed:
            t = rename_refs(copy.deepcopy(defs[name]), renames)
            t["name"] = renames.get(name, name)
            types.setdefault(t["name"], t)
        disc = next(e["discriminator"] for e in doc["events"] if e["name"] == event)
        new_name = renames.get(event, event)
        if new_name != event:
            disc = event_discriminator(new_name)
        events.append({"name": new_name, "discriminator": disc})
        weights[new_name] = weight
    idl = {
        "address": "Bench11111111111111111111111111111111111111",
        "metadata": {"name": "bench", "version": "0.1.0", "spec": "0.1.0"},
        "instructions": [],
        "events": events,
        "types": list(types.values()),
    }
    return idl, weights


def camel(name: str) -> str:
    return "".join(w[:1].upper() + w[1:] for w in name.replace("-", "_").split("_"))


def build_idl() -> tuple[dict, dict, str]:
    """The benchmark IDL, the weight of each event and where its events come from."""
    synthetic = {
        "events": [{"name": "BenchSwapEvent", "discriminator": event_discriminator("BenchSwapEvent")}],
        "types": SYNTHETIC_TYPES,
    }
    sources = []
    if IDL_DIR.is_dir():
        cache: dict = {}
        for file, event, weight in REAL_EVENTS:
            if file not in cache:
                cache[file] = json.loads((IDL_DIR / file).read_text())
            doc = cache[file]
            sources.append((doc, event, weight, camel(doc["metadata"]["name"])))
        origin = f"real events of {len(cache)} IDLs in {IDL_DIR}"
    elif EXAMPLE_IDL.is_file():
        doc = json.loads(EXAMPLE_IDL.read_text())
        for event, weight in FALLBACK_EVENTS:
            sources.append((doc, event, weight, camel(doc["metadata"]["name"])))
        origin = f"fixtures absent ({IDL_DIR}); real events of {EXAMPLE_IDL}"
    else:
        origin = "fixtures and example IDL absent; only"
    sources.append((synthetic, "BenchSwapEvent", SYNTHETIC_WEIGHT, "Bench"))
    idl, weights = merge_events(sources)
    return idl, weights, origin + (" 1 synthetic event" if origin.endswith("only") else " + 1 synthetic event")


# --------------------------------------------------------------------------
# Random values for a type expression, with their Borsh bytes: the tests'
# Sampler, drawing values that look like a block of DEX traffic.


class BlockSampler(Sampler):
    def __init__(self, idl: dict, rng: random.Random):
        super().__init__(idl["types"], rng, max_len=4, none_share=0.5)
        # Accounts repeat within a block (pools, mints, programs, busy wallets):
        # keys come from a pool, a few of them hot. Zero bytes in front give
        # leading "1"s in the text.
        pool = [rng.randbytes(32) for _ in range(4000)]
        pool += [bytes(32), bytes(31) + b"\x01", bytes(2) + rng.randbytes(30)]
        self.keys = [(raw, b58encode(raw)) for raw in pool]
        self.hot = self.keys[:50] + self.keys[-3:]

    def key(self) -> tuple[bytes, str]:
        rng = self.rng
        return rng.choice(self.hot if rng.random() < 0.3 else self.keys)

    def int_value(self, kind, field=""):
        """Timestamps near today for i64 fields named like one; otherwise values
        of every magnitude."""
        rng = self.rng
        width, signed = INTS[kind]
        bits = width * 8
        if kind == "i64" and ("time" in field or field.endswith("_at") or field.endswith("_ts")):
            return 1_767_000_000 + rng.randrange(10_000_000)
        if width > 8:
            raw = rng.getrandbits(rng.randint(1, bits)).to_bytes(width, "little")
            return int.from_bytes(raw, "little", signed=signed)
        if signed:
            half = 1 << (rng.randint(1, bits) - 1)
            return rng.randrange(-half, half)
        return rng.getrandbits(rng.randint(1, bits))

    def text_value(self, field=""):
        return self.rng.choice(IX_NAMES if field == "ix_name" else MEMOS)

    def bytes_value(self, field=""):
        rng = self.rng
        return rng.randbytes(rng.randrange(40))


def generate_lines(idl: dict, weights: dict, total: int, rng_seed: int):
    """Log lines of transactions, cut at `total`, with the expected records."""
    rng = random.Random(rng_seed)
    gen = BlockSampler(idl, rng)
    defs = gen.types
    events = [(e["name"], bytes(e["discriminator"])) for e in idl["events"]]
    names = [e[0] for e in events]
    cum = [weights[n] for n in names]
    foreign = [rng.randbytes(8) for _ in range(4)]  # events of programs not in the IDL
    lines: list[str] = []
    expected: list[tuple] = []

    def event_line():
        if rng.random() < 0.06:
            lines.append("Program data: " + base64.b64encode(rng.choice(foreign) + rng.randbytes(rng.randrange(40, 200))).decode())
            return
        name, disc = rng.choices(events, weights=cum)[0]
        try:
            value, data = gen.sample_fields(defs[name]["type"].get("fields"), 0)
        except ValueError as exc:  # a type the sampler does not know
            raise SystemExit(f"bench: {exc}") from None
        lines.append("Program data: " + base64.b64encode(disc + data).decode())
        expected.append((name, value))

    def invoke(program, depth, body):
        lines.append(f"Program {program} invoke [{depth}]")
        budget = rng.randrange(100_000, 1_400_000) // depth
        body()
        lines.append(f"Program {program} consumed {rng.randrange(2_000, budget // 2)} of {budget} compute units")
        lines.append(f"Program {program} success")

    while len(lines) < total:
        if rng.random() < 0.7:
            lines.append("Program ComputeBudget111111111111111111111111111111 invoke [1]")
            lines.append("Program ComputeBudget111111111111111111111111111111 success")
        for _ in range(rng.randint(1, 3)):
            program = rng.choice(PROGRAM_IDS)

            def body():
                lines.append(f"Program log: Instruction: {rng.choice(INSTRUCTIONS)}")
                if rng.random() < 0.2:
                    lines.append(f"Program log: {gen.key()[1]}")
                for _ in range(rng.randint(1, 3)):
                    if rng.random() < 0.4:
                        inner = rng.choice(INNER_PROGRAMS)
                        invoke(inner, 2, lambda: lines.append("Program log: Instruction: TransferChecked"))
                    event_line()
                    event_line()
                if rng.random() < 0.2:
                    lines.append(f"Program return: {program} " + base64.b64encode(rng.randbytes(8)).decode())

            invoke(program, 1, body)
    # Cut at `total`, dropping the records whose lines were cut off.
    del lines[total:]
    data = [base64.b64decode(line[14:])[:8] for line in lines if line.startswith("Program data: ")]
    known = {d for _, d in events}
    del expected[sum(1 for d in data if d in known):]
    # Logs arrive as JSON from a node: every line its own str object, as here
    # (repeated literal lines would otherwise be one shared object).
    return json.loads(json.dumps(lines)), expected, len(data)


# --------------------------------------------------------------------------
# Pure-Python decoder: the same job with the standard library only.

# The types it unpacks with one struct format; wider integers (INTS) are read
# with int.from_bytes.
FORMATS = {
    "u8": "<B", "i8": "<b", "u16": "<H", "i16": "<h", "u32": "<I", "i32": "<i",
    "u64": "<Q", "i64": "<q", "bool": "<?", "f32": "<f", "f64": "<d",
}


class PyDecoder:
    """Decodes event lines like parse_logs: base64, discriminator, Borsh fields."""

    def __init__(self, idl: dict):
        self.defs = {t["name"]: t for t in idl["types"]}
        self.compiled: dict = {}
        self.events = {}
        for e in idl["events"]:
            reader = self.fields_reader(self.defs[e["name"]]["type"].get("fields"))
            self.events.setdefault(bytes(e["discriminator"]), (e["name"], reader))

    def fields_reader(self, fields):
        if fields is None:
            return lambda b, p: ({}, p)
        if fields and isinstance(fields[0], dict) and "name" in fields[0]:
            named = [(f["name"], self.reader(f["type"])) for f in fields]

            def read_named(b, p):
                d = {}
                for name, rd in named:
                    d[name], p = rd(b, p)
                return d, p
            return read_named
        items = [self.reader(t) for t in fields]

        def read_tuple(b, p):
            out = []
            for rd in items:
                v, p = rd(b, p)
                out.append(v)
            return out, p
        return read_tuple

    def reader(self, t):
        if isinstance(t, str):
            if t in FORMATS:
                fmt = FORMATS[t]
                unpack = struct.Struct(fmt).unpack_from
                size = struct.calcsize(fmt)

                def read_scalar(b, p):
                    return unpack(b, p)[0], p + size
                return read_scalar
            if t in INTS:
                size, signed = INTS[t]

                def read_wide(b, p):
                    if p + size > len(b):
                        raise IndexError("end of buffer")
                    return int.from_bytes(b[p:p + size], "little", signed=signed), p + size
                return read_wide
            if t == "pubkey":
                def read_key(b, p):
                    if p + 32 > len(b):
                        raise IndexError("end of buffer")
                    return b58encode(b[p:p + 32]), p + 32
                return read_key
            if t in ("string", "bytes"):
                as_text = t == "string"

                def read_blob(b, p):
                    (n,) = struct.unpack_from("<I", b, p)
                    p += 4
                    if p + n > len(b):
                        raise IndexError("end of buffer")
                    raw = b[p:p + n]
                    return (raw.decode("utf-8") if as_text else raw), p + n
                return read_blob
            raise SystemExit(f"bench: unsupported type {t!r}")
        if "option" in t:
            inner = self.reader(t["option"])

            def read_option(b, p):
                if b[p] == 0:
                    return None, p + 1
                return inner(b, p + 1)
            return read_option
        if "vec" in t or "array" in t:
            if "vec" in t:
                inner, fixed = self.reader(t["vec"]), None
            else:
                inner, fixed = self.reader(t["array"][0]), t["array"][1]

            def read_list(b, p):
                if fixed is None:
                    (n,) = struct.unpack_from("<I", b, p)
                    p += 4
                else:
                    n = fixed
                out = []
                for _ in range(n):
                    v, p = inner(b, p)
                    out.append(v)
                return out, p
            return read_list
        if "defined" in t:
            d = t["defined"]
            name = d if isinstance(d, str) else d["name"]
            if name not in self.compiled:
                self.compiled[name] = None  # placeholder while compiling
                body = self.defs[name]["type"]
                if body["kind"] == "struct":
                    self.compiled[name] = self.fields_reader(body.get("fields"))
                elif body["kind"] == "enum":
                    variants = [
                        (v["name"], self.fields_reader(v["fields"]) if "fields" in v else None)
                        for v in body["variants"]
                    ]

                    def read_enum(b, p):
                        name, fields = variants[b[p]]
                        if fields is None:
                            return name, p + 1
                        v, p = fields(b, p + 1)
                        return {name: v}, p
                    self.compiled[name] = read_enum
                else:
                    self.compiled[name] = self.reader(body["alias"])
            compiled = self.compiled
            return lambda b, p: compiled[name](b, p)
        raise SystemExit(f"bench: unsupported type {t!r}")

    def parse_logs(self, lines):
        events = self.events
        b64decode = base64.b64decode
        out = []
        for line in lines:
            if line.startswith("Program data: "):
                text = line[14:]
            elif line.startswith("Program log: "):
                text = line[13:]
            else:
                continue
            try:
                raw = b64decode(text.strip(), validate=True)
            except (binascii.Error, ValueError):
                continue
            if len(raw) < 8:
                continue
            entry = events.get(raw[:8])
            if entry is None:
                continue
            try:
                value, _ = entry[1](raw, 8)
            except (struct.error, IndexError, UnicodeDecodeError):
                continue
            out.append((entry[0], value))
        return out


# --------------------------------------------------------------------------
# Measurement.



def run_batches(parse, batches):
    def go():
        n = 0
        for b in batches:
            n += len(parse(b))
        return n
    return go


def threaded_run(work, items, n_threads: int) -> tuple[float, float]:
    """Wall time of `work` over `items` shared out among threads started
    together, with the CPU time that the threads used."""
    shares = [items[i::n_threads] for i in range(n_threads)]
    barrier = threading.Barrier(n_threads + 1)
    cpu = []

    def worker(share):
        barrier.wait()
        c0 = time.thread_time()
        for item in share:
            work(item)
        cpu.append(time.thread_time() - c0)

    threads = [threading.Thread(target=worker, args=(s,)) for s in shares]
    for t in threads:
        t.start()
    barrier.wait()
    t0 = time.perf_counter()
    for t in threads:
        t.join()
    return time.perf_counter() - t0, sum(cpu)


def threaded_times(work, items, counts, repeat: int) -> dict:
    """Best (wall, cpu) run per thread count; the counts take turns, so that a
    change in the machine's load affects them alike."""
    best = {n: (float("inf"), 0.0) for n in counts}
    for _ in range(repeat):
        for n in counts:
            best[n] = min(best[n], threaded_run(work, items, n))
    return best


def spin(_):
    n = 0
    for i in range(100_000):
        n += i
    return n


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--lines", type=int, default=100_000, help="log lines in the block (default 100000)")
    ap.add_argument("--batch", type=int, default=300, help="lines per transaction-sized batch (default 300)")
    ap.add_argument("--repeat", type=int, default=5, help="repetitions per measurement, best is kept (default 5)")
    ap.add_argument("--rng", type=int, default=20260110, help="random generator start value")
    ap.add_argument("--no-gc", action="store_true", help="disable the cyclic garbage collector while timing")
    ap.add_argument("--live", type=int, default=1_000_000,
                    help="live objects held during the collector table (default 1000000; 0: none)")
    ap.add_argument("--skip-gc-table", action="store_true", help="leave out the collector table")
    ap.add_argument("--quick", action="store_true",
                    help="small sizes for a smoke run (5000 lines, 2 repetitions, 100000 live objects)")
    args = ap.parse_args(argv)
    if args.quick:
        args.lines, args.repeat = min(args.lines, 5_000), min(args.repeat, 2)
        args.live = min(args.live, 100_000)

    try:
        from varkel import EventDecoder
    except ImportError as exc:
        print(f"bench: varkel is not importable ({exc}); run scripts/setup.sh and use .venv/bin/python")
        return 2

    idl, weights, origin = build_idl()
    lines, expected, n_data = generate_lines(idl, weights, args.lines, args.rng)
    batches = [lines[i:i + args.batch] for i in range(0, len(lines), args.batch)]

    decoder = EventDecoder(json.dumps(idl))
    pydec = PyDecoder(idl)

    # Correctness, once and untimed: both decoders give the generated records.
    got = decoder.parse_logs(lines)
    if got != expected:
        first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
        print(f"bench: parse_logs differs from the generated events at record {first}"
              f" ({len(got)} records, {len(expected)} expected)")
        print("  got     ", got[first] if first < len(got) else "-")
        print("  expected", expected[first] if first < len(expected) else "-")
        return 1
    if pydec.parse_logs(lines) != got:
        print("bench: the pure-Python decoder differs from parse_logs")
        return 1
    if [r for b in batches for r in decoder.parse_logs(b)] != got:
        print("bench: parse_logs over batches differs from parse_logs over the block")
        return 1
    # (An older varkel without parse_logs_arrow is measured without those rows.)
    pa = columnar.load_pyarrow() if hasattr(decoder, "parse_logs_arrow") else None
    if pa is not None and (problem := columnar.check(decoder, lines, pa)):
        print(f"bench: parse_logs_arrow differs from parse_logs: {problem}")
        return 1

    n_lines, n_events = len(lines), len(got)
    # Only the lines and the decoders stay alive while timing: a heap full of
    # reference results would make every garbage collection longer.
    del got, expected
    gc.collect()
    py_repeat = min(args.repeat, 2)
    gil = getattr(sys, "_is_gil_enabled", None)
    print(f"varkel parse_logs benchmark: {n_lines} lines, {n_events} events "
          f"({n_data / n_lines:.0%} 'Program data:' lines, {n_events / n_lines:.0%} decodable), "
          f"{len(idl['events'])} event kinds")
    print(f"  {origin}")
    print(f"  Python {platform.python_version()} {sys.implementation.name}, "
          f"GIL disabled: {gil() is False if gil else 'no (interpreter has no free-threaded build)'}, "
          f"cores: {os.cpu_count()} (load {os.getloadavg()[0]:.1f}), gc: {'off' if args.no_gc else 'on'}, "
          f"best of {args.repeat} (pure Python: best of {py_repeat})")
    print()

    if args.no_gc:
        gc.disable()
    big = [lines]
    rows = []
    ref = {}
    # The pure-Python decoder is slow enough that two runs keep the whole
    # benchmark within a minute; its time varies little between runs.
    for label, parse, repeat in (("parse_logs", decoder.parse_logs, args.repeat),
                                 ("pure Python", pydec.parse_logs, py_repeat)):
        for size, bs in ((args.batch, batches), (n_lines, big)):
            t = best_time(run_batches(parse, bs), repeat)
            ref.setdefault(size, t)
            rows.append((label, "-", size, t, f"{t / ref[size]:.2f}x parse_logs time"))
    if pa is not None:
        # The same lines into one pyarrow.Table per event name (the tables
        # are dropped with each batch, as parse_logs' results are).
        for size, bs in ((args.batch, batches), (n_lines, big)):
            t = best_time(run_batches(decoder.parse_logs_arrow, bs), args.repeat)
            rows.append(("parse_logs_arrow", "-", size, t, f"{ref[size] / t:.2f}x parse_logs speed (EventTables)"))
            t = best_time(run_batches(columnar.to_tables(decoder, pa), bs), args.repeat)
            rows.append(("arrow -> pa.Table", "-", size, t, f"{ref[size] / t:.2f}x parse_logs speed"))
            t = best_time(run_batches(columnar.to_tables(decoder, pa, "binary"), bs), args.repeat)
            rows.append(("  keys as bytes", "-", size, t, f"{ref[size] / t:.2f}x parse_logs speed"))
    for size, bs in ((args.batch, batches), (n_lines, big)):
        blobs = [marshal.dumps(decoder.parse_logs(b)) for b in bs]
        loads = marshal.loads

        def rebuild():
            for blob in blobs:
                loads(blob)
        t = best_time(rebuild, args.repeat)
        rows.append(("marshal.loads floor", "-", size, t, f"{t / ref[size]:.2f}x parse_logs time"))
    # CPU time summed over the threads shows contention (more CPU for the same
    # work); the wall-time speed-up also depends on how many cores are free,
    # which the same measurement of a plain Python loop shows.
    by_threads = threaded_times(decoder.parse_logs, batches, (1, 2), args.repeat)
    one = by_threads[1]
    for n, (t, cpu) in by_threads.items():
        rows.append(("parse_logs threads", n, args.batch, t,
                     f"speed-up {one[0] / t:.2f}x vs 1 thread, CPU time {cpu / one[1]:.2f}x"))
    loops = threaded_times(spin, range(20), (1, 2), args.repeat)
    loop1, loop2 = loops[1][0], loops[2][0]
    gc.enable()

    head = ("case", "threads", "batch", "lines/s", "events/s", "ms", "note")
    print(f"{head[0]:<20} {head[1]:>7} {head[2]:>7} {head[3]:>12} {head[4]:>12} {head[5]:>9}  {head[6]}")
    for label, n, size, t, note in rows:
        print(f"{label:<20} {n:>7} {size:>7} {n_lines / t:>12,.0f} {n_events / t:>12,.0f} {t * 1e3:>9.1f}  {note}")
    print(f"For comparison, a plain Python loop ran {loop1 / loop2:.2f}x as fast on 2 threads as on 1"
          " (it shows how many cores other work left free).")
    if pa is None:
        print("parse_logs_arrow: pyarrow is not installed for this interpreter (or this varkel has no"
              " parse_logs_arrow); its rows are left out.")
    else:
        memory = columnar.memory_per_event(decoder, lines, n_events, pa)
        print("Memory per event held by one block's result: "
              + ", ".join(f"{name} {size:,.0f} bytes" for name, size in memory.items()))

    if not args.skip_gc_table:
        print()
        print(f"The garbage collector: parse_logs over the block, collector on and off, best of {min(args.repeat, 3)}")
        arrow = decoder.parse_logs_arrow if hasattr(decoder, "parse_logs_arrow") else None
        for row in collector_table(decoder.parse_logs, lines, n_events, args.live, repeat=min(args.repeat, 3),
                                   columnar=arrow):
            print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
