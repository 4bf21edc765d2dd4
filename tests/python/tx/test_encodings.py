"""One transaction, every encoding and every input form: the same events.
The other encodings are built here from each fixture (the wire bytes from the
"json" form, the "json" form from the wire bytes)."""

import base64
import copy
import json

import pytest

import varkel
from tx.test_real_transactions import CASES, IDS
from tx.txdata import as_json, decoder, json_from_wire, load, result_of, wire_from_json, with_encoding

ENCODINGS = ["json", "jsonParsed", "base64", "base58"]


def full(events):
    return [tuple(e) for e in events]


@pytest.mark.parametrize("encoding", ENCODINGS)
@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_every_encoding_gives_the_same_events(name, keys, expected, encoding):
    decoders = [decoder(k) for k in keys]
    original = result_of(load(name))
    reference = full(varkel.decode_transaction(original, decoders))
    assert len(reference) == len(expected)
    converted = with_encoding(original, encoding)
    assert full(varkel.decode_transaction(converted, decoders)) == reference


@pytest.mark.parametrize("name, keys, expected", CASES[:3], ids=IDS[:3])
def test_the_old_binary_encoding_a_bare_base58_string(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    original = result_of(load(name))
    bare = with_encoding(original, "base58")
    bare["transaction"] = bare["transaction"][0]
    assert full(varkel.decode_transaction(bare, decoders)) == full(varkel.decode_transaction(original, decoders))


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_every_input_form_gives_the_same_events(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    doc = load(name)
    reference = full(varkel.decode_transaction(doc, decoders))
    text = json.dumps(doc)
    envelope = doc if "jsonrpc" in doc else {"jsonrpc": "2.0", "result": doc, "id": 7}
    for form in (text, text.encode(), bytearray(text.encode()), memoryview(text.encode()), json.dumps(envelope),
                 envelope, json.dumps(doc, indent=2)):
        assert full(varkel.decode_transaction(form, decoders)) == reference
    # A block's transaction: no slot, no blockTime.
    block_tx = {k: v for k, v in result_of(doc).items() if k in ("transaction", "meta", "version")}
    assert full(varkel.decode_transaction(block_tx, decoders)) == reference


def stringify_numbers(node, keys=("slot", "programIdIndex", "stackHeight", "index")):
    """Numbers of those members as decimal strings, as hand-made dumps have them."""
    if isinstance(node, dict):
        return {k: (str(v) if k in keys and isinstance(v, int) else stringify_numbers(v, keys))
                for k, v in node.items()}
    if isinstance(node, list):
        return [stringify_numbers(v, keys) for v in node]
    return node


@pytest.mark.parametrize("name, keys, expected", CASES[:4], ids=IDS[:4])
def test_numbers_as_strings(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    doc = as_json(result_of(load(name)))
    assert full(varkel.decode_transaction(stringify_numbers(doc), decoders)) == full(
        varkel.decode_transaction(doc, decoders))


@pytest.mark.parametrize("name", ["pump_amm-sell-buy-tx-slot387020561.json",
                                  "chainstack-pump-create-blockSubscribe-2025.json"])
def test_the_encoders_of_these_tests_round_trip_real_wire_bytes(name):
    doc = result_of(load(name))
    wire = base64.b64decode(doc["transaction"][0])
    assert wire_from_json(json_from_wire(doc)) == wire


def test_a_dict_changed_after_the_call_does_not_matter():
    # The events own their data: mutating the input afterwards changes nothing.
    doc = copy.deepcopy(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    decoders = [decoder("okx"), decoder("pump_amm")]
    events = varkel.decode_transaction(doc, decoders)
    before = full(events)
    doc["result"]["meta"]["logMessages"].clear()
    doc["result"]["meta"]["innerInstructions"].clear()
    assert full(events) == before
