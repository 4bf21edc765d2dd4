"""EventDecoder pickles as its IDL text and copies as itself, within a process
and across processes (spawned workers, a fresh interpreter)."""

import copy
import multiprocessing
import pickle
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

import pytest

import varkel
from varkel import EventDecoder
from helpers import REPO, current_idl, fixture, struct

SAMPLES = [
    (REPO / "examples" / "okx-dex" / "idl.json", REPO / "examples" / "okx-dex" / "swap.log"),  # current IDL
    (REPO / "examples" / "pump-legacy" / "idl.json", REPO / "examples" / "pump-legacy" / "trades.log"),  # legacy
]


def sample(index):
    idl_path, log_path = SAMPLES[index]
    return idl_path.read_text(), log_path.read_text().splitlines()


# Run in spawned worker processes: they import this module afresh.
def decode_pickled(payload: bytes, lines: list[str]):
    decoder = pickle.loads(payload)
    return type(decoder).__module__, decoder.event_names, decoder.parse_logs(lines)


def build_and_return(idl_json: str) -> EventDecoder:
    return EventDecoder(idl_json)


@pytest.mark.parametrize("index", range(len(SAMPLES)))
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_round_trip_every_protocol(index, protocol):
    text, lines = sample(index)
    decoder = EventDecoder(text)
    events = decoder.parse_logs(lines)
    assert events  # the samples hold events
    again = pickle.loads(pickle.dumps(decoder, protocol))
    assert type(again) is EventDecoder
    assert again is not decoder
    assert again.event_names == decoder.event_names
    assert again.parse_logs(lines) == events
    assert again.__reduce__() == decoder.__reduce__()


def test_reduce_gives_the_rebuilding_function_and_the_idl_text():
    text = current_idl(events=["Ev"], types=[struct("Ev", [("a", "u8")])])
    assert EventDecoder(text).__reduce__() == (varkel._varkel._decoder_from_idl, (text,))
    assert varkel._varkel._decoder_from_idl.__module__ == "varkel._varkel"
    assert type(varkel._varkel._decoder_from_idl(text)) is EventDecoder
    assert EventDecoder(idl_json=text).__reduce__()[1][0] is text


def test_str_subclass_pickles_as_plain_text():
    class Text(str):
        pass

    text = current_idl(events=["Ev"], types=[struct("Ev")])
    kept = EventDecoder(Text(text)).__reduce__()[1][0]
    assert type(kept) is str and kept == text
    assert pickle.loads(pickle.dumps(EventDecoder(Text(text)))).event_names == ["Ev"]


def test_copies_are_the_decoder_itself():
    decoder = EventDecoder(sample(0)[0])
    assert copy.copy(decoder) is decoder
    assert copy.deepcopy(decoder) is decoder
    holder = {"a": decoder, "b": [decoder]}
    copied = copy.deepcopy(holder)
    assert copied is not holder and copied["b"] is not holder["b"]
    assert copied["a"] is decoder and copied["b"][0] is decoder


def test_large_fixture_idl_round_trips():
    text = fixture("idl", "current", "pump-fun-pump_amm.json").read_text()
    decoder = EventDecoder(text)
    again = pickle.loads(pickle.dumps(decoder))
    assert again.event_names == decoder.event_names
    assert again.__reduce__()[1][0] == text


def test_spawned_workers_decode_what_the_parent_decodes():
    context = multiprocessing.get_context("spawn")
    jobs = [sample(i) for i in range(len(SAMPLES))]
    with ProcessPoolExecutor(max_workers=2, mp_context=context) as pool:
        # A decoder pickled in the parent is rebuilt in each worker ...
        got = list(pool.map(decode_pickled, [pickle.dumps(EventDecoder(t)) for t, _ in jobs], [l for _, l in jobs]))
        # ... and a decoder built in a worker comes back to the parent.
        returned = list(pool.map(build_and_return, [t for t, _ in jobs]))
    for (text, lines), (module, names, events), back in zip(jobs, got, returned):
        decoder = EventDecoder(text)
        assert (module, names, events) == ("builtins", decoder.event_names, decoder.parse_logs(lines))
        assert type(back) is EventDecoder
        assert back.parse_logs(lines) == events


def test_fresh_interpreter_unpickles_without_importing_varkel_first(tmp_path):
    text, lines = sample(1)
    path = tmp_path / "decoder.pickle"
    path.write_bytes(pickle.dumps(EventDecoder(text)))
    code = (
        "import pickle, sys\n"
        "decoder = pickle.loads(open(sys.argv[1], 'rb').read())\n"
        "print(repr(decoder.parse_logs(open(sys.argv[2]).read().splitlines())))\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", code, str(path), str(SAMPLES[1][1])], capture_output=True, text=True, check=True
    )
    assert out.stdout.strip() == repr(EventDecoder(text).parse_logs(lines))
