"""Real transactions: every getTransaction fixture gives the events its SOURCES
line lists, attributed to the right program, instruction and depth, each once
although the pump programs both log and CPI-emit them; the values are those
of parse_logs; the logs alone give the same events; an independent twin
agrees."""

import re

import pytest

import varkel
from helpers import fixture
from tx.twin import twin_logs, twin_transaction
from tx.txdata import CLMM, OKX, PUMP, PUMP_AMM, DRIFT, decoder, load, result_of, with_encoding

# (fixture, decoders, [(event, program, instruction, inner, depth, source)]).
# The pump programs emit every event twice (a "Program data:" line and a
# self-CPI whose inner instruction is `inner`); the OKX router and the
# Raydium CLMM only log theirs, from their top-level frame.
CASES = [
    ("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", ["okx", "pump_amm"],
     [("BuyEvent", PUMP_AMM, 7, 8, 2, "log+cpi"), ("SwapEvent", OKX, 7, None, 1, "log")]),
    ("pump_amm-sell-buy-tx-slot387020561.json", ["pump_amm"],
     [("SellEvent", PUMP_AMM, 5, 4, 1, "log+cpi"), ("BuyEvent", PUMP_AMM, 8, 4, 1, "log+cpi")]),
    ("agavesim-pump_amm-buy-tx-5bvyp1no.json", ["pump_amm"], [("BuyEvent", PUMP_AMM, 1, 4, 1, "log+cpi")]),
    ("agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json", ["clmm"], [("SwapEvent", CLMM, 4, None, 1, "log")]),
    ("chainstack-pump-create-blockSubscribe-2025.json", ["pump_2025"], [("TradeEvent", PUMP, 4, 6, 2, "log+cpi")]),
    ("chainstack-pump-buy-getTransaction-2024.json", ["pump_legacy"],
     [("TradeEvent", PUMP, 2, 3, 1, "log+cpi"), ("TradeEvent", PUMP, 3, 1, 1, "log+cpi")]),
    ("chainstack-pump-create-getTransaction-2024.json", ["pump_legacy"],
     [("CreateEvent", PUMP, 3, 14, 1, "log+cpi"), ("TradeEvent", PUMP, 5, 3, 1, "log+cpi")]),
]
IDS = [c[0].split(".")[0] for c in CASES]


def attribution(events):
    return [(e.name, e.program_id, e.instruction, e.inner, e.depth, e.source) for e in events]


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_events_attributed(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    events = varkel.decode_transaction(load(name), decoders)
    assert attribution(events) == expected
    for e in events:
        assert (e.truncated, e.failed, e.out_of_step) == (False, False, False)
        assert isinstance(e, varkel.Event)


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_values_are_those_of_parse_logs(name, keys, expected):
    doc = result_of(load(name))
    lines = doc["meta"]["logMessages"]
    decoders = {d.program_id: d for d in (decoder(k) for k in keys)}
    for e in varkel.decode_transaction(doc, decoders.values()):
        assert lines[e.log_index].startswith("Program data: ")
        assert decoders[e.program_id].parse_logs([lines[e.log_index]]) == [(e.name, e.data)]


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_each_program_alone_and_each_event_once(name, keys, expected):
    doc = load(name)
    for key in keys:
        d = decoder(key)
        alone = d.decode_transaction(doc)
        assert attribution(alone) == [x for x in expected if x[1] == d.program_id]
        # parse_logs finds the event lines of this program's events, and more
        # when another program logs events of the same name: never fewer.
        assert len(d.parse_logs(result_of(doc)["meta"]["logMessages"])) >= len(alone)


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_logs_alone_give_the_logged_events(name, keys, expected):
    doc = result_of(load(name))
    decoders = [decoder(k) for k in keys]
    from_tx = varkel.decode_transaction(doc, decoders)
    from_logs = varkel.decode_logs(doc["meta"]["logMessages"], decoders)
    # The same events, lines and depths; the inner index is the logging frame's
    # (counted from the lines), and no CPI is seen.
    assert [(e.name, e.data, e.program_id, e.depth, e.log_index) for e in from_logs] == [
        (e.name, e.data, e.program_id, e.depth, e.log_index) for e in from_tx]
    assert {e.source for e in from_logs} == {"log"}
    for e in from_logs:
        assert e.instruction is not None
        assert (e.inner is None) == (e.depth == 1)


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_twin_agrees(name, keys, expected):
    doc = result_of(load(name))
    if isinstance(doc["transaction"], list):
        doc = with_encoding(doc, "json")  # the twin reads the JSON forms
    decoders = [decoder(k) for k in keys]
    got = [(e.name, e.data, e.program_id, e.instruction, e.inner, e.depth, e.source, e.log_index, e.truncated)
           for e in varkel.decode_transaction(doc, decoders)]
    assert got == twin_transaction(doc, decoders)
    events, out_of_step, failed = twin_logs(doc["meta"]["logMessages"], decoders)
    assert [tuple(e) for e in events] == [
        (e.name, e.data, e.program_id, e.instruction, e.inner, e.depth, e.source, e.log_index, e.truncated)
        for e in varkel.decode_logs(doc["meta"]["logMessages"], decoders)]
    assert (out_of_step, failed) == (False, False)


TEXT_EVENT = re.compile(r"^Program log: SwapEvent \{ dex: (\w+), amount_in: (\d+), amount_out: (\d+) \}$")


def test_okx_route_swap_equals_its_printed_text_and_pump_amm_runs_inside_it():
    doc = result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    lines = doc["meta"]["logMessages"]
    buy, swap = varkel.decode_transaction(doc, [decoder("okx"), decoder("pump_amm")])
    dex, amount_in, amount_out = next(m.groups() for m in map(TEXT_EVENT.match, lines) if m)
    assert swap.data == {"dex": dex, "amount_in": int(amount_in), "amount_out": int(amount_out)}
    # pump_amm's buy is the swap's leg: same amounts, inside the router's frame.
    assert buy.data["quote_amount_in"] <= int(amount_in) and buy.data["base_amount_out"] == int(amount_out)
    assert buy.instruction == swap.instruction and buy.depth == swap.depth + 1
    assert buy.log_index < swap.log_index


def test_pump_events_are_logged_and_emitted_with_the_same_bytes():
    # Every pump_amm "Program data:" line has a self-CPI twin: counted both
    # ways, one event each.
    doc = result_of(load("pump_amm-sell-buy-tx-slot387020561.json"))
    events = decoder("pump_amm").decode_transaction(doc)
    data_lines = [line for line in doc["meta"]["logMessages"] if line.startswith("Program data: ")]
    assert len(events) == len(data_lines) == 2
    assert all(e.source == "log+cpi" for e in events)


def test_meta_only_fixtures_decode_from_their_logs():
    okx = decoder("okx")
    meta = load("carbon-okx-swapevent-tx-meta.json")
    (swap,) = okx.decode_logs(meta["logMessages"])
    assert (swap.name, swap.program_id, swap.instruction, swap.inner, swap.depth) == ("SwapEvent", OKX, 3, None, 1)
    assert swap.data == {"dex": "MeteoraDlmm", "amount_in": 9372599925000, "amount_out": 1700985700449}
    # Moonshot's TradeEvent line: no IDL; OKX's decoder finds nothing there.
    assert okx.decode_logs(load("carbon-moonshot-tradeevent-tx-meta.json")["logMessages"]) == []


def test_drift_logs_and_the_line_of_another_program_inside_a_cpi():
    drift = decoder("drift")
    expected = ["CurveRecord", "FundingRateRecord", "SpotInterestRecord", "SpotInterestRecord", "SwapRecord"]
    names = []
    for case in load("drift-v2-mainnet-logs.json"):
        events = drift.decode_logs(case["logs"])
        names += [e.name for e in events]
        assert all(e.program_id == DRIFT and not e.out_of_step for e in events)
        assert [(e.name, e.data) for e in events] == drift.parse_logs(case["logs"])
    assert names == expected


def test_anchor_docs_event():
    idl = ('{"address": "8T7MsCZyzxboviPJg5Rc7d8iqEcDReYR2pkQKrmbg7dy", "metadata": {"name": "e", "version": "0.1.0",'
           ' "spec": "0.1.0"}, "instructions": [], "events": [{"name": "CustomEvent", "discriminator": '
           '[101, 189, 94, 83, 118, 162, 97, 220]}], "types": [{"name": "CustomEvent", "type": {"kind": "struct", '
           '"fields": [{"name": "message", "type": "string"}]}}]}')
    lines = fixture("logs", "anchor-docs-custom-event-logs.txt").read_text().splitlines()
    (event,) = varkel.EventDecoder(idl).decode_logs(lines)
    assert (event.name, event.data, event.instruction, event.depth) == ("CustomEvent", {"message": "Hello, Solana!"}, 0, 1)


def test_failed_transactions_keep_their_events():
    doc = result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    doc["meta"]["err"] = {"InstructionError": [7, {"Custom": 6001}]}
    doc["meta"]["status"] = {"Err": doc["meta"]["err"]}
    events = varkel.decode_transaction(doc, [decoder("okx"), decoder("pump_amm")])
    assert [(e.name, e.failed) for e in events] == [("BuyEvent", True), ("SwapEvent", True)]


# (budget, expected events, out of step)
TRUNCATIONS = [
    # Invoke and success lines fit: the frames stay whole, the swap's line
    # fits too; only the buy's line and the "consumed" lines are gone.
    (70, [("BuyEvent", "cpi", True, 7, 8), ("SwapEvent", "log", True, 7, None)], False),
    # Only lines of 50 bytes fit: pump_amm's success line is gone, so the
    # swap's line, which does fit, lands in pump_amm's frame and is no event
    # of either program. The buy is still found from its self-CPI.
    (50, [("BuyEvent", "cpi", True, 7, 8)], True),
]


@pytest.mark.parametrize("budget, expected, out_of_step", TRUNCATIONS)
def test_truncated_logs_and_the_cpi_that_survives_them(budget, expected, out_of_step):
    # The runtime's log budget runs out at pump_amm's event line: that line
    # becomes "Log truncated", later lines longer than what is left are
    # dropped and shorter ones kept, as the runtime does.
    doc = result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    lines = doc["meta"]["logMessages"]
    at = next(i for i, line in enumerate(lines) if line.startswith("Program data: Z/RSH"))
    lines[at:] = ["Log truncated"] + [line for line in lines[at + 1:] if len(line) <= budget]
    decoders = [decoder("okx"), decoder("pump_amm")]
    events = varkel.decode_transaction(doc, decoders)
    assert [(e.name, e.source, e.truncated, e.instruction, e.inner) for e in events] == expected
    assert all(e.out_of_step == out_of_step for e in events)
    # The logs alone lose the buy.
    assert [(e.name, e.truncated) for e in varkel.decode_logs(lines, decoders)] == [
        (name, True) for name, source, *_ in expected if source == "log"]
