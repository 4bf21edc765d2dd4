"""The exception classes: what a caller catches, and the attributes it reads
instead of parsing the text (the texts themselves are tested where each
failure is)."""

import json
import pickle

import pytest

import varkel
from varkel import EventDecoder, IdlError, InternalError, ProgramIdError, TransactionError
from helpers import REPO, current_idl

PUMP_IDL = (REPO / "examples" / "pump-legacy" / "idl.json").read_text()
PUMP_TX = (REPO / "examples" / "pump-legacy" / "transactions.jsonl").read_text().splitlines()[0]


def test_classes():
    for cls in (IdlError, TransactionError, ProgramIdError):
        assert issubclass(cls, ValueError) and cls.__module__ == "varkel"
    assert issubclass(InternalError, BaseException) and not issubclass(InternalError, Exception)
    assert InternalError.__module__ == "varkel"


@pytest.mark.parametrize("text, message, lineno, colno", [
    ("{", "failed to parse IDL: EOF while parsing an object at line 1 column 1", 1, 1),
    ('{\n  "address": tru}', "failed to parse IDL: expected ident at line 2 column 17", 2, 17),
    (current_idl(["Missing"]), "event 'Missing' has no matching type definition in idl.types", None, None),
    ('{"address": ""}', "failed to parse IDL: missing field `version`", None, None),
])
def test_idl_error_position(text, message, lineno, colno):
    with pytest.raises(IdlError) as caught:
        EventDecoder(text)
    assert str(caught.value) == message
    assert (caught.value.lineno, caught.value.colno) == (lineno, colno)


def broken(path, value):
    """The bundled transaction with the member at `path` replaced."""
    doc = json.loads(PUMP_TX)
    node = doc
    for key in path[:-1]:
        node = node[key]
    node[path[-1]] = value
    return doc


@pytest.mark.parametrize("tx, path, lineno", [
    (lambda: broken(["result", "meta", "innerInstructions", 0, "index"], 99),
     "result.meta.innerInstructions[0].index", None),
    (lambda: broken(["result", "slot"], "soon"), "result.slot", None),
    (lambda: json.dumps(broken(["result", "transaction", "message", "accountKeys", 1], "0OIl")),
     "result.transaction.message.accountKeys[1]", None),
    (lambda: PUMP_TX[:200], None, 1),
    (lambda: broken(["result", "meta", "logMessages", 2], "\udc80"), "result.meta.logMessages[2]", None),
    (lambda: "[]", None, None),
])
def test_transaction_error_path(tx, path, lineno):
    decoder = EventDecoder(PUMP_IDL)
    with pytest.raises(TransactionError) as caught:
        decoder.decode_transaction(tx())
    assert caught.value.path == path
    assert caught.value.lineno == lineno
    if path is not None:
        assert path + ": " in str(caught.value)


@pytest.mark.parametrize("idls, decoder, reason", [
    ([current_idl(address="")], "decoders[0]", "the IDL has no program address (\"address\" is empty), so no "
                                                "event can be attributed to its program"),
    ([PUMP_IDL, PUMP_IDL], "decoders[1]", "program 6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P already has a "
                                          "decoder (decoders[0])"),
])
def test_program_id_error(idls, decoder, reason):
    with pytest.raises(ProgramIdError) as caught:
        varkel.decode_logs([], [EventDecoder(text) for text in idls])
    assert (caught.value.decoder, caught.value.reason) == (decoder, reason)
    assert str(caught.value) == f"{decoder}: {reason}"


def test_errors_pickle_with_attributes():
    with pytest.raises(IdlError) as caught:
        EventDecoder("{")
    copy = pickle.loads(pickle.dumps(caught.value))
    assert type(copy) is IdlError and str(copy) == str(caught.value) and (copy.lineno, copy.colno) == (1, 1)
