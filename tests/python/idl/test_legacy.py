"""Legacy IDL documents end to end: every real legacy IDL builds a decoder, its
events decode from lines encoded here, a legacy document and its current-format
twin decode the same lines identically, and any field names are accepted."""

import copy
import json
import random
import re

import pytest
from hypothesis import given, settings, strategies as st

from varkel import EventDecoder
from helpers import FIXTURES, data_line, fixture, log_lists
from varkel_support import Sampler, b58encode, event_discriminator

NO_ADDRESS = "failed to parse IDL: Program id missing in `idl.metadata.address` field"
FLOAT_CODE = "failed to parse IDL: invalid type: floating point `6000.0`, expected u32"


# ------------------------------------------------------------ legacy -> current


def snake(name: str) -> str:
    """snake_case of an identifier made of ASCII letters, digits and '_'."""
    assert re.fullmatch(r"[A-Za-z0-9_]*", name), name
    pieces, start, mode = [], 0, None
    for i, x in enumerate(name):
        if x == "_":
            if start == i:
                start = i + 1
            continue
        if i == len(name) - 1:
            pieces.append(name[start:])
            break
        y = name[i + 1]
        m = "lower" if x.islower() else "upper" if x.isupper() else mode
        if y == "_" or (m == "lower" and y.isupper()):
            pieces.append(name[start:i + 1])
            start, mode = i + 1, None
        elif mode == "upper" and x.isupper() and y.islower():
            pieces.append(name[start:i])
            start, mode = i, None
        else:
            mode = m
    return "_".join(p.lower() for p in pieces)


def current_type(ty):
    """A legacy type expression in current-format JSON."""
    if isinstance(ty, str):
        return "pubkey" if ty == "publicKey" else ty
    ((kind, arg),) = ty.items()
    if kind in ("option", "vec"):
        return {kind: current_type(arg)}
    if kind == "array":
        return {"array": [current_type(arg[0]), arg[1]]}
    if kind == "genericLenArray":
        return {"array": [current_type(arg[0]), {"generic": arg[1]}]}
    if kind == "defined":
        return {"defined": {"name": arg}}
    if kind == "generic":
        return {"generic": arg}
    if kind == "definedWithTypeArgs":
        generics = []
        for a in arg["args"]:
            ((k, v),) = a.items()
            generics.append({"kind": "const", "value": v} if k == "value"
                            else {"kind": "type", "type": {"generic": v} if k == "generic" else current_type(v)})
        return {"defined": {"name": arg["name"], "generics": generics}}
    raise ValueError(ty)


def current_fields(fields):
    return [{"name": snake(f["name"]), "type": current_type(f["type"])} for f in fields]


def current_type_def(definition):
    body = definition["type"]
    if body["kind"] == "struct":
        out = {"kind": "struct"}
        if body["fields"]:
            out["fields"] = current_fields(body["fields"])
    elif body["kind"] == "alias":
        out = {"kind": "type", "alias": current_type(body["value"])}
    else:
        variants = []
        for v in body["variants"]:
            variant = {"name": v["name"]}
            fields = v.get("fields")
            if fields is not None:
                named = not fields or (isinstance(fields[0], dict) and "name" in fields[0])
                variant["fields"] = current_fields(fields) if named else [current_type(t) for t in fields]
            variants.append(variant)
        out = {"kind": "enum", "variants": variants}
    return {"name": definition["name"], "type": out}


def current_twin(legacy):
    """The current-format document that the legacy one stands for (events only)."""
    events = legacy.get("events") or []
    types = [current_type_def(t) for t in legacy.get("types", []) + legacy.get("accounts", [])]
    types += [{"name": e["name"], "type": {"kind": "struct", "fields": current_fields(e["fields"])}} for e in events]
    return {
        "address": legacy["metadata"]["address"],
        "metadata": {"name": legacy["name"], "version": legacy["version"], "spec": "0.1.0"},
        "instructions": [],
        "events": [{"name": e["name"], "discriminator": event_discriminator(e["name"])} for e in events],
        "types": types,
    }


class EventSampler(Sampler):
    """The test Sampler, with an empty field list read as no named fields."""

    def sample_fields(self, fields, depth):
        if fields == []:
            return {}, b""
        return super().sample_fields(fields, depth)


# ------------------------------------------------------------------ fixtures


def legacy_fixtures():
    """The legacy IDL fixtures; none (and the tests over them skipped) when absent."""
    return sorted((FIXTURES / "idl" / "legacy").glob("*.json"))


def with_address(doc, address="Legacy1111111111111111111111111111111111111"):
    doc = copy.deepcopy(doc)
    if not isinstance(doc.get("metadata"), dict):
        doc["metadata"] = {}
    doc["metadata"].setdefault("address", address)
    return doc


def loadable(path):
    """The fixture's document with an address, and the one float error code made an integer."""
    doc = with_address(json.loads(path.read_text()))
    for error in doc.get("errors") or []:
        if isinstance(error["code"], float):
            error["code"] = int(error["code"])
    return doc


def test_fixtures_refused_as_they_are():
    fixture("idl", "legacy")
    for path in legacy_fixtures():
        doc = json.loads(path.read_text())
        address = (doc.get("metadata") or {}).get("address")
        if path.name == "meteora-lb_clmm.json":
            with pytest.raises(ValueError) as info:
                EventDecoder(path.read_text())
            assert str(info.value) == FLOAT_CODE
        elif isinstance(address, str):
            EventDecoder(path.read_text())
        else:
            with pytest.raises(ValueError) as info:
                EventDecoder(path.read_text())
            assert str(info.value) == NO_ADDRESS, path.name
    with pytest.raises(ValueError) as info:
        EventDecoder(json.dumps(with_address(json.loads(fixture("idl", "legacy", "meteora-lb_clmm.json").read_text()))))
    assert str(info.value) == FLOAT_CODE


def sample_lines(doc, seed):
    """One line per event whose types all resolve, with the expected record."""
    twin = current_twin(doc)
    sampler = EventSampler(twin["types"], random.Random(seed))
    lines, expected, seen = [], [], set()
    for event in twin["events"]:
        disc = bytes(event["discriminator"])
        if disc in seen:
            continue
        seen.add(disc)
        try:
            value, data = sampler.sample_defined(event["name"], 0)
        except KeyError:  # refers to a type the document does not define
            continue
        lines.append(data_line(disc, data, random.Random(seed + len(lines)).choice(["Program data: ", "Program log: "])))
        expected.append((event["name"], value))
    return lines, expected


@pytest.mark.parametrize("path", legacy_fixtures(), ids=lambda p: p.name)
def test_fixture_events_decode(path):
    doc = loadable(path)
    decoder = EventDecoder(json.dumps(doc))
    assert decoder.event_names == [e["name"] for e in doc.get("events") or []]
    for seed in range(3):
        lines, expected = sample_lines(doc, seed)
        assert decoder.parse_logs(lines) == expected
    if path.name != "anchor-tests-idl-old.json":  # its event refers to types defined elsewhere
        assert len(expected) == len(doc.get("events") or [])


@pytest.mark.parametrize("path", legacy_fixtures(), ids=lambda p: p.name)
def test_fixture_and_current_twin_agree(path):
    doc = loadable(path)
    legacy = EventDecoder(json.dumps(doc))
    current = EventDecoder(json.dumps(current_twin(doc)))
    assert legacy.event_names == current.event_names
    lines, expected = sample_lines(doc, 99)
    noisy = ["Program log: Instruction: Swap", "Program data: AAAAAAAAAAA="]
    for line in lines:
        noisy += [line, line[:-4], "Program data: " + line[14:-8] + "AAAAAAAA"]
    assert legacy.parse_logs(noisy) == current.parse_logs(noisy)
    assert legacy.parse_logs(lines) == expected


@pytest.mark.parametrize(
    "idl_name, log_name",
    [
        ("pumpfun-legacy.json", "chainstack-pump-create-getTransaction-2024.json"),
        ("pumpfun-legacy.json", "chainstack-pump-buy-getTransaction-2024.json"),
        ("drift-v2.json", "drift-v2-mainnet-logs.json"),
    ],
)
def test_real_logs_same_records_as_current_twin(idl_name, log_name):
    doc = loadable(fixture("idl", "legacy", idl_name))
    legacy = EventDecoder(json.dumps(doc))
    current = EventDecoder(json.dumps(current_twin(doc)))
    records = []
    for lines in log_lists(fixture("logs", log_name)):
        got = legacy.parse_logs(lines)
        assert got == current.parse_logs(lines)
        records += got
    assert records
    event_fields = {e["name"]: [snake(f["name"]) for f in e["fields"]] for e in doc["events"]}
    for name, value in records:
        assert list(value) == event_fields[name]


def test_pump_create_event_values():
    doc = loadable(fixture("idl", "legacy", "pumpfun-legacy.json"))
    decoder = EventDecoder(json.dumps(doc))
    (lines,) = log_lists(fixture("logs", "chainstack-pump-create-getTransaction-2024.json"))
    records = dict(decoder.parse_logs(lines))
    create = records["CreateEvent"]
    assert create["name"] == "excited"
    assert set(create) == {"name", "symbol", "uri", "mint", "bonding_curve", "user"}
    assert records["TradeEvent"]["is_buy"] is True
    assert create["mint"] == records["TradeEvent"]["mint"]


# ------------------------------------------------------------- small documents


def legacy_doc(events, types=(), **extra):
    doc = {"version": "0.1.0", "name": "t", "instructions": [], "metadata": {"address": "Prog1"},
           "events": events, "types": list(types)}
    doc.update(extra)
    return doc


def test_event_struct_replaces_type_of_same_name():
    doc = legacy_doc(
        [{"name": "Deposit", "fields": [{"name": "userKey", "type": "publicKey", "index": False},
                                        {"name": "Amount", "type": "u64", "index": True}]}],
        [{"name": "Deposit", "type": {"kind": "struct", "fields": [{"name": "other", "type": "u8"}]}}],
    )
    key = bytes(range(32))
    line = data_line(event_discriminator("Deposit"), key + (5).to_bytes(8, "little"))
    decoded = EventDecoder(json.dumps(doc)).parse_logs([line])
    assert decoded == [("Deposit", {"user_key": b58encode(key), "amount": 5})]


def test_variant_and_type_names_keep_their_case():
    doc = legacy_doc(
        [{"name": "Placed", "fields": [{"name": "BuyOrder", "type": {"defined": "Side"}, "index": False},
                                       {"name": "sizes", "type": {"vec": {"defined": "Size"}}, "index": False}]}],
        [{"name": "Side", "type": {"kind": "enum", "variants": [
            {"name": "BuyOrder"}, {"name": "SellOrder", "fields": [{"name": "limitPrice", "type": "u16"}]},
            {"name": "Both", "fields": ["u8", "bool"]}, {"name": "Empty", "fields": []}]}},
         {"name": "Size", "type": {"kind": "alias", "value": {"array": ["u8", 2]}}}],
    )
    decoder = EventDecoder(json.dumps(doc))
    disc = event_discriminator("Placed")
    sizes = (1).to_bytes(4, "little") + bytes([7, 8])
    lines = [data_line(disc, bytes([0]) + sizes), data_line(disc, bytes([1, 3, 0]) + sizes),
             data_line(disc, bytes([2, 9, 1]) + sizes), data_line(disc, bytes([3]) + sizes)]
    values = [v for _, v in decoder.parse_logs(lines)]
    assert values == [
        {"buy_order": "BuyOrder", "sizes": [[7, 8]]},
        {"buy_order": {"SellOrder": {"limit_price": 3}}, "sizes": [[7, 8]]},
        {"buy_order": {"Both": [9, True]}, "sizes": [[7, 8]]},
        {"buy_order": {"Empty": {}}, "sizes": [[7, 8]]},
    ]


def test_event_without_fields():
    doc = legacy_doc([{"name": "Ping", "fields": []}])
    decoder = EventDecoder(json.dumps(doc))
    assert decoder.parse_logs([data_line(event_discriminator("Ping"))]) == [("Ping", {})]


def test_missing_or_bad_address():
    base = legacy_doc([])
    for metadata in (None, {}, {"address": 5}, {"address": None}, "Prog1", ["Prog1"]):
        doc = dict(base)
        if metadata is None:
            del doc["metadata"]
        else:
            doc["metadata"] = metadata
        with pytest.raises(ValueError) as info:
            EventDecoder(json.dumps(doc))
        assert str(info.value) == NO_ADDRESS, metadata
    EventDecoder(json.dumps(dict(base, metadata={"address": ""})))


# -------------------------------------------------------------- any field names


@settings(max_examples=200, deadline=None)
@given(st.lists(st.text(max_size=12), min_size=1, max_size=10))
def test_any_field_names(names):
    def decode(ordered):
        fields = [{"name": n, "type": "u8", "index": False} for n in ordered]
        doc = legacy_doc([{"name": "E", "fields": fields}],
                         [{"name": "T", "type": {"kind": "struct", "fields": [{"name": n, "type": "u8"} for n in ordered]}}],
                         instructions=[{"name": ordered[0], "accounts": [
                             {"name": n, "isMut": False, "isSigner": False} for n in ordered], "args": []}])
        decoder = EventDecoder(json.dumps(doc))
        records = decoder.parse_logs([data_line(event_discriminator("E"), bytes(range(len(ordered))))])
        assert len(records) == 1 and records[0][0] == "E"
        return records[0][1]

    value = decode(names)
    assert isinstance(value, dict)
    key_of = {}
    for key, index in value.items():
        assert isinstance(key, str)
        assert key == "" or not (key.startswith("_") or key.endswith("_") or "__" in key)
        assert not re.search("[A-Z]", key)
        # The dict holds the value of the last field of each key.
        assert all(names[i] != names[index] for i in range(index + 1, len(names)))
        key_of[names[index]] = key
    assert len(value) <= len(set(names))
    # The same names in another order give the same keys.
    reordered = decode(list(reversed(names)))
    assert set(reordered) == set(value)
    for key, index in reordered.items():
        name = names[len(names) - 1 - index]
        if name in key_of:
            assert key_of[name] == key
    assert decode(names) == value
