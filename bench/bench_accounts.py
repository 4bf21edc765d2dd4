#!/usr/bin/env python3
"""Throughput of EventDecoder.decode_accounts on a getProgramAccounts result.

Builds a seeded getProgramAccounts result of zero-copy Meteora DLMM LbPair
pools (bytemuck repr(C), 904 bytes; IDL from the fixtures, VARKEL_FIXTURES)
and, after checking untimed that decode_accounts gives exactly what a plain
pure-Python decoder of the layout gives, times: base64 decoding alone and
marshal.loads of the same values (floors); the pure-Python decoder (the
yardstick); decode_accounts over the Python list and over the JSON text;
decode_accounts_arrow with pyarrow.table() where this varkel has it; and
decode_accounts on 1 and 2 threads sharing one decoder. Nothing is asserted
about timing. Run: ``.venv/bin/python bench/bench_accounts.py``.
"""

from __future__ import annotations

import argparse
import base64
import gc
import json
import marshal
import os
import platform
import random
import struct
import sys
import tracemalloc
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))
from varkel_support import FIXTURES, b58encode  # noqa: E402

from bench_parse_logs import spin, threaded_times  # noqa: E402  (bench/ is on sys.path)
from timing import best_time  # noqa: E402

IDL = FIXTURES / "idl" / "current" / "meteora-dlmm-lb_clmm.json"
PROGRAM = "LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo"
DISC = bytes([33, 11, 49, 98, 181, 101, 177, 13])  # LbPair's account discriminator
SIZE = 904
HOT_MINTS = [bytes.fromhex("069b8857feab8184fb687f634618c035dac439dc1aeb3b5598a0f00000000001"),  # wSOL
             bytes.fromhex("c6fa7af3bedbad3a3d65f36aabc97431b1bbe4c2d2f6e0e47ca60203452f5d61")]  # USDC

# --------------------------------------------------------------------------
# The pure-Python decoder: one struct.Struct per struct type of the C layout.
# No field needs padding in front of it here, so "<" (packed) formats give the
# repr(C) offsets; the asserts below pin the sizes.

STATIC = struct.Struct("<4H2I2iH3B3s")          # StaticParameters, 32 bytes
STATIC_NAMES = ("base_factor", "filter_period", "decay_period", "reduction_factor", "variable_fee_control",
                "max_volatility_accumulator", "min_bin_id", "max_bin_id", "protocol_share",
                "base_fee_power_factor", "function_type", "collect_fee_mode")
VARIABLE = struct.Struct("<2Ii4sq8s")           # VariableParameters, 32 bytes (align 8)
PROTOCOL_FEE = struct.Struct("<2Q")             # ProtocolFee, 16 bytes
REWARD = struct.Struct("<32s32s32s2Q2Q2Q")      # RewardInfo, 144 bytes; u128 as two u64 halves
HEAD = struct.Struct("<1s2sBiHBB2sBB32s32s32s32s")  # LbPair offsets 64..208
TAIL = struct.Struct("<32s16Qq32s32s32sQQ8sQ32s3B21s")  # LbPair offsets 544..896
assert (STATIC.size, VARIABLE.size, REWARD.size, HEAD.size, TAIL.size) == (32, 32, 144, 144, 352)


def reward_info(b, o):
    mint, vault, funder, duration, end, lo, hi, last, empty = REWARD.unpack_from(b, o)
    return {"mint": b58encode(mint), "vault": b58encode(vault), "funder": b58encode(funder),
            "reward_duration": duration, "reward_duration_end": end, "reward_rate": lo | hi << 64,
            "last_update_time": last, "cumulative_seconds_with_empty_liquidity_reward": empty}


def lb_pair(b, o=8):
    *s, s_pad = STATIC.unpack_from(b, o)
    parameters = dict(zip(STATIC_NAMES, s))
    parameters["_padding"] = list(s_pad)
    acc, ref, index, v_pad, ts, v_pad1 = VARIABLE.unpack_from(b, o + 32)
    h = HEAD.unpack_from(b, o + 64)
    fee_x, fee_y = PROTOCOL_FEE.unpack_from(b, o + 208)
    t = TAIL.unpack_from(b, o + 544)
    return {
        "parameters": parameters,
        "v_parameters": {"volatility_accumulator": acc, "volatility_reference": ref, "index_reference": index,
                         "_padding": list(v_pad), "last_update_timestamp": ts, "_padding_1": list(v_pad1)},
        "bump_seed": list(h[0]), "bin_step_seed": list(h[1]), "pair_type": h[2], "active_id": h[3],
        "bin_step": h[4], "status": h[5], "require_base_factor_seed": h[6], "base_factor_seed": list(h[7]),
        "activation_type": h[8], "creator_pool_on_off_control": h[9],
        "token_x_mint": b58encode(h[10]), "token_y_mint": b58encode(h[11]),
        "reserve_x": b58encode(h[12]), "reserve_y": b58encode(h[13]),
        "protocol_fee": {"amount_x": fee_x, "amount_y": fee_y},
        "_padding_1": list(b[o + 224:o + 256]),
        "reward_infos": [reward_info(b, o + 256), reward_info(b, o + 400)],
        "oracle": b58encode(t[0]), "bin_array_bitmap": list(t[1:17]), "last_updated_at": t[17],
        "_padding_2": list(t[18]), "pre_activation_swap_address": b58encode(t[19]), "base_key": b58encode(t[20]),
        "activation_point": t[21], "pre_activation_duration": t[22], "_padding_3": list(t[23]),
        "_padding_4": t[24], "creator": b58encode(t[25]), "token_mint_x_program_flag": t[26],
        "token_mint_y_program_flag": t[27], "version": t[28], "_reserved": list(t[29]),
    }


def py_decode_accounts(items):
    """(pubkey, name, value, owner, lamports) per account, as decode_accounts' records hold."""
    b64decode = base64.b64decode
    out = []
    for item in items:
        acc = item["account"]
        raw = b64decode(acc["data"][0])
        ok = len(raw) == SIZE and raw[:8] == DISC
        out.append((item["pubkey"], "LbPair" if ok else None, lb_pair(raw) if ok else None,
                    acc["owner"], acc["lamports"]))
    return out


# --------------------------------------------------------------------------
# The seeded getProgramAccounts result. Fields are written at their repr(C)
# offsets (data offset = 8 + field offset), with values drawn like real pools'.


def make_account(rng: random.Random, mints: list) -> bytes:
    b = bytearray(SIZE)
    b[:8] = DISC

    def put(off, fmt, *values):
        struct.pack_into("<" + fmt, b, 8 + off, *values)

    now = 1_767_000_000 - rng.randrange(40_000_000)
    bin_step = rng.choice([1, 2, 4, 5, 8, 10, 15, 20, 25, 50, 80, 100, 200, 400])
    base_factor = rng.choice([5000, 6250, 8000, 10000, 20000])
    max_vol = rng.choice([150_000, 300_000, 350_000])
    limit = rng.randrange(400, 443_637)
    active = rng.randrange(-min(limit, 30_000), min(limit, 30_000))
    put(0, "4H2I2iH3B", base_factor, 30, 600, 5000, rng.choice([7500, 40_000, 120_000]), max_vol,
        -limit, limit, rng.choice([500, 1000, 2000]), rng.randrange(2), 0, rng.randrange(2))
    vol = rng.randrange(max_vol)
    put(32, "2Iiiq", vol, rng.randrange(vol + 1), active + rng.randrange(-5, 6), 0, now - rng.randrange(86_400))
    put(64, "B2sBiHBB2sBB", rng.randrange(250, 256), struct.pack("<H", bin_step), rng.randrange(4), active,
        bin_step, int(rng.random() < 0.1), rng.randrange(2), struct.pack("<H", base_factor),
        rng.randrange(2), rng.randrange(2))
    y_mint = rng.choice(HOT_MINTS) if rng.random() < 0.7 else rng.choice(mints)
    put(80, "32s32s32s32s", rng.choice(mints), y_mint, rng.randbytes(32), rng.randbytes(32))
    put(208, "2Q", rng.getrandbits(rng.randint(1, 50)), rng.getrandbits(rng.randint(1, 50)))
    for i, share in enumerate((0.2, 0.05)):
        if rng.random() < share:
            duration = rng.choice([86_400, 604_800, 5_184_000])
            rate = rng.getrandbits(rng.randint(40, 100))
            put(256 + 144 * i, "32s32s32s2Q2Q2Q", rng.choice(mints), rng.randbytes(32), rng.randbytes(32), duration,
                now + duration, rate & (2**64 - 1), rate >> 64, now, rng.randrange(100_000))
    put(544, "32s", rng.randbytes(32))
    run = rng.randint(1, 16)
    bitmap = ((1 << run) - 1) << (512 + active // 70 - run // 2)  # bin arrays of 70 bins around the active one
    put(576, "128s", bitmap.to_bytes(128, "little"))
    put(704, "q", now - rng.randrange(5_000_000))
    if rng.random() < 0.2:
        put(744, "32s32s2Q", rng.randbytes(32), rng.randbytes(32), now + rng.randrange(86_400), 3600)
    put(840, "32s3B", rng.randbytes(32), rng.randrange(2), rng.randrange(2), rng.randrange(2))
    return bytes(b)


def make_result(n: int, seed: int) -> list:
    rng = random.Random(seed)
    mints = HOT_MINTS + [rng.randbytes(32) for _ in range(2000)]
    return [{"pubkey": b58encode(rng.randbytes(32)),
             "account": {"data": [base64.b64encode(make_account(rng, mints)).decode(), "base64"],
                         "executable": False, "lamports": 7_190_220 + rng.randrange(2) * 1_000_000,
                         "owner": PROGRAM, "rentEpoch": 18446744073709551615, "space": SIZE}}
            for _ in range(n)]


# --------------------------------------------------------------------------
# Measurement.


def first_difference(a, b, path="value"):
    """Where two decoded values first differ, with both sides."""
    if isinstance(a, dict) and isinstance(b, dict) and a.keys() == b.keys():
        return next((d for k in a if (d := first_difference(a[k], b[k], f"{path}.{k}"))), None)
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        return next((d for i, x in enumerate(a) if (d := first_difference(x, b[i], f"{path}[{i}]"))), None)
    return None if a == b and type(a) is type(b) else f"{path}: varkel {a!r}, pure Python {b!r}"


def check(decoder, items, text, pa) -> str | None:
    """Untimed: decode_accounts (list and text) equals the pure-Python decoder for every account."""
    want = py_decode_accounts(items)
    for form, arg in (("list", items), ("JSON text", text)):
        got = decoder.decode_accounts(arg)
        if len(got) != len(want):
            return f"{form}: {len(got)} records for {len(want)} accounts"
        for i, (r, w) in enumerate(zip(got, want)):
            if r.error is not None or r.unread or (r.pubkey, r.name, r.value, r.owner, r.lamports) != w:
                return (f"{form}: account {i} ({w[0]}): error {r.error!r}, {r.unread} bytes unread; "
                        f"{first_difference(r.value, w[2]) or (r.pubkey, r.name, r.owner, r.lamports)}")
    if pa is not None:
        tables = {name: pa.table(t) for name, t in decoder.decode_accounts_arrow(items).items()}
        if "LbPair" not in tables or any(t.num_rows for name, t in tables.items() if name != "LbPair"):
            return f"decode_accounts_arrow: rows {({name: t.num_rows for name, t in tables.items()})}"
        rows = tables["LbPair"].to_pylist()
        for row in rows:  # a u128 column is decimal128 or decimal text (docs/arrow.md): compare as int
            for info in row.get("reward_infos") or ():
                info["reward_rate"] = int(info["reward_rate"])
        for i, (row, w) in enumerate(zip(rows, want)):
            if row != {"pubkey": w[0], **w[2]}:
                return f"decode_accounts_arrow: row {i}: {first_difference(row, {'pubkey': w[0], **w[2]})}"
        if len(rows) != len(want):
            return f"decode_accounts_arrow: {len(rows)} rows for {len(want)} accounts"
    return None


def held_per_account(fn, items) -> float:
    """Bytes per account that fn(items)'s result holds (tracemalloc)."""
    gc.collect()
    tracemalloc.start()
    result = fn(items)  # noqa: F841 (alive while measured)
    held = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    return held / len(items)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--accounts", type=int, default=100_000, help="accounts in the result (default 100000)")
    ap.add_argument("--repeat", type=int, default=5, help="repetitions, the best is kept (default 5)")
    ap.add_argument("--rng", type=int, default=20260110, help="random generator start value")
    ap.add_argument("--chunk", type=int, default=1000, help="accounts per call in the thread rows (default 1000)")
    ap.add_argument("--no-gc", action="store_true", help="disable the cyclic garbage collector while timing")
    ap.add_argument("--quick", action="store_true", help="smoke run: at most 5000 accounts, 2 repetitions")
    args = ap.parse_args(argv)
    if args.quick:
        args.accounts, args.repeat = min(args.accounts, 5000), min(args.repeat, 2)
    if not IDL.is_file():
        print(f"bench_accounts: skipped: the LbPair IDL {IDL} is absent (set VARKEL_FIXTURES to the fixture folder)")
        return 0
    try:
        import varkel
    except ImportError as exc:
        print(f"bench_accounts: varkel is not importable ({exc}); run scripts/setup.sh and use .venv/bin/python")
        return 2
    decoder = varkel.EventDecoder(IDL.read_text())
    pa, arrow_skip = None, "this varkel has no EventDecoder.decode_accounts_arrow"
    if hasattr(decoder, "decode_accounts_arrow"):
        try:
            import pyarrow as pa
            arrow_skip = None
        except ImportError:
            arrow_skip = "pyarrow is not installed for this interpreter"

    items = json.loads(json.dumps(make_result(args.accounts, args.rng)))  # separate str objects, as from a node
    text = json.dumps({"jsonrpc": "2.0", "result": items, "id": 1})
    if problem := check(decoder, items, text, pa):
        print(f"bench_accounts: varkel differs from the pure-Python decoder: {problem}")
        return 1
    n, py_repeat = len(items), min(args.repeat, 2)
    blob = marshal.dumps(py_decode_accounts(items))  # the same values, for marshal.loads to rebuild
    gc.collect()
    gil = getattr(sys, "_is_gil_enabled", None)
    print(f"varkel decode_accounts benchmark: {n} LbPair accounts of {SIZE} bytes "
          f"({len(text) / 2**20:.0f} MiB of JSON)")
    print(f"  IDL {IDL}; Python {platform.python_version()} {sys.implementation.name}, "
          f"GIL disabled: {gil() is False if gil else 'no'}, cores: {os.cpu_count()} "
          f"(load {os.getloadavg()[0]:.1f}), gc: {'off' if args.no_gc else 'on'}, "
          f"best of {args.repeat} (pure Python: best of {py_repeat})\n")
    if args.no_gc:
        gc.disable()

    b64decode = base64.b64decode
    cases = [("pure Python", lambda: py_decode_accounts(items), py_repeat),
             ("base64 decode (floor)", lambda: [b64decode(i["account"]["data"][0]) for i in items], args.repeat),
             ("marshal.loads (floor)", lambda: marshal.loads(blob), args.repeat),
             ("decode_accounts list", lambda: decoder.decode_accounts(items), args.repeat),
             ("json.loads of the text", lambda: json.loads(text), args.repeat),
             ("decode_accounts text", lambda: decoder.decode_accounts(text), args.repeat)]
    if pa is not None:
        for form, arg in (("list", items), ("text", text)):
            cases.append((f"arrow -> pa.Table {form}",
                          lambda arg=arg: [pa.table(t) for t in decoder.decode_accounts_arrow(arg).values()],
                          args.repeat))
    rows = [(label, "-", best_time(fn, repeat), "") for label, fn, repeat in cases]
    chunks = [items[i:i + args.chunk] for i in range(0, n, args.chunk)]
    threaded = [("decode_accounts", decoder.decode_accounts)]
    if pa is not None:
        threaded.append(("decode_accounts_arrow", decoder.decode_accounts_arrow))
    for label, fn in threaded:  # each thread takes every other chunk of the list
        by_threads = threaded_times(fn, chunks, (1, 2), args.repeat)
        one = by_threads[1]
        rows += [(f"{label} {args.chunk}s", k, t, f", {one[0] / t:.2f}x 1 thread's, CPU time {cpu / one[1]:.2f}x")
                 for k, (t, cpu) in by_threads.items()]
    loops = threaded_times(spin, range(20), (1, 2), args.repeat)
    gc.enable()
    print(f"{'case':<28} {'threads':>7} {'accounts/s':>12} {'ms':>9}  speed relative to pure Python")
    for label, k, t, note in rows:
        print(f"{label:<28} {k:>7} {n / t:>12,.0f} {t * 1e3:>9.1f}  {rows[0][2] / t:6.1f}x{note}")
    print(f"A plain Python loop ran {loops[1][0] / loops[2][0]:.2f}x as fast on 2 threads as on 1"
          " (how many cores other work left free).")
    if arrow_skip:
        print(f"decode_accounts_arrow: skipped: {arrow_skip}.")

    sample = items[:10_000]
    memory = f"decode_accounts {held_per_account(decoder.decode_accounts, sample):,.0f} bytes, " \
             f"pure Python {held_per_account(py_decode_accounts, sample):,.0f} bytes"
    if pa is not None:
        tables = [pa.table(t) for t in decoder.decode_accounts_arrow(sample).values()]
        memory += f", Arrow tables {sum(t.nbytes for t in tables) / len(sample):,.0f} bytes of buffers"
    print(f"Memory per account held by the result of {len(sample):,} accounts: {memory}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
