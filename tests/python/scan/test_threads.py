"""Many threads over one decoder give exactly the serial result (GIL off on free-threaded builds)."""

import json
import random
import threading

from varkel import EventDecoder
from helpers import FREE_THREADED, REPO, fixture, gil_enabled, results_in_threads
from scan.test_fixture_logs import mixed_batch


def test_threads_share_one_decoder():
    text = fixture("idl", "current", "pump-fun-pump_amm-2026-01-10.json").read_text()
    doc = json.loads(text)
    decoder = EventDecoder(text)
    batches = [mixed_batch(doc, seed)[0] for seed in range(40)]
    serial = [decoder.parse_logs(batch) for batch in batches]

    for mine in results_in_threads(decoder.parse_logs, batches, threads=6, rounds=5):
        assert mine == serial
    # Importing varkel leaves a free-threaded interpreter without its GIL.
    assert gil_enabled() is not FREE_THREADED


def test_threads_parse_a_list_another_thread_mutates():
    # Readers parse one list while a writer appends, pops, replaces, reverses
    # and reassigns it. Every record must come from a line that the list could
    # hold; a list nobody mutates gives the serial result meanwhile. (Under the
    # sanitizer build this once crashed: the sanitizer's memmove tore the
    # pointers that the interpreter's lock-free list readers load; see
    # tests/support/atomic_memmove.cpp.)
    text = (REPO / "examples" / "okx-dex" / "idl.json").read_text()
    doc = json.loads(text)
    decoder = EventDecoder(text)
    lines = [line for seed in range(4) for line in mixed_batch(doc, seed)[0]]
    allowed = {repr(record) for line in lines for record in decoder.parse_logs([line])}
    stable = list(lines)
    expected = decoder.parse_logs(stable)
    shared = list(lines)
    stop = threading.Event()
    failures = []
    barrier = threading.Barrier(5)

    def write():
        rng = random.Random(7)
        barrier.wait()
        while not stop.is_set():
            op = rng.randrange(5)
            try:
                if op == 0:
                    shared.append(rng.choice(lines))
                elif op == 1:
                    shared.pop(rng.randrange(len(shared)))
                elif op == 2:
                    shared[rng.randrange(len(shared))] = rng.choice(lines)
                elif op == 3:
                    shared[:] = lines[: rng.randrange(len(lines) + 1)]
                else:
                    shared.reverse()
            except (IndexError, ValueError):
                pass  # the list was empty at that moment

    def read(index):
        try:
            barrier.wait()
            for round_ in range(200):
                if (round_ + index) % 2:
                    assert decoder.parse_logs(stable) == expected
                else:
                    assert all(repr(record) in allowed for record in decoder.parse_logs(shared))
        except BaseException as failure:  # noqa: BLE001 - reported on the test's thread
            failures.append(failure)

    writer = threading.Thread(target=write)
    readers = [threading.Thread(target=read, args=(i,)) for i in range(4)]
    for thread in [writer, *readers]:
        thread.start()
    for thread in readers:
        thread.join()
    stop.set()
    writer.join()
    assert not failures, failures[0]
    assert gil_enabled() is not FREE_THREADED
