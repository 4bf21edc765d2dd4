"""Many threads over one decoder give exactly the serial result (GIL off on free-threaded builds)."""

import json
import random
import threading

from varkel import EventDecoder
from helpers import FREE_THREADED, fixture, gil_enabled
from scan.test_fixture_logs import mixed_batch


def test_threads_share_one_decoder():
    text = fixture("idl", "current", "pump-fun-pump_amm-2026-01-10.json").read_text()
    doc = json.loads(text)
    decoder = EventDecoder(text)
    batches = [mixed_batch(doc, seed)[0] for seed in range(40)]
    serial = [decoder.parse_logs(batch) for batch in batches]

    threads_count, rounds = 6, 5
    results = [None] * threads_count
    barrier = threading.Barrier(threads_count)

    def work(index):
        order = list(range(len(batches)))
        random.Random(index).shuffle(order)
        barrier.wait()
        mine = {}
        for _ in range(rounds):
            for i in order:
                got = decoder.parse_logs(batches[i])
                assert mine.setdefault(i, got) == got
        results[index] = mine

    threads = [threading.Thread(target=work, args=(i,)) for i in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for mine in results:
        assert mine is not None
        assert [mine[i] for i in range(len(batches))] == serial
    # Importing varkel leaves a free-threaded interpreter without its GIL.
    assert gil_enabled() is not FREE_THREADED
