"""Forged events, built from real transactions: a line of another program that
carries the program's discriminator, a line outside any frame, a CPI to the
program without the event tag, with the tag but not a self-invoke, an
instruction of another program carrying the tag, a top-level instruction
carrying it. None yields an event."""

import copy

import pytest

import varkel
from tx.txdata import (EVENT_TAG, OKX, PUMP_AMM, as_json, b58decode, b58encode, data_line, decoder, invoke, load,
                       result_of, success)

ROUTE = "agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"
SELL_BUY = "pump_amm-sell-buy-tx-slot387020561.json"
TOKEN = "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA"


def route():
    return as_json(result_of(load(ROUTE)))


def decoders():
    return [decoder("okx"), decoder("pump_amm")]


def places(events):
    """What attribution says, without the line numbers (lines are inserted)."""
    return [(e.name, e.program_id, e.instruction, e.inner, e.depth, e.source) for e in events]


def buy_line(doc):
    lines = doc["meta"]["logMessages"]
    return next(i for i, line in enumerate(lines) if line.startswith("Program data: Z/RSH"))


def key_index(doc, key):
    message = doc["transaction"]["message"]
    loaded = doc["meta"]["loadedAddresses"]
    return (message["accountKeys"] + loaded["writable"] + loaded["readonly"]).index(key)


REFERENCE = [("BuyEvent", PUMP_AMM, 7, 8, 2, "log+cpi"), ("SwapEvent", OKX, 7, None, 1, "log")]


def test_reference():
    assert places(varkel.decode_transaction(route(), decoders())) == REFERENCE


@pytest.mark.parametrize("where", ["in a token program frame", "before any frame", "after every frame"])
def test_a_line_of_another_program_or_of_nobody(where):
    doc = route()
    lines = doc["meta"]["logMessages"]
    forged = lines[buy_line(doc)]
    if where == "in a token program frame":
        at = next(i for i, line in enumerate(lines) if line == f"Program {TOKEN} invoke [3]") + 2
    else:
        at = 0 if where == "before any frame" else len(lines)
    lines.insert(at, forged)
    events = varkel.decode_transaction(doc, decoders())
    assert places(events) == REFERENCE
    assert not any(e.out_of_step for e in events)
    # parse_logs, which reads lines without attribution, takes the bait.
    assert len(decoder("pump_amm").parse_logs(lines)) == 2
    assert places(varkel.decode_logs(lines, decoders())) == [
        ("BuyEvent", PUMP_AMM, 7, 2, 2, "log"), ("SwapEvent", OKX, 7, None, 1, "log")]


def cpi_instruction(doc):
    """The pump_amm self-CPI that carries the BuyEvent (instruction 7, inner 8)."""
    group = next(g for g in doc["meta"]["innerInstructions"] if g["index"] == 7)
    return group["instructions"][8]


def test_a_cpi_to_the_program_without_the_tag():
    doc = route()
    ins = cpi_instruction(doc)
    ins["data"] = b58encode(b58decode(ins["data"])[8:])
    assert places(varkel.decode_transaction(doc, decoders())) == [
        ("BuyEvent", PUMP_AMM, 7, 2, 2, "log"), ("SwapEvent", OKX, 7, None, 1, "log")]


def test_the_tag_in_an_instruction_of_another_program():
    doc = route()
    ins = cpi_instruction(doc)
    ins["programIdIndex"] = key_index(doc, TOKEN)
    events = varkel.decode_transaction(doc, decoders())
    assert places(events) == [("BuyEvent", PUMP_AMM, 7, 2, 2, "log"), ("SwapEvent", OKX, 7, None, 1, "log")]
    assert all(e.out_of_step for e in events)  # the logs say pump_amm ran there


def test_only_the_cpi_left():
    # Without its "Program data:" line the event is still there, from the CPI.
    doc = route()
    del doc["meta"]["logMessages"][buy_line(doc)]
    buy, swap = varkel.decode_transaction(doc, decoders())
    assert (buy.name, buy.source, buy.log_index, buy.inner, buy.depth, buy.out_of_step) == (
        "BuyEvent", "cpi", None, 8, 2, False)
    assert swap.source == "log"


def forged_call(doc, data, program=PUMP_AMM):
    """The OKX router's frame calls `program` at depth 2 with `data`: a genuine
    looking CPI (its lines and its inner instruction, in step), but the
    router is the caller: no self-invoke."""
    group = next(g for g in doc["meta"]["innerInstructions"] if g["index"] == 7)
    group["instructions"].append({"programIdIndex": key_index(doc, program), "accounts": [],
                                  "data": b58encode(data), "stackHeight": 2})
    lines = doc["meta"]["logMessages"]
    at = lines.index(f"Program {OKX} consumed 188910 of 303067 compute units")
    lines[at:at] = [invoke(program, 2), success(program)]


def buy_bytes(doc):
    return b58decode(cpi_instruction(doc)["data"])[8:]


@pytest.mark.parametrize("program", [PUMP_AMM, TOKEN])
def test_the_tag_in_a_call_from_another_program(program):
    doc = route()
    forged_call(doc, EVENT_TAG + buy_bytes(doc), program)
    events = varkel.decode_transaction(doc, decoders())
    assert places(events) == REFERENCE
    assert not any(e.out_of_step for e in events)


def test_the_tag_in_a_top_level_instruction():
    doc = route()
    message = doc["transaction"]["message"]
    message["instructions"].append({"programIdIndex": key_index(doc, PUMP_AMM), "accounts": [],
                                    "data": b58encode(EVENT_TAG + buy_bytes(doc)), "stackHeight": None})
    doc["meta"]["logMessages"] += [invoke(PUMP_AMM, 1), success(PUMP_AMM)]
    events = varkel.decode_transaction(doc, decoders())
    assert places(events) == REFERENCE
    assert not any(e.out_of_step for e in events)


def test_the_line_logged_by_a_forged_frame_of_another_program():
    # The router calls the token program, which logs pump_amm's event bytes.
    doc = route()
    forged_call(doc, b"\x03", TOKEN)
    lines = doc["meta"]["logMessages"]
    at = max(i for i, line in enumerate(lines) if line == invoke(TOKEN, 2))  # the forged frame
    lines.insert(at + 1, data_line(buy_bytes(doc)))
    assert places(varkel.decode_transaction(doc, decoders())) == REFERENCE


def test_self_cpi_of_the_program_inside_a_foreign_frame_is_the_programs_own():
    # The sell-buy transaction's events, as a control: self-CPIs from
    # top-level frames, each paired with its line.
    doc = as_json(result_of(load(SELL_BUY)))
    events = decoder("pump_amm").decode_transaction(doc)
    assert [(e.name, e.source, e.depth) for e in events] == [("SellEvent", "log+cpi", 1), ("BuyEvent", "log+cpi", 1)]
    # Its CPIs without their tag: the lines remain, from the top-level frames.
    for group in doc["meta"]["innerInstructions"]:
        for ins in group["instructions"]:
            raw = b58decode(ins["data"])
            if raw[:8] == EVENT_TAG:
                ins["data"] = b58encode(b"\x00" + raw[1:])
    events = decoder("pump_amm").decode_transaction(copy.deepcopy(doc))
    assert [(e.name, e.source, e.inner, e.depth) for e in events] == [
        ("SellEvent", "log", None, 1), ("BuyEvent", "log", None, 1)]
