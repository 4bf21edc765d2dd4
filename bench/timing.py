"""The one timing rule of the benchmarks: the best of several runs."""

import time


def best_time(fn, repeat: int) -> float:
    """The shortest wall time of `repeat` calls of fn(), in seconds."""
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)
