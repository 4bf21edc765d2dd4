"""The Event record: an immutable struct sequence with named fields, a tuple,
picklable, hashable when its data is; and memory that does not grow over many
calls. On the bundled pump transaction (examples/), so that these run
everywhere."""

import copy
import gc
import json
import pickle
import subprocess
import sys
import tracemalloc

import pytest

import varkel
from helpers import SANITIZED, rss_bytes
from tx.txdata import decoder, load, result_of

FIELDS = ("name", "data", "program_id", "instruction", "inner", "depth", "source", "log_index", "truncated",
          "failed", "out_of_step")


CREATE = "chainstack-pump-create-getTransaction-2024.json"


def events():
    return varkel.decode_transaction(load(CREATE), [decoder("pump_legacy")])


def test_type_shape():
    Event = varkel.Event
    assert (Event.__module__, Event.__name__, Event.__qualname__) == ("varkel", "Event", "Event")
    assert Event.__match_args__ == FIELDS
    assert Event.n_fields == Event.n_sequence_fields == len(FIELDS)
    assert issubclass(Event, tuple)
    assert Event.__doc__.startswith("Event(name, data, program_id, instruction, inner, depth, source, log_index, "
                                    "truncated, failed, out_of_step)")
    for field in FIELDS:
        assert getattr(Event, field).__doc__


def test_fields_are_named_and_positional():
    create, trade = events()
    assert tuple(trade) == tuple(getattr(trade, f) for f in FIELDS)
    name, data, program_id, instruction, inner, depth, source, log_index, truncated, failed, out_of_step = trade
    assert (name, instruction, inner, depth, source, log_index) == ("TradeEvent", 5, 3, 1, "log+cpi", 97)
    match create:
        case varkel.Event(name="CreateEvent", source="log+cpi", depth=1, inner=inner):
            assert inner == 14
        case _:
            pytest.fail("no match")
    assert repr(create).startswith("varkel.Event(name='CreateEvent', data={'name': 'excited', 'symbol': 'excited'")


def test_immutable():
    _, trade = events()
    with pytest.raises(AttributeError):
        trade.name = "x"
    with pytest.raises(TypeError):
        trade[0] = "x"


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickles(protocol):
    for event in events():
        back = pickle.loads(pickle.dumps(event, protocol))
        assert type(back) is varkel.Event
        assert back == event and tuple(back) == tuple(event)
    assert copy.deepcopy(events()) == events()


def test_pickles_into_a_fresh_process():
    blob = pickle.dumps(events())
    code = "import pickle, sys; e = pickle.loads(sys.stdin.buffer.read()); print(type(e[0]).__module__, e[1].name)"
    out = subprocess.run([sys.executable, "-c", code], input=blob, capture_output=True, check=True)
    assert out.stdout.decode().split() == ["varkel", "TradeEvent"]


def test_hashable_where_its_data_is():
    _, trade = events()
    with pytest.raises(TypeError, match="unhashable type: 'dict'"):
        hash(trade)
    frozen = varkel.Event(("TradeEvent", tuple(trade.data.items())) + tuple(trade)[2:])
    assert hash(frozen) == hash(tuple(frozen))
    assert {frozen: 1}[varkel.Event(tuple(frozen))] == 1


def test_values_are_fresh_objects_per_call():
    first, second = events(), events()
    assert first == second
    assert first[0].data is not second[0].data


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
@pytest.mark.thread_unsafe(reason="measures the memory of the whole process")
def test_repeated_calls_do_not_grow_memory():
    doc = result_of(load(CREATE))
    text = json.dumps(doc)
    decoders = [decoder("pump_legacy")]
    broken = copy.deepcopy(doc)
    broken["meta"]["innerInstructions"][0]["index"] = 99

    def churn(rounds):
        for _ in range(rounds):
            varkel.decode_transaction(doc, decoders)
            varkel.decode_transaction(text, decoders)
            varkel.decode_logs(doc["meta"]["logMessages"], decoders)
            with pytest.raises(ValueError):
                varkel.decode_transaction(broken, decoders)

    churn(50)
    gc.collect()
    tracemalloc.start()
    before_py, before_rss = tracemalloc.get_traced_memory()[0], rss_bytes()
    churn(500)
    gc.collect()
    after_py, after_rss = tracemalloc.get_traced_memory()[0], rss_bytes()
    tracemalloc.stop()
    # Each round builds over 100 KiB of model and objects: a leak would cost
    # tens of MiB over 500 rounds. The bounds leave room for noise.
    assert after_py - before_py < 256 * 1024
    assert after_rss - before_rss < 16 * 1024 * 1024
