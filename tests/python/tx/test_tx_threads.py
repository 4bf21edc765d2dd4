"""Many threads over the same decoders, GIL off: every call gives exactly the
serial result."""

import random
import threading

import pytest

import varkel
from helpers import FREE_THREADED, gil_enabled, results_in_threads
from tx.test_real_transactions import CASES
from tx.txdata import decoder, load, result_of, with_encoding


def test_threads_share_the_decoders():
    # Each transaction with its decoders (two IDLs of the pump program take
    # turns); without the shared fixtures, the bundled ones.
    shared = {}
    jobs = []
    for name, keys, _ in CASES:
        try:
            decoders = [shared.setdefault(k, decoder(k)) for k in keys]
            doc = result_of(load(name))
        except pytest.skip.Exception:
            continue
        for form in (doc, with_encoding(doc, "base64"), with_encoding(doc, "jsonParsed")):
            jobs.append(("tx", form, decoders))
        jobs.append(("all", doc, decoders))  # instructions and events in one pass
        jobs.append(("logs", doc["meta"]["logMessages"], decoders))

    def run(job):
        kind, arg, decoders = job
        if kind == "tx":
            return varkel.decode_transaction(arg, decoders)
        if kind == "all":
            return varkel.decode(arg, decoders)
        return varkel.decode_logs(arg, decoders)

    serial = [run(job) for job in jobs]
    assert serial and all(r.instructions and r.events if isinstance(r, varkel.Transaction) else r for r in serial)
    for mine in results_in_threads(run, jobs, threads=6, rounds=4):
        assert mine == serial
    assert gil_enabled() is not FREE_THREADED  # importing varkel keeps a free-threaded build GIL-free


def test_a_dict_changed_by_another_thread_during_the_call():
    # One thread keeps changing the logs list and the meta dict of a
    # transaction while others decode it: every call either reads a
    # consistent snapshot of each container or raises ValueError; never a
    # crash.
    doc = result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    decoders = [decoder("okx"), decoder("pump_amm")]
    stop = threading.Event()
    lines = doc["meta"]["logMessages"]
    original = list(lines)

    def mutate():
        rng = random.Random(3)
        while not stop.is_set():
            i = rng.randrange(len(original))
            lines.insert(i, lines.pop(i))
            doc["meta"]["extra"] = rng.random()
            doc["meta"].pop("extra", None)

    def decode():
        for _ in range(200):
            try:
                for e in varkel.decode_transaction(doc, decoders):
                    assert e.program_id in {d.program_id for d in decoders}
            except ValueError:
                pass

    mutator = threading.Thread(target=mutate)
    mutator.start()
    workers = [threading.Thread(target=decode) for _ in range(3)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    stop.set()
    mutator.join()
    assert sorted(lines) == sorted(original)


def test_threads_make_a_decoders_tables_at_once():
    # Fresh decoders: their table layouts are made by the first call, which
    # every thread makes at the same moment.
    pa = pytest.importorskip("pyarrow")
    docs, keys = [], set()
    for name, names, _ in CASES:
        try:
            docs.append(result_of(load(name)))
            keys.update(names)
        except pytest.skip.Exception:
            continue
    if not docs:
        pytest.skip("no transaction fixtures")
    if "pump_2025" in keys:
        keys.discard("pump_legacy")  # two IDLs of one program
    decoders = [decoder(k) for k in sorted(keys)]
    jobs = ["base58", "binary"]

    def run(form):
        tables = varkel.decode_tables(docs, decoders, pubkey=form)
        return {k: pa.table(t).to_pylist() for k, t in tables.items()}

    first, *others = results_in_threads(run, jobs, threads=6, rounds=2)
    assert any(rows for rows in first[0].values())
    assert all(mine == first for mine in others)
