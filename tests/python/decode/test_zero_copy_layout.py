"""Zero-copy layouts: the engine (through the test-only module) against the
ctypes twin of tests/support/zero_copy_twin.py.

The engine's size, alignment and field offsets must equal the twin's for
every zero-copy account of the shared fixture IDLs, and both must agree on
every other type definition there (the same layout, or both refuse it). A
small IDL written here anchors both to layouts worked out by hand, and the
twin's random memory images are checked field by field. Random memory images
of every one of those accounts, written by the twin with padding left as
drawn, decode to the values the twin wrote.
"""

import json
import random
import re
import struct

import pytest

from helpers import current_idl, load_testing_module
from varkel_support import FIXTURES, b58encode
from zero_copy_twin import TwinRefusal, layout, random_instance

testing = load_testing_module()
engine_layout = getattr(testing, "zero_copy_layout", None)
needs_engine = pytest.mark.skipif(engine_layout is None, reason="the test-only module _varkel_testing is not built")


def fixture_documents():
    """(file name, JSON text) of every current-format fixture IDL (the legacy
    format has no serialization, so no zero-copy account)."""
    folder = FIXTURES / "idl" / "current"
    if not folder.is_dir():
        return []
    return [(path.name, path.read_text()) for path in sorted(folder.glob("*.json"))]


DOCUMENTS = fixture_documents()


def zero_copy_accounts():
    cases = []
    for file_name, text in DOCUMENTS:
        doc = json.loads(text)
        types = {t["name"]: t for t in doc.get("types", [])}
        for account in doc.get("accounts", []):
            definition = types.get(account["name"])
            if definition and definition.get("serialization") in ("bytemuck", "bytemuckunsafe"):
                cases.append(pytest.param(text, account["name"], id=f"{file_name}:{account['name']}"))
    return cases


def all_definitions():
    return [pytest.param(text, id=file_name) for file_name, text in DOCUMENTS]


def engine(text, name):
    """The engine's layout as (size, align, [(field, offset), ...])."""
    got = engine_layout(text, name)
    return got["size"], got["align"], list(got["offsets"].items())


def twin(text, name):
    size, align, offsets = layout(text, name)
    return size, align, list(offsets.items())


@needs_engine
@pytest.mark.parametrize(("text", "name"), zero_copy_accounts())
def test_fixture_accounts_match_the_twin(text, name):
    assert engine(text, name) == twin(text, name)


@needs_engine
@pytest.mark.parametrize("text", all_definitions())
def test_every_fixture_definition_agrees_or_both_refuse(text):
    for definition in json.loads(text).get("types", []):
        name = definition["name"]
        try:
            expected = twin(text, name)
        except TwinRefusal:
            with pytest.raises(ValueError, match=f"^zero-copy type {re.escape(repr(name))}"):
                engine(text, name)
            continue
        assert engine(text, name) == expected, name


def test_fixture_accounts_are_found():
    if not DOCUMENTS:
        pytest.skip(f"fixture not available: {FIXTURES / 'idl' / 'current'}")
    assert len(zero_copy_accounts()) >= 40


# ---------------------------------------------------------- a small IDL here


def field(name, ty):
    return {"name": name, "type": ty}


def defined(name):
    return {"defined": {"name": name}}


def struct_def(name, fields, repr_=None, **extra):
    definition = {"name": name, "type": {"kind": "struct", "fields": fields}, **extra}
    if repr_ is not None:
        definition["repr"] = repr_
    return definition


C = {"kind": "c"}
SMALL = current_idl(types=[
    # u64 then u8: 7 bytes of tail padding, so an array of them strides by 16
    struct_def("Slot", [field("amount", "u64"), field("flag", "u8")], C),
    struct_def("Packed", [field("tag", "u8"), field("value", "u64"), field("wide", "u128")],
               {"kind": "rust", "packed": True}),
    struct_def("Aligned", [field("b", "u8")], {"kind": "c", "align": 16}),
    {"name": "Side", "type": {"kind": "enum", "variants": [{"name": "Bid"}, {"name": "Ask"}]}},
    struct_def("Book", [
        field("version", "u8"),           # 0
        field("amount", "u64"),           # 8: implicit padding 1..8
        field("slots", {"array": [defined("Slot"), 3]}),  # 16, 3 x 16
        field("tail", "u16"),             # 64
        field("packed", defined("Packed")),  # 66, 25 bytes, aligned to 1
        field("side", defined("Side")),   # 91
        field("big", "i128"),             # 96: aligned to 8, not 16
        field("aligned", defined("Aligned")),  # 112
        field("key", "pubkey"),           # 128
        field("price", "f64"),            # 160
        field("ok", "bool"),              # 168
        field("ratio", "f32"),            # 172
    ], C, serialization="bytemuck"),
])

HAND = {
    "Slot": (16, 8, {"amount": 0, "flag": 8}),
    "Packed": (25, 1, {"tag": 0, "value": 1, "wide": 9}),
    "Aligned": (16, 16, {"b": 0}),
    "Side": (1, 1, {}),
    "Book": (176, 16, {"version": 0, "amount": 8, "slots": 16, "tail": 64, "packed": 66, "side": 91,
                       "big": 96, "aligned": 112, "key": 128, "price": 160, "ok": 168, "ratio": 172}),
}


@pytest.mark.parametrize("name", sorted(HAND))
def test_the_twin_gives_the_hand_computed_layouts(name):
    size, align, offsets = layout(SMALL, name)
    assert (size, align, offsets) == HAND[name]
    assert list(offsets) == list(HAND[name][2])  # field order kept


@needs_engine
@pytest.mark.parametrize("name", sorted(HAND))
def test_the_engine_gives_the_hand_computed_layouts(name):
    size, align, offsets = HAND[name]
    assert engine(SMALL, name) == (size, align, list(offsets.items()))


@needs_engine
def test_refusals_raise_value_error_with_the_engine_message():
    text = current_idl(types=[struct_def("Pool", [field("fees", defined("Fees"))], C),
                              struct_def("Fees", [field("base", {"vec": "u8"})], C)])
    with pytest.raises(ValueError) as refused:
        engine_layout(text, "Pool")
    assert str(refused.value) == "zero-copy type 'Pool': field 'fees.base' has type vec, which has no fixed memory layout"
    with pytest.raises(TwinRefusal):
        layout(text, "Pool")


def read(ty, data, offset):
    """The value at `offset` of a primitive type, read with struct."""
    formats = {"u8": "<B", "u16": "<H", "u64": "<Q", "f64": "<d", "f32": "<f", "bool": "<?"}
    if ty in formats:
        return struct.unpack_from(formats[ty], data, offset)[0]
    if ty == "i128":
        return int.from_bytes(data[offset:offset + 16], "little", signed=True)
    if ty == "u128":
        return int.from_bytes(data[offset:offset + 16], "little")
    if ty == "pubkey":
        return b58encode(data[offset:offset + 32])
    raise AssertionError(ty)


@pytest.mark.parametrize("seed", range(5))
def test_the_twin_memory_images_hold_the_values_it_reports(seed):
    data, value = random_instance(SMALL, "Book", random.Random(seed))
    assert len(data) == 176
    offsets = HAND["Book"][2]
    for name, ty in [("version", "u8"), ("amount", "u64"), ("tail", "u16"), ("big", "i128"), ("key", "pubkey"),
                     ("price", "f64"), ("ok", "bool"), ("ratio", "f32")]:
        assert read(ty, data, offsets[name]) == value[name], name
    for i, slot in enumerate(value["slots"]):
        base = offsets["slots"] + 16 * i
        assert (read("u64", data, base), read("u8", data, base + 8)) == (slot["amount"], slot["flag"])
    packed = offsets["packed"]
    assert (read("u8", data, packed), read("u64", data, packed + 1), read("u128", data, packed + 9)) == \
        (value["packed"]["tag"], value["packed"]["value"], value["packed"]["wide"])
    assert value["side"] == ["Bid", "Ask"][data[offsets["side"]]]
    assert value["aligned"] == {"b": data[offsets["aligned"]]}
    assert list(value) == list(offsets)


def test_the_twin_memory_images_keep_random_padding():
    # Padding is left as drawn, so a decoder that reads it would see garbage.
    pads = set()
    for seed in range(20):
        data, _ = random_instance(SMALL, "Book", random.Random(seed))
        pads.add(data[1:8])
    assert len(pads) > 1


# ------------------------------------------- the decoder against the twin

def with_book_account(text):
    doc = json.loads(text)
    doc["accounts"] = [{"name": "Book", "discriminator": [7, 6, 5, 4, 3, 2, 1, 0]}]
    return json.dumps(doc)


@pytest.mark.parametrize(("text", "name"), [pytest.param(with_book_account(SMALL), "Book", id="Book")]
                         + zero_copy_accounts())
def test_random_memory_images_decode_to_the_twins_values(text, name):
    from varkel import EventDecoder
    decoder = EventDecoder(text)
    discriminator = bytes(next(a["discriminator"] for a in json.loads(text)["accounts"] if a["name"] == name))
    rng = random.Random(name)
    for _ in range(3):
        data, value = random_instance(text, name, rng)
        assert decoder.decode_account(discriminator + data) == (name, value)
