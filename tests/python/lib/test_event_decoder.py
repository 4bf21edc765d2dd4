"""The EventDecoder type: construction, arguments, event_names, registry rules."""

import gc
import importlib.util
import json
import os
import subprocess
import sys
import tracemalloc

import pytest

import varkel
from varkel import EventDecoder
from helpers import FREE_THREADED, SANITIZED, current_idl, data_line, fixture, rss_bytes, struct
from varkel_support import event_discriminator

EMPTY = current_idl()
ONE = current_idl(events=["Ev"], types=[struct("Ev", [("a", "u8")])])


@pytest.mark.skipif(not FREE_THREADED, reason="a GIL build has no GIL to keep off")
def test_gil_stays_disabled():
    assert sys._is_gil_enabled() is False
    # In a fresh interpreter whose GIL is not forced either way.
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    code = "import sys, varkel; print(sys._is_gil_enabled())"
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


def test_instances_only_through_the_constructor():
    with pytest.raises(TypeError, match="is not safe"):
        object.__new__(EventDecoder)


PUBLIC = ["EventDecoder", "Event", "Instruction", "Transaction", "Account", "EventTable", "IdlError",
          "TransactionError", "ProgramIdError", "InstructionError", "AccountError", "InternalError", "decode_logs",
          "decode_transaction", "decode_instructions", "decode", "decode_block", "decode_tables"]


def test_module_surface():
    assert varkel.__all__ == PUBLIC
    assert varkel._varkel.__all__ == PUBLIC
    assert varkel._varkel.__doc__ == "The compiled extension module: `varkel._varkel`."
    public = {n for n in dir(varkel._varkel) if not n.startswith("_")}
    assert public == set(PUBLIC)
    # Private names: the function that unpickling calls to rebuild a decoder,
    # and the command line's counted variants of the module functions.
    private = {n for n in dir(varkel._varkel) if n.startswith("_") and not n.startswith("__")}
    assert private == {"_decoder_from_idl", "_decode_logs_counted", "_decode_counted", "_decode_tables_counted"}
    assert all(getattr(varkel, name) is getattr(varkel._varkel, name) for name in PUBLIC)


def test_type_shape():
    # The class keeps its "builtins" name; pickling goes through the module
    # function varkel._varkel._decoder_from_idl instead of the class.
    assert EventDecoder.__module__ == "builtins"
    assert EventDecoder.__name__ == EventDecoder.__qualname__ == "EventDecoder"
    assert EventDecoder.__text_signature__ == "(idl_json)"
    assert EventDecoder.__doc__.startswith("Decodes Anchor program events from Solana transaction log lines.\n\n")
    assert "current format (Anchor\n0.30+" in EventDecoder.__doc__
    assert "legacy format of earlier Anchor" in EventDecoder.__doc__
    assert EventDecoder.parse_logs.__text_signature__ == "($self, logs)"
    assert EventDecoder.parse_logs.__doc__.startswith("Decode every recognizable event from a batch")
    assert EventDecoder.event_names.__doc__ == "Names of all events declared in the IDL, in declaration order."
    decoder = EventDecoder(EMPTY)
    assert not hasattr(decoder, "__dict__")
    with pytest.raises(AttributeError):
        decoder.extra = 1
    with pytest.raises(AttributeError):
        decoder.event_names = []
    with pytest.raises(AttributeError):
        del decoder.event_names


def test_not_subclassable():
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("D", (EventDecoder,), {})


def test_same_type_across_module_objects():
    spec = importlib.util.find_spec("varkel._varkel")
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not varkel._varkel
    assert second.EventDecoder is EventDecoder
    assert second.__all__ == PUBLIC
    assert second.Event is varkel.Event
    assert second.EventTable is varkel.EventTable


def test_first_imports_race_to_one_type():
    # A fresh process whose first executions of the extension module run on
    # eight threads at once: every module object gets the same type.
    code = """
import importlib.util, threading, sys
spec = importlib.util.find_spec("varkel._varkel")
barrier, types = threading.Barrier(8), []
def run():
    module = importlib.util.module_from_spec(spec)
    barrier.wait()
    spec.loader.exec_module(module)
    types.append(module.EventDecoder)
threads = [threading.Thread(target=run) for _ in range(8)]
[t.start() for t in threads]
[t.join() for t in threads]
print(len(types), len({id(t) for t in types}), getattr(sys, '_is_gil_enabled', lambda: True)())
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["8", "1", str(not FREE_THREADED)]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "EventDecoder.__new__() missing 1 required positional argument: 'idl_json'"),
        ((EMPTY, EMPTY), {}, "EventDecoder.__new__() takes 1 positional arguments but 2 were given"),
        ((EMPTY,), {"idl_json": EMPTY}, "EventDecoder.__new__() got multiple values for argument 'idl_json'"),
        ((), {"idl": EMPTY}, "EventDecoder.__new__() got an unexpected keyword argument 'idl'"),
        ((b"{}",), {}, "argument 'idl_json': 'bytes' object is not an instance of 'str'"),
        ((None,), {}, "argument 'idl_json': 'None' is not an instance of 'str'"),
        ((5,), {}, "argument 'idl_json': 'int' object is not an instance of 'str'"),
    ],
)
def test_constructor_type_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        EventDecoder(*args, **kwargs)
    assert str(info.value) == message


def test_keyword_and_positional_alike():
    assert EventDecoder(idl_json=ONE).event_names == EventDecoder(ONE).event_names == ["Ev"]


def test_str_subclass_accepted():
    class Text(str):
        pass

    assert EventDecoder(Text(ONE)).event_names == ["Ev"]


def test_lone_surrogate_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        EventDecoder('{"a": "\ud800"}')


@pytest.mark.parametrize(
    "text, message",
    [
        ("not json", "failed to parse IDL: expected ident at line 1 column 2"),
        ("", "failed to parse IDL: EOF while parsing a value at line 1 column 0"),
        ('{"a": [1,', "failed to parse IDL: EOF while parsing a value at line 1 column 9"),
        (
            '{"a": "x\n"}',
            r"failed to parse IDL: control character (\u0000-\u001F) found while parsing a string at line 2 column 0",
        ),
        ('{"metadata": {"spec": "0.2.0"}}', "failed to parse IDL: IDL spec not supported: `0.2.0`"),
    ],
)
def test_unreadable_idl(text, message):
    with pytest.raises(ValueError) as info:
        EventDecoder(text)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "name, message",
    [
        ("i_number_huge_exp.json", "number out of range at line 1 column 17"),
        ("i_string_incomplete_surrogate_and_escape_valid.json", "unexpected end of hex escape at line 1 column 10"),
        ("i_object_key_lone_2nd_surrogate.json", "lone leading surrogate in hex escape at line 1 column 8"),
    ],
)
def test_json_test_suite_messages(name, message):
    text = fixture("json-test-suite", "test_parsing", name).read_text()
    with pytest.raises(ValueError) as info:
        EventDecoder(text)
    assert str(info.value) == "failed to parse IDL: " + message


@pytest.mark.parametrize(
    "events, types, message",
    [
        (["Ev"], [], "event 'Ev' has no matching type definition in idl.types"),
        (["Ev"], [struct("ev")], "event 'Ev' has no matching type definition in idl.types"),
        (["A", "B"], [struct("A")], "event 'B' has no matching type definition in idl.types"),
        (
            ["Ev"],
            [struct("Ev"), {"name": "Ev", "type": {"kind": "enum", "variants": []}}],
            "event 'Ev' type definition is not a struct",
        ),
        (["Ev"], [{"name": "Ev", "type": {"kind": "type", "alias": "u8"}}], "event 'Ev' type definition is not a struct"),
    ],
)
def test_registry_failures(events, types, message):
    with pytest.raises(ValueError) as info:
        EventDecoder(current_idl(events=events, types=types))
    assert str(info.value) == message


def test_event_names():
    decoder = EventDecoder(EMPTY)
    assert decoder.event_names == []
    assert decoder.event_names is not decoder.event_names

    names = ["B", "A", "B"]
    decoder = EventDecoder(current_idl(events=names, types=[struct("A"), struct("B")]))
    assert decoder.event_names == names
    listed = decoder.event_names
    listed.append("C")
    assert decoder.event_names == names


def test_later_type_definition_wins():
    enum_then_struct = [{"name": "Ev", "type": {"kind": "enum", "variants": []}}, struct("Ev", [("a", "u8")])]
    decoder = EventDecoder(current_idl(events=["Ev"], types=enum_then_struct))
    assert decoder.parse_logs([data_line(event_discriminator("Ev"), b"\x07")]) == [("Ev", {"a": 7})]


def test_duplicate_discriminators_first_wins():
    disc = [1, 2, 3, 4, 5, 6, 7, 8]
    types = [struct("A", [("x", "u32")]), struct("B", [("y", "u8")])]
    decoder = EventDecoder(current_idl(events=[("A", disc), ("B", disc), ("A", disc)], types=types))
    assert decoder.event_names == ["A", "B", "A"]
    assert decoder.parse_logs([data_line(disc, b"\x01\x00\x00\x00")]) == [("A", {"x": 1})]
    # The first match fails to decode: the line is skipped, B is never tried.
    assert decoder.parse_logs([data_line(disc, b"\x01")]) == []


@pytest.mark.parametrize("length", [0, 7, 9])
def test_discriminator_not_eight_bytes_never_matches(length):
    disc = list(range(1, length + 1))
    decoder = EventDecoder(current_idl(events=[("Ev", disc)], types=[struct("Ev")]))
    assert decoder.event_names == ["Ev"]
    assert decoder.parse_logs([data_line(disc, b"\x00" * 16)]) == []


def test_struct_without_fields_decodes_to_empty_dict():
    decoder = EventDecoder(current_idl(events=["Ev"], types=[struct("Ev")]))
    assert decoder.parse_logs([data_line(event_discriminator("Ev"))]) == [("Ev", {})]


def test_every_fixture_idl_lists_its_events():
    folder = fixture("idl", "current")
    for path in sorted(folder.glob("*.json")):
        text = path.read_text()
        decoder = EventDecoder(text)
        expected = [e["name"] for e in json.loads(text).get("events", [])]
        assert decoder.event_names == expected, path.name


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
@pytest.mark.thread_unsafe(reason="measures the memory of the whole process")
def test_construction_does_not_leak():
    good = fixture("idl", "current", "pump-fun-pump_amm.json").read_text()
    bad = [good[: len(good) // 2], current_idl(events=["X"]), "[]", good.replace('"spec": "0.1.0"', '"spec": "9"')]

    def churn(rounds):
        for _ in range(rounds):
            EventDecoder(good).event_names
            for text in bad:
                with pytest.raises(ValueError):
                    EventDecoder(text)

    churn(50)
    gc.collect()
    tracemalloc.start()
    before_py, before_rss = tracemalloc.get_traced_memory()[0], rss_bytes()
    churn(500)
    gc.collect()
    after_py, after_rss = tracemalloc.get_traced_memory()[0], rss_bytes()
    tracemalloc.stop()
    # Each good construction builds a registry of well over 100 KiB: a leak
    # would cost tens of MiB over 500 rounds. The bounds leave room for noise
    # and for the interpreter's own tables: on GIL builds the table of interned
    # strings (the decoders' field names are interned) is reallocated once
    # along the way, about 1.9 MiB, and stays.
    assert after_py - before_py < 4 * 1024 * 1024
    assert after_rss - before_rss < 16 * 1024 * 1024
