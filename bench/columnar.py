"""parse_logs_arrow in the benchmark: lines to pyarrow Tables, and memory per event.

Imported by bench_parse_logs.py; needs pyarrow (the rows are left out with a
note when it is missing). Nothing here asserts anything about timing.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import gc
import tracemalloc
from timing import best_time


def load_pyarrow():
    try:
        import pyarrow
    except ImportError:
        return None
    return pyarrow


def check(decoder, lines, pa) -> str | None:
    """Untimed: every table holds as many rows as parse_logs gives events of its name."""
    records = decoder.parse_logs(lines)
    for name, table in decoder.parse_logs_arrow(lines).items():
        rows = pa.table(table).num_rows
        want = sum(1 for n, _ in records if n == name)
        if rows != want:
            return f"{name}: {rows} rows, parse_logs gives {want} events"
    return None


def to_tables(decoder, pa, pubkey="base58"):
    """Lines to one pyarrow.Table per event name (keys as base58 text or bytes)."""
    def convert(batch):
        return {name: pa.table(t) for name, t in decoder.parse_logs_arrow(batch, pubkey=pubkey).items()}
    return convert


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _c_heap_in_use():
    """Bytes in use in the C heap (glibc's mallinfo2), or None where it is not available."""
    path = ctypes.util.find_library("c")
    if not path:
        return None
    libc = ctypes.CDLL(path)
    if not hasattr(libc, "mallinfo2"):
        return None
    libc.mallinfo2.restype = _MallInfo2

    def in_use():
        info = libc.mallinfo2()
        return info.uordblks + info.hblkhd
    return in_use


def memory_per_event(decoder, lines, n_events, pa) -> dict:
    """What one batch's result holds, per event: parse_logs' objects (traced
    by tracemalloc), and the Arrow tables' buffers (their size, and the C heap
    that holds them, slack of the growing buffers included)."""
    out = {}
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    records = decoder.parse_logs(lines)
    out["parse_logs objects"] = (tracemalloc.get_traced_memory()[0] - before) / n_events
    tracemalloc.stop()
    del records
    gc.collect()
    in_use = _c_heap_in_use()
    before = in_use() if in_use else 0
    tables = {name: pa.table(t) for name, t in decoder.parse_logs_arrow(lines).items()}
    if in_use:
        out["Arrow tables, C heap"] = (in_use() - before) / n_events
    out["Arrow tables, buffers"] = sum(t.nbytes for t in tables.values()) / n_events
    return out


