"""What the cyclic garbage collector costs parse_logs: the collector table.

Imported by bench_parse_logs.py. For every heap, every way of treating the
results (dropped after each call, or all kept until the pass ends, as an
indexer that stores them) and every batch size, one pass over the block is
timed with the collector on and with it off. With it on, gc.callbacks counts
the collections and sums their time: the collector's share is that time over
the pass's time.

The heaps, besides the benchmark's own objects:
- nothing else;
- N small lists: containers that the collector tracks, so they raise its
  threshold (a quarter of the tracked objects that survived the last
  collection);
- N small dicts of scalars, as an indexer caches accounts and as parse_logs
  returns flat events: CPython does not track them (nothing in them can form
  a cycle), so they do not raise the threshold, but every collection still
  walks their memory;
- the N lists after gc.freeze().

Each pass starts from a full collection, so that every pass meets the same
heap and the collector's own bookkeeping (the count since the last collection,
the number of objects that survived it) is the same.
"""

from __future__ import annotations

import gc
import time

BATCH_SIZES = (1, 10, 100, 300, 1_000, 10_000, 100_000)


class CollectorClock:
    """Counts the collections that run while it is installed and sums their time."""

    def __init__(self):
        self.collections = 0
        self.seconds = 0.0
        self._start = None

    def __call__(self, phase, info):
        now = time.perf_counter()
        if phase == "start":
            self._start = now
        elif self._start is not None:
            self.collections += 1
            self.seconds += now - self._start
            self._start = None

    def __enter__(self):
        gc.callbacks.append(self)
        return self

    def __exit__(self, *exc):
        gc.callbacks.remove(self)


def one_pass(parse, batches, keep: bool, collector: bool) -> tuple[float, int, float]:
    """Seconds for parse over all batches, with the collections and their seconds."""
    kept = []
    gc.collect()
    if collector:
        gc.enable()
    else:
        gc.disable()
    try:
        with CollectorClock() as clock:
            t0 = time.perf_counter()
            for batch in batches:
                result = parse(batch)
                if keep:
                    kept.append(result)
            seconds = time.perf_counter() - t0
    finally:
        gc.enable()
    del kept
    return seconds, clock.collections, clock.seconds


def measure(parse, lines, sizes, keep: bool, repeat: int):
    """One row per batch size: (size, seconds on, seconds off, collections, collector seconds).
    The runs with the collector on and off take turns; the best of each is kept
    (for the collector on, with the collections of that best run)."""
    rows = []
    for size in sizes:
        batches = [lines[i:i + size] for i in range(0, len(lines), size)]
        best_on = (float("inf"), 0, 0.0)
        best_off = float("inf")
        for _ in range(repeat):
            on = one_pass(parse, batches, keep, True)
            best_on = min(best_on, on)
            best_off = min(best_off, one_pass(parse, batches, keep, False)[0])
        rows.append((size, best_on[0], best_off, best_on[1], best_on[2]))
    return rows


def live_lists(count: int) -> list:
    return [[i, None] for i in range(count)]


def live_dicts(count: int) -> list:
    return [{"slot": i, "lamports": 3 * i} for i in range(count)]


def collector_table(parse, lines, n_events: int, live: int, sizes=BATCH_SIZES, repeat: int = 3,
                    columnar=None) -> list[str]:
    """The table's text lines. With `columnar` (parse_logs_arrow), rows for it
    follow, with its tables kept, next to the dicts of scalars (the heap where
    parse_logs' kept results cost the most)."""
    sizes = sorted({min(s, len(lines)) for s in sizes})
    head = (f"{'heap':<30} {'results':<8} {'batch':>7} {'events/s gc on':>15} {'gc off':>12}"
            f" {'on/off':>7} {'collections':>11} {'gc share':>9}")
    out = [head]
    heaps = [("no other objects", None, False)]
    if live:
        heaps.append((f"{live:,} lists", live_lists, False))
        heaps.append((f"{live:,} dicts of scalars", live_dicts, False))
        heaps.append((f"{live:,} lists, gc.freeze()", live_lists, True))
    for label, make, freeze in heaps:
        held = make(live) if make is not None else None
        if freeze:
            gc.collect()
            gc.freeze()
        try:
            for keep in (False, True):
                for size, on, off, collections, gc_seconds in measure(parse, lines, sizes, keep, repeat):
                    out.append(f"{label:<30} {'kept' if keep else 'dropped':<8} {size:>7} {n_events / on:>15,.0f}"
                               f" {n_events / off:>12,.0f} {off / on:>6.2f}x {collections:>11} {gc_seconds / on:>9.0%}")
        finally:
            if freeze:
                gc.unfreeze()
        del held
        gc.collect()
    if columnar is not None and live:
        held = live_dicts(live)
        label = f"{live:,} dicts of scalars"
        for size, on, off, collections, gc_seconds in measure(columnar, lines, (300, 10_000), True, repeat):
            out.append(f"{label:<30} {'arrow':<8} {size:>7} {n_events / on:>15,.0f}"
                       f" {n_events / off:>12,.0f} {off / on:>6.2f}x {collections:>11} {gc_seconds / on:>9.0%}")
        del held
        gc.collect()
    return out
