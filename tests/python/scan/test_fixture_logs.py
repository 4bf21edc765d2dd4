"""Real transaction logs decode with their programs' IDLs; mixed synthetic batches."""

import json
import random
import re

import pytest

from varkel import EventDecoder
from helpers import data_line, fixture, log_lists
from varkel_support import Sampler, event_discriminator


def decoder_for(kind, name):
    return EventDecoder(fixture("idl", kind, name).read_text())


PUMP_AMM = ("current", "pump-fun-pump_amm-2026-01-10.json")
OKX = ("current", "okx-dex_solana.json")

CASES = [
    ("carbon-okx-swapevent-tx-meta.json", OKX, ["SwapEvent"]),
    ("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", OKX, ["SwapEvent"]),
    ("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", PUMP_AMM, ["BuyEvent"]),
    ("agavesim-pump_amm-buy-tx-5bvyp1no.json", PUMP_AMM, ["BuyEvent"]),
    ("pump_amm-sell-buy-tx-slot387020561.json", PUMP_AMM, ["SellEvent", "BuyEvent"]),
    ("agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json", ("current", "raydium-amm_v3-clmm.json"), ["SwapEvent"]),
    ("chainstack-pump-create-blockSubscribe-2025.json", ("current", "pump-fun-pump-2025-05-08.json"), ["TradeEvent"]),
    ("chainstack-pump-buy-getTransaction-2024.json", ("legacy", "pumpfun-legacy.json"), ["TradeEvent", "TradeEvent"]),
    ("chainstack-pump-create-getTransaction-2024.json", ("legacy", "pumpfun-legacy.json"), ["CreateEvent", "TradeEvent"]),
    (
        "drift-v2-mainnet-logs.json",
        ("legacy", "drift-v2.json"),
        ["CurveRecord", "FundingRateRecord", "SpotInterestRecord", "SpotInterestRecord", "SwapRecord"],
    ),
    ("carbon-moonshot-tradeevent-tx-meta.json", OKX, []),
]

# Legacy IDLs without metadata.address get the program's address, as their users do.
ADDRESSES = {"pumpfun-legacy.json": "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P", "drift-v2.json": "dRiftyHA39MWEi3m9aunc5MzRF1JYuBsbn6VPcn33UH"}


def load_decoder(kind, name):
    doc = json.loads(fixture("idl", kind, name).read_text())
    if kind == "legacy" and not isinstance((doc.get("metadata") or {}).get("address"), str):
        doc.setdefault("metadata", {})["address"] = ADDRESSES[name]
    return EventDecoder(json.dumps(doc))


@pytest.mark.parametrize("log_name, idl, expected", CASES, ids=[f"{c[0]}|{c[1][1]}" for c in CASES])
def test_fixture_logs_decode(log_name, idl, expected):
    decoder = load_decoder(*idl)
    names = []
    for lines in log_lists(fixture("logs", log_name)):
        names += [name for name, _ in decoder.parse_logs(lines)]
    assert names == expected


TEXT_EVENT = re.compile(r"^Program log: SwapEvent \{ dex: (\w+), amount_in: (\d+), amount_out: (\d+) \}$")


@pytest.mark.parametrize(
    "log_name", ["carbon-okx-swapevent-tx-meta.json", "agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"]
)
def test_okx_swaps_equal_their_printed_text(log_name):
    decoder = load_decoder(*OKX)
    (lines,) = log_lists(fixture("logs", log_name))
    printed = [m.groups() for m in map(TEXT_EVENT.match, lines) if m]
    decoded = [v for _, v in decoder.parse_logs(lines)]
    assert len(printed) == len(decoded) == 1
    dex, amount_in, amount_out = printed[0]
    assert decoded[0] == {"dex": dex, "amount_in": int(amount_in), "amount_out": int(amount_out)}


def test_anchor_docs_custom_event():
    idl = {
        "address": "8T7MsCZyzxboviPJg5Rc7d8iqEcDReYR2pkQKrmbg7dy",
        "metadata": {"name": "e", "version": "0.1.0", "spec": "0.1.0"},
        "instructions": [],
        "events": [{"name": "CustomEvent", "discriminator": [101, 189, 94, 83, 118, 162, 97, 220]}],
        "types": [{"name": "CustomEvent", "type": {"kind": "struct", "fields": [{"name": "message", "type": "string"}]}}],
    }
    lines = fixture("logs", "anchor-docs-custom-event-logs.txt").read_text().splitlines()
    assert EventDecoder(json.dumps(idl)).parse_logs(lines) == [("CustomEvent", {"message": "Hello, Solana!"})]


def test_anchor_misc_events():
    def event(name, ty):
        return {"name": name, "discriminator": event_discriminator(name)}, {
            "name": name, "type": {"kind": "struct", "fields": [{"name": "data", "type": ty}]}}

    pairs = [event("E1", "u32"), event("E2", "u32"), event("E3", "u32"),
             event("E5", {"array": ["u8", 10]}), event("E6", {"array": ["u8", 11]})]
    idl = {"address": "x", "metadata": {"name": "misc", "version": "0.1.0", "spec": "0.1.0"},
           "instructions": [], "events": [p[0] for p in pairs], "types": [p[1] for p in pairs]}
    lines = fixture("logs", "anchor-misc-testSimulate-program-data.txt").read_text().splitlines()
    assert EventDecoder(json.dumps(idl)).parse_logs(lines) == [
        ("E1", {"data": 44}), ("E2", {"data": 1234}), ("E3", {"data": 9}),
        ("E5", {"data": list(range(1, 11))}), ("E6", {"data": list(range(1, 12))}),
    ]


NOISE = [
    "Program ComputeBudget111111111111111111111111111111 invoke [1]",
    "Program log: Instruction: Swap",
    "Program 11111111111111111111111111111111 success",
    "Program consumed 23456 of 200000 compute units",
    "Program data: AAAAAAAAAAA=",
    "Program log: not base64 at all",
]


def mixed_batch(idl_doc, seed):
    """Every event of the IDL (with random values), between noise lines."""
    sampler = Sampler(idl_doc.get("types", []), random.Random(seed))
    seen, lines, expected = set(), [], []
    for event in idl_doc.get("events", []):
        disc = bytes(event["discriminator"])
        if disc in seen:
            continue  # a shadowed event decodes as the first of its discriminator
        seen.add(disc)
        value, data = sampler.sample_defined(event["name"], 0)
        prefix = random.Random(seed + len(lines)).choice(["Program data: ", "Program log: "])
        lines.append(data_line(disc, data, prefix))
        expected.append((event["name"], value))
        lines.extend(random.Random(len(lines)).sample(NOISE, 2))
    return lines, expected


def test_every_fixture_event_in_one_batch():
    folder = fixture("idl", "current")
    total = 0
    for path in sorted(folder.glob("*.json")):
        doc = json.loads(path.read_text())
        lines, expected = mixed_batch(doc, seed=len(path.name))
        decoder = EventDecoder(path.read_text())
        assert decoder.parse_logs(lines) == expected, path.name
        split = []
        for start in range(0, len(lines), 5):
            split += decoder.parse_logs(lines[start:start + 5])
        assert split == expected, path.name
        total += len(expected)
    assert total > 150
