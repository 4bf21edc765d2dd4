"""Lists made at their final size: a vec or array whose count fits in the bytes
that remain (at the smallest size of its element) is filled slot by slot;
one the data cannot hold grows by appending. Both give the same values and,
on failure, the same messages; a list that fails half filled leaks nothing."""

import gc
import tracemalloc

import pytest

from decode.test_values import (
    decoded, defined, error_of, field, idl_for, needs_entry, records, struct_def, typedef)
from varkel_support import u32

HOP = struct_def("Hop", [field("pool", "u8"), field("side", defined("Side"))])
SIDE = typedef("Side", {"kind": "enum", "variants": [{"name": "Buy"}, {"name": "Sell", "fields": ["u16"]}]})


def text(s: str) -> bytes:
    raw = s.encode()
    return u32(len(raw)) + raw


# (fields, types, data, value or None, message or None). The comment says which
# path the count takes: "sized" when count <= remaining // smallest element.
CASES = [
    # sized: 2 strings of at least 4 bytes in 9 remaining bytes
    ([field("v", {"vec": "string"})], (), u32(2) + text("abcde"), None,
     "unexpected end of buffer: need 4 byte(s) at offset 13, have 13"),
    ([field("v", {"vec": "string"})], (), u32(2) + text("ab") + text("ü"), {"v": ["ab", "ü"]}, None),
    # sized, exactly as many u16 as the bytes hold; one more takes the append path
    ([field("v", {"vec": "u16"})], (), u32(3) + b"\x01\x00\x02\x00\x03\x00", {"v": [1, 2, 3]}, None),
    ([field("v", {"vec": "u16"})], (), u32(4) + b"\x01\x00\x02\x00\x03\x00", None,
     "unexpected end of buffer: need 2 byte(s) at offset 10, have 10"),
    # arrays: sized when the length fits, appending otherwise
    ([field("a", {"array": ["u16", 3]})], (), b"\x01\x00\x02\x00\x03\x00", {"a": [1, 2, 3]}, None),
    ([field("a", {"array": ["u16", 3]})], (), b"\x01\x00\x02\x00\x03", None,
     "unexpected end of buffer: need 2 byte(s) at offset 4, have 5"),
    # sized vec of structs failing in its third element's enum
    ([field("v", {"vec": defined("Hop")})], [HOP, SIDE], u32(3) + b"\x01\x00" + b"\x02\x01\x07\x00" + b"\x03\x09",
     None, "enum discriminant 9 out of range"),
    ([field("v", {"vec": defined("Hop")})], [HOP, SIDE], u32(2) + b"\x01\x00" + b"\x02\x01\x07\x00",
     {"v": [{"pool": 1, "side": "Buy"}, {"pool": 2, "side": {"Sell": [7]}}]}, None),
    # options take at least their tag: sized
    ([field("v", {"vec": {"option": "u64"}})], (), u32(3) + b"\x01" + bytes(range(8)) + b"\x00\x00",
     {"v": [int.from_bytes(bytes(range(8)), "little"), None, None]}, None),
    # nested sized lists
    ([field("v", {"vec": {"vec": "u8"}})], (), u32(2) + u32(1) + b"\x05" + u32(0), {"v": [[5], []]}, None),
    # a count far beyond the data never reserves: it fails at the first missing element
    ([field("v", {"vec": "u64"})], (), u32(0xFFFFFFFF) + b"\x01" * 8, None,
     "unexpected end of buffer: need 8 byte(s) at offset 12, have 12"),
    ([field("v", {"vec": {"array": ["pubkey", 2]}})], (), u32(1) + b"\x00" * 63, None,
     "unexpected end of buffer: need 32 byte(s) at offset 36, have 67"),
]


@pytest.mark.parametrize(("fields", "types", "data", "value", "message"), CASES)
def test_values(fields, types, data, value, message):
    got = records(idl_for(fields, types), data)
    assert got == ([] if value is None else [("E", value)])


@needs_entry
@pytest.mark.parametrize(("fields", "types", "data", "value", "message"),
                         [c for c in CASES if c[4] is not None])
def test_messages(fields, types, data, value, message):
    assert error_of(idl_for(fields, types), data) == message


@pytest.mark.thread_unsafe(reason="measures the memory of the whole process")
def test_lists_failing_half_filled_leak_nothing():
    # Each line builds a sized list of 64 strings and fails at the last one.
    idl = idl_for([field("v", {"vec": "string"})])
    data = u32(64) + text("x" * 200) * 63 + u32(1000)
    assert records(idl, data) == []

    def churn(rounds):
        for _ in range(rounds):
            records(idl, data)

    churn(50)
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    churn(2000)
    gc.collect()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    # 2000 leaked lists of 63 strings would hold about 30 MB.
    assert after - before < 256 * 1024


def test_sized_list_elements_are_distinct_objects():
    value = decoded(idl_for([field("v", {"vec": {"vec": "u8"}})]), u32(3) + u32(0) * 3)
    assert value == {"v": [[], [], []]}
    assert len({id(x) for x in value["v"]}) == 3
