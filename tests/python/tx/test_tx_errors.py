"""Bad input to decode_logs and decode_transaction: a TypeError or ValueError
that names what is wrong, never a crash and never a partial result."""

import copy
import json

import pytest

import varkel
from varkel import EventDecoder
from helpers import current_idl, struct
from tx.txdata import OKX, as_json, decoder, load, result_of

ROUTE = "agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"


def route():
    return as_json(result_of(load(ROUTE)))


def nested(depth):
    top = node = {}
    for _ in range(depth):
        node["x"] = {}
        node = node["x"]
    return top


def cyclic():
    d = {}
    d["self"] = d
    return d


def edit(change):
    """A real transaction with one change, built when the test runs (the
    fixtures may be absent: the test is then skipped)."""
    def build():
        doc = route()
        change(doc)
        return doc
    return build


def set_path(*path, value):
    def change(doc):
        node = doc
        for key in path[:-1]:
            node = node[key]
        node[path[-1]] = value
    return change


TYPE_ERRORS = [
    ([1], "argument 'tx': 'list' object is not an instance of 'dict | str | bytes'"),
    (None, "argument 'tx': 'None' is not an instance of 'dict | str | bytes'"),
    (5, "argument 'tx': 'int' object is not an instance of 'dict | str | bytes'"),
    ({1: 2}, "argument 'tx': transaction document: a key of type 'int' (JSON keys are str)"),
    ({"meta": {"err": {1, 2}}}, "argument 'tx': meta.err: 'set' object is not JSON data"),
    ({"meta": {"logMessages": [b"Program data: x"]}}, "argument 'tx': meta.logMessages[0]: 'bytes' object is not JSON data"),
]


@pytest.mark.parametrize("tx, message", TYPE_ERRORS)
def test_type_errors(tx, message):
    with pytest.raises(TypeError) as raised:
        decoder("okx").decode_transaction(tx)
    assert str(raised.value) == message


# The reader's messages are tested one by one in C++ (tests/cpp/tx/
# test_tx_reader.cpp); here, what only the package does, and a sample of the
# reader's messages as they reach Python.
VALUE_ERRORS = [
    ({}, "invalid transaction: meta: missing"),
    ("{", "invalid transaction: transaction JSON: EOF while parsing an object at line 1 column 1"),
    ('{"jsonrpc": "2.0", "result": null, "id": 1}', "invalid transaction: result: null (the node has no such transaction)"),
    (nested(200), "argument 'tx': x.x.x.x.x.x.x.x...: nested deeper than 127 levels"),
    (cyclic(), "argument 'tx': self.self.self.self.self.self.self.self...: nested deeper than 127 levels"),
    ({"a": "\ud800"}, "argument 'tx': a: str is not UTF-8 text (it holds a lone surrogate)"),
    ({"a": 10**400}, "argument 'tx': a: integer too large for a JSON number"),
    (edit(set_path("transaction", "message", "accountKeys", 3, value="nope")),
     "invalid transaction: transaction.message.accountKeys[3]: base58 text of 3 bytes, not a 32-byte public key"),
    (edit(set_path("transaction", "message", "instructions", 2, "programIdIndex", value=99)),
     "invalid transaction: transaction.message.instructions[2].programIdIndex: account index 99 is out of range of "
     "the 30 account keys"),
    (edit(set_path("meta", "innerInstructions", 1, "instructions", 2, "data", value="AJTQ0h9")),
     "invalid transaction: meta.innerInstructions[1].instructions[2].data: invalid base58 character '0' at offset 4"),
    (edit(set_path("transaction", value=["AQID", "base64"])),
     "invalid transaction: transaction[0]: wire transaction ends at byte 3 inside the signature 0 bytes (64 bytes "
     "from byte 1)"),
]


@pytest.mark.parametrize("tx, message", VALUE_ERRORS)
def test_value_errors(tx, message):
    tx = tx() if callable(tx) else tx
    with pytest.raises(ValueError) as raised:
        decoder("okx").decode_transaction(tx)
    assert str(raised.value) == message
    with pytest.raises(ValueError) as again:
        varkel.decode_transaction(tx, [decoder("okx"), decoder("pump_amm")])
    assert str(again.value) == message


def test_a_failed_read_leaves_the_input_alone():
    doc = edit(set_path("meta", "innerInstructions", 0, "index", value=10))()
    before = copy.deepcopy(doc)
    with pytest.raises(ValueError):
        decoder("okx").decode_transaction(doc)
    assert doc == before


def test_decoders_argument():
    okx = decoder("okx")
    tx = route()
    with pytest.raises(TypeError, match=r"^argument 'decoders': 'EventDecoder' object is not an instance of "
                                        r"'Iterable\[EventDecoder\]'$"):
        varkel.decode_transaction(tx, okx)
    with pytest.raises(TypeError, match=r"^argument 'decoders\[1\]': 'str' object is not an instance of 'EventDecoder'$"):
        varkel.decode_transaction(tx, [okx, OKX])
    with pytest.raises(ValueError, match=r"^decoders\[1\]: program 6m2CDdhR\w+ already has a decoder \(decoders\[0\]\)$"):
        varkel.decode_transaction(tx, [okx, decoder("okx")])
    with pytest.raises(ValueError, match=r"^decoders\[0\]: the IDL has no program address"):
        varkel.decode_logs([], [decoder("marginfi")])
    assert varkel.decode_transaction(tx, []) == []
    assert varkel.decode_transaction(tx, iter([okx]))[0].name == "SwapEvent"
    assert varkel.decode_transaction(tx, (d for d in [okx]))[0].name == "SwapEvent"


def test_the_decoders_iterable_may_fail():
    def broken():
        yield decoder("okx")
        raise RuntimeError("no more")
    with pytest.raises(RuntimeError, match="no more"):
        varkel.decode_transaction(route(), broken())


@pytest.mark.parametrize("address, message", [
    ("", 'decoder: the IDL has no program address ("address" is empty), so no event can be attributed to its '
         "program"),
    ("x", "decoder: the IDL's program address \"x\" is not a public key: base58 text of 1 bytes, not a 32-byte public "
          "key"),
    ("0" * 32, "decoder: the IDL's program address \"" + "0" * 32 + "\" is not a public key: invalid base58 character "
               "'0' at offset 0"),
])
def test_decoders_without_a_usable_address(address, message):
    d = EventDecoder(current_idl(events=["Ev"], types=[struct("Ev", [("a", "u8")])], address=address))
    assert d.program_id == address
    assert d.parse_logs(["Program data: " + "AAAAAAAAAAA="]) == []  # parse_logs needs no address
    for call in (lambda: d.decode_logs([]), lambda: d.decode_transaction(route())):
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == message


def test_marginfi_has_no_address_and_still_parses_logs():
    marginfi = decoder("marginfi")
    assert marginfi.program_id == ""
    assert marginfi.event_names  # its IDL is read as before
    with pytest.raises(ValueError, match="no program address"):
        marginfi.decode_transaction(route())


def test_program_id_of_both_formats():
    assert decoder("okx").program_id == OKX
    assert decoder("pump_legacy").program_id == "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"  # metadata.address


@pytest.mark.parametrize("call, message", [
    (lambda d: varkel.decode_transaction(), "decode_transaction() missing 2 required positional arguments: 'tx' and "
                                            "'decoders'"),
    (lambda d: varkel.decode_transaction({}), "decode_transaction() missing 1 required positional argument: 'decoders'"),
    (lambda d: varkel.decode_transaction({}, [], 1), "decode_transaction() takes 2 positional arguments but 3 were given"),
    (lambda d: varkel.decode_transaction({}, decoders=[], tx={}), "decode_transaction() got multiple values for "
                                                                  "argument 'tx'"),
    (lambda d: varkel.decode_logs([], decoders=[], lines=[]), "decode_logs() got an unexpected keyword argument 'lines'"),
    (lambda d: d.decode_logs(), "EventDecoder.decode_logs() missing 1 required positional argument: 'logs'"),
    (lambda d: d.decode_transaction(1, 2), "EventDecoder.decode_transaction() takes 1 positional arguments but 2 were "
                                           "given"),
    (lambda d: d.decode_logs("Program data: x"), "argument 'logs': Can't extract `str` to `Vec`"),
    (lambda d: d.decode_logs([b"x"]), "argument 'logs': 'bytes' object is not an instance of 'str'"),
])
def test_argument_binding(call, message):
    with pytest.raises(TypeError) as raised:
        call(decoder("okx"))
    assert str(raised.value) == message


def test_keywords():
    okx = decoder("okx")
    tx = route()
    assert okx.decode_transaction(tx=tx) == okx.decode_transaction(tx)
    logs = tx["meta"]["logMessages"]
    assert okx.decode_logs(logs=logs) == varkel.decode_logs(decoders=[okx], logs=logs)
    assert varkel.decode_transaction(decoders=[okx], tx=json.dumps(tx)) == okx.decode_transaction(tx)
