"""The value decoder: Borsh bytes of an event into Python values.

Each case builds an IDL whose event E is a struct of the fields under test and
feeds one "Program data: " line to parse_logs. Exact decode error messages are
only visible through the test-only module _varkel_testing (built with the C++ tests).
"""

import builtins
import math
import struct
import threading

import pytest

from helpers import SANITIZED, current_idl, data_line, load_testing_decode, same
from varkel import EventDecoder
from varkel_support import b58encode, u32

DISC = [1, 2, 3, 4, 5, 6, 7, 8]
MARK = 0xA5  # a trailing u8 field: proves how many bytes the field before it took

decode_for_test = load_testing_decode()
needs_entry = pytest.mark.skipif(decode_for_test is None, reason="the test-only module _varkel_testing is not built")


def idl_for(fields, types=(), event_def=None):
    """An IDL whose event E is a struct of `fields` (JSON list, or None: no fields)."""
    body = {"kind": "struct"}
    if fields is not None:
        body["fields"] = fields
    definition = {"name": "E", "type": body, **(event_def or {})}
    return current_idl(events=[("E", DISC)], types=[definition, *types])


def field(name, t):
    return {"name": name, "type": t}


def defined(name, generics=None):
    ref = {"name": name}
    if generics is not None:
        ref["generics"] = generics
    return {"defined": ref}


def typedef(name, body, **extra):
    return {"name": name, "type": body, **extra}


def alias(name, t):
    return typedef(name, {"kind": "type", "alias": t})


def struct_def(name, fields=None, **extra):
    body = {"kind": "struct"}
    if fields is not None:
        body["fields"] = fields
    return typedef(name, body, **extra)


def records(idl, data: bytes):
    return EventDecoder(idl).parse_logs([data_line(DISC, data)])


def decoded(idl, data: bytes):
    """The value of the one record, or None when the line gave no record."""
    out = records(idl, data)
    assert len(out) <= 1
    if not out:
        return None
    assert out[0][0] == "E"
    return out[0][1]


def error_of(idl, data: bytes) -> str:
    """The decode error message (through the test entry); the line must also give no record."""
    assert records(idl, data) == []
    if decode_for_test is None:
        pytest.skip("the test-only module _varkel_testing is not built")
    with pytest.raises(ValueError) as info:
        decode_for_test(idl, "E", data)
    return str(info.value)


def f32(bits: int) -> bytes:
    return bits.to_bytes(4, "little")


TEXT = "h\u00e9\u20ac\U0001d11e!abcd"  # 1-, 2-, 3- and 4-byte sequences
KEY_FF = "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG"

SCALARS = [
    ("bool", b"\x00", False),
    ("bool", b"\x01", True),
    ("bool", b"\x02", True),
    ("bool", b"\xff", True),
    ("u8", b"\x00", 0),
    ("u8", b"\xff", 255),
    ("i8", b"\xff", -1),
    ("i8", b"\x80", -128),
    ("i8", b"\x7f", 127),
    ("u16", b"\x34\x12", 4660),
    ("u16", b"\xff\xff", 65535),
    ("i16", b"\xff\x7f", 32767),
    ("i16", b"\x00\x80", -32768),
    ("i16", b"\xff\xff", -1),
    ("u32", b"\xff" * 4, 4294967295),
    ("u32", b"\x01\x00\x00\x00", 1),
    ("i32", b"\x00\x00\x00\x80", -2147483648),
    ("i32", b"\xff\xff\xff\x7f", 2147483647),
    ("u64", b"\xff" * 8, 18446744073709551615),
    ("u64", b"\x00" * 7 + b"\x80", 2**63),
    ("i64", b"\xff" * 8, -1),
    ("i64", b"\x00" * 7 + b"\x80", -(2**63)),
    ("i64", b"\xff" * 7 + b"\x7f", 2**63 - 1),
    ("f32", f32(0x3F800000), 1.0),
    ("f32", f32(0x3DCCCCCD), 0.10000000149011612),  # binary32 0.1 widened exactly
    ("f32", f32(0x00000001), 1.401298464324817e-45),  # smallest subnormal
    ("f32", f32(0x80000000), -0.0),
    ("f32", f32(0x7F800000), math.inf),
    ("f32", f32(0xFF800000), -math.inf),
    ("f64", struct.pack("<d", 0.1), 0.1),
    ("f64", struct.pack("<d", -0.0), -0.0),
    ("f64", struct.pack("<d", 5e-324), 5e-324),
    ("u128", b"\xff" * 16, 340282366920938463463374607431768211455),
    ("i128", b"\xff" * 16, -1),
    ("i128", b"\x00" * 15 + b"\x80", -170141183460469231731687303715884105728),
    ("u128", b"\x00" * 15 + b"\x80", 170141183460469231731687303715884105728),
    ("i128", b"\xff" * 15 + b"\x7f", 2**127 - 1),
    ("u128", b"\x01" + b"\x00" * 15, 1),
    ("u256", b"\xff" * 32,
     115792089237316195423570985008687907853269984665640564039457584007913129639935),
    ("i256", b"\xff" * 32, -1),
    ("u256", b"\x01" + b"\x00" * 31, 1),
    ("i256", b"\x00" * 31 + b"\x80", -(2**255)),
    ("i256", b"\xff" * 31 + b"\x7f", 2**255 - 1),
    ("u256", b"\x00" * 31 + b"\x80", 2**255),
    ("pubkey", b"\x00" * 32, "1" * 32),
    ("pubkey", b"\x00" * 31 + b"\x01", "1" * 31 + "2"),
    ("pubkey", b"\xff" * 32, KEY_FF),
    ("pubkey", b"\x01" + b"\x00" * 31, b58encode(b"\x01" + b"\x00" * 31)),
    ("pubkey", bytes(range(32)), "1thX6LZfHDZZKUs92febYZhYRcXddmzfzF2NvTkPNE"),
    ("bytes", u32(0), b""),
    ("bytes", u32(3) + b"\x00\xffa", b"\x00\xffa"),
    ("string", u32(0), ""),
    ("string", u32(1) + b"\x00", "\x00"),
    ("string", u32(len(TEXT.encode())) + TEXT.encode(), TEXT),
    ({"option": "u16"}, b"\x05\x34\x12", 4660),
    ({"option": "u16"}, b"\x01\x34\x12", 4660),
    ({"option": "u16"}, b"\xff\x34\x12", 4660),
    ({"option": "u16"}, b"\x00", None),
    ({"option": {"option": "u8"}}, b"\x01\x00", None),
    ({"option": {"option": "u8"}}, b"\x01\x01\x07", 7),
    ({"vec": "u8"}, u32(0), []),
    ({"vec": "u8"}, u32(2) + b"\x07\x08", [7, 8]),
    ({"vec": "string"}, u32(2) + u32(1) + b"a" + u32(0), ["a", ""]),
    ({"vec": {"vec": "bool"}}, u32(2) + u32(1) + b"\x03" + u32(0), [[True], []]),
    ({"array": ["u32", 0]}, b"", []),
    ({"array": ["u8", 3]}, b"\x01\x02\x03", [1, 2, 3]),
    ({"array": [{"array": ["i8", 2]}, 2]}, b"\xff\x01\x80\x7f", [[-1, 1], [-128, 127]]),
    ({"array": [{"option": "u8"}, 2]}, b"\x00\x01\x09", [None, 9]),
]


@pytest.mark.parametrize(("t", "data", "expected"), SCALARS)
def test_value(t, data, expected):
    idl = idl_for([field("v", t), field("m", "u8")])
    value = decoded(idl, data + bytes([MARK]))
    assert value is not None
    assert same(value["v"], expected), (value["v"], expected)
    assert value["m"] == MARK
    assert list(value) == ["v", "m"]


@pytest.mark.parametrize(("t", "data", "expected"), [row for row in SCALARS if row[1]])
def test_value_needs_all_its_bytes(t, data, expected):
    assert records(idl_for([field("v", t)]), data[:-1]) == []


def test_ints_and_floats_have_exact_types():
    idl = idl_for([field("b", "bool"), field("u", "u8"), field("f", "f32"), field("w", "u256")])
    value = decoded(idl, b"\x01\x01" + f32(0x3F800000) + b"\x02" + b"\x00" * 31)
    assert value["b"] is True
    assert type(value["u"]) is int and type(value["w"]) is int and value["w"] == 2
    assert type(value["f"]) is float


@pytest.mark.parametrize("bits", [0x7FC00000, 0xFFC00000, 0x7F800001, 0x7FFFFFFF])
def test_f32_nan(bits):
    value = decoded(idl_for([field("v", "f32")]), f32(bits))
    assert isinstance(value["v"], float) and math.isnan(value["v"])


def test_f64_nan():
    value = decoded(idl_for([field("v", "f64")]), struct.pack("<d", math.nan))
    assert math.isnan(value["v"])


def test_trailing_bytes_are_ignored():
    assert decoded(idl_for([field("v", "u32")]), b"\x01\x00\x00\x00\x09") == {"v": 1}


# Event bodies ----------------------------------------------------------------


@pytest.mark.parametrize("data", [b"", b"\x01\x02\x03"])
def test_struct_without_fields_is_empty_dict(data):
    assert decoded(idl_for(None), data) == {}
    assert decoded(idl_for([]), data) == {}


def test_tuple_fields_give_a_list():
    assert decoded(idl_for(["u8", "bool"]), b"\x07\x02") == [7, True]


def test_duplicate_field_names():
    # Both decoded; the key keeps the first position and the last value.
    idl = idl_for([field("a", "u8"), field("a", "u16"), field("m", "u8")])
    value = decoded(idl, b"\x01\x02\x00" + bytes([MARK]))
    assert value == {"a": 2, "m": MARK}
    assert list(value) == ["a", "m"]
    idl = idl_for([field("a", "u8"), field("b", "u8"), field("a", "u8")])
    value = decoded(idl, b"\x01\x02\x03")
    assert list(value.items()) == [("a", 3), ("b", 2)]


def test_field_names_are_kept_as_written():
    idl = idl_for([field("camelCase", "u8"), field("snake_case", "u8"), field("", "u8"), field("\u00e9\u4e2d", "u8")])
    assert decoded(idl, b"\x01\x02\x03\x04") == {"camelCase": 1, "snake_case": 2, "": 3, "\u00e9\u4e2d": 4}


def test_nested_structs():
    types = [
        struct_def("Point", [field("x", "i32"), field("y", "i32")]),
        struct_def("Pair", ["u8", defined("Point")]),
        struct_def("Unit"),
    ]
    idl = idl_for([field("p", defined("Point")), field("q", defined("Pair")), field("u", defined("Unit"))], types)
    data = (5).to_bytes(4, "little") + (-6).to_bytes(4, "little", signed=True) + b"\x09" + b"\x00" * 8
    assert decoded(idl, data) == {"p": {"x": 5, "y": -6}, "q": [9, {"x": 0, "y": 0}], "u": {}}


# Enums -----------------------------------------------------------------------

STATE = typedef("State", {"kind": "enum", "variants": [
    {"name": "Idle"},
    {"name": "Moved", "fields": [field("x", "u8")]},
    {"name": "Flagged", "fields": ["bool"]},
    {"name": "Empty", "fields": []},
]})


@pytest.mark.parametrize(("data", "expected"), [
    (b"\x00", "Idle"),
    (b"\x01\x09", {"Moved": {"x": 9}}),
    (b"\x02\x01", {"Flagged": [True]}),
    (b"\x03", {"Empty": {}}),
])
def test_enum(data, expected):
    idl = idl_for([field("s", defined("State")), field("m", "u8")], [STATE])
    value = decoded(idl, data + bytes([MARK]))
    assert value == {"s": expected, "m": MARK}
    if isinstance(expected, dict):
        assert all(type(k) is str for k in value["s"])


@needs_entry
@pytest.mark.parametrize("d", [4, 5, 255])
def test_enum_discriminant_out_of_range(d):
    idl = idl_for([field("s", defined("State"))], [STATE])
    assert error_of(idl, bytes([d, 0, 0])) == f"enum discriminant {d} out of range"


@needs_entry
def test_enum_without_variants_fails_on_every_byte():
    idl = idl_for([field("s", defined("Never"))], [typedef("Never", {"kind": "enum", "variants": []})])
    assert error_of(idl, b"\x00") == "enum discriminant 0 out of range"


def test_enum_variant_names_as_written():
    types = [typedef("K", {"kind": "enum", "variants": [{"name": "lower_case"}, {"name": "Mixed Name"}]})]
    idl = idl_for([field("a", defined("K")), field("b", defined("K"))], types)
    assert decoded(idl, b"\x00\x01") == {"a": "lower_case", "b": "Mixed Name"}


# Aliases and layout attributes -----------------------------------------------


def test_alias_decodes_like_its_type():
    types = [alias("Amount", "u32"), alias("Maybe", {"option": defined("Amount")}), alias("Again", defined("Maybe"))]
    idl = idl_for([field("a", defined("Amount")), field("b", defined("Again")), field("c", defined("Again"))], types)
    assert decoded(idl, b"\x01\x00\x00\x00\x01\x02\x00\x00\x00\x00") == {"a": 1, "b": 2, "c": None}


LAYOUTS = [
    {"serialization": "bytemuck"},
    {"serialization": "bytemuckunsafe"},
    {"serialization": {"custom": "mine"}},
    {"repr": {"kind": "transparent"}},
    {"repr": {"kind": "c", "packed": True}},
    {"repr": {"kind": "rust", "align": 16}},
    {"serialization": "bytemuck", "repr": {"kind": "c", "align": 8}},
]


@pytest.mark.parametrize("layout", LAYOUTS)
def test_layout_attributes_are_ignored(layout):
    types = [struct_def("P", [field("x", "u8"), field("y", "u64")], **layout)]
    idl = idl_for([field("p", defined("P")), field("z", "u16")], types, event_def=layout)
    assert decoded(idl, b"\x01" + b"\x02" + b"\x00" * 7 + b"\x03\x00") == {"p": {"x": 1, "y": 2}, "z": 3}


# Decode errors -----------------------------------------------------------------


def string_field():
    return [field("s", "string")]


ERRORS = [
    ([field("v", "u8")], (), b"", "unexpected end of buffer: need 1 byte(s) at offset 0, have 0"),
    ([field("v", "u32")], (), b"\x01\x02\x03", "unexpected end of buffer: need 4 byte(s) at offset 0, have 3"),
    (string_field(), (), u32(10) + b"abcde", "unexpected end of buffer: need 10 byte(s) at offset 4, have 9"),
    ([field("a", {"array": ["u8", 5]}), field("b", "u16")], (), b"\x00" * 6,
     "unexpected end of buffer: need 2 byte(s) at offset 5, have 6"),
    ([field("v", {"vec": "u8"})], (), u32(3) + b"\x01\x02", "unexpected end of buffer: need 1 byte(s) at offset 6, have 6"),
    ([field("v", {"vec": "u8"})], (), b"\x03\x00", "unexpected end of buffer: need 4 byte(s) at offset 0, have 2"),
    ([field("v", "bytes")], (), u32(0xFFFFFFFF) + b"x",
     "unexpected end of buffer: need 4294967295 byte(s) at offset 4, have 5"),
    ([field("v", "u128")], (), b"\x00" * 15, "unexpected end of buffer: need 16 byte(s) at offset 0, have 15"),
    ([field("v", "i256")], (), b"\x00" * 31, "unexpected end of buffer: need 32 byte(s) at offset 0, have 31"),
    ([field("v", "pubkey")], (), b"\x00" * 31, "unexpected end of buffer: need 32 byte(s) at offset 0, have 31"),
    ([field("v", {"option": "u16"})], (), b"\x01\x00", "unexpected end of buffer: need 2 byte(s) at offset 1, have 2"),
    (string_field(), (), u32(2) + b"a\xff", "invalid utf-8: invalid utf-8 sequence of 1 bytes from index 1"),
    (string_field(), (), u32(2) + b"\xe2\x82", "invalid utf-8: incomplete utf-8 byte sequence from index 0"),
    (string_field(), (), u32(3) + b"\xed\xa0\x80", "invalid utf-8: invalid utf-8 sequence of 1 bytes from index 0"),
    (string_field(), (), u32(3) + b"\xe2\x82\x41", "invalid utf-8: invalid utf-8 sequence of 2 bytes from index 0"),
    (string_field(), (), u32(2) + b"\xc0\x80", "invalid utf-8: invalid utf-8 sequence of 1 bytes from index 0"),
    ([field("p", defined("point"))], [struct_def("Point", [field("x", "u8")])], b"\x01",
     "unknown defined type 'point'"),
    ([field("p", defined("Nope"))], (), b"", "unknown defined type 'Nope'"),
    ([field("p", defined("Nope", [{"kind": "type", "type": "u8"}]))], (), b"",
     "generic defined type 'Nope' is not supported"),
    ([field("p", defined("Box", [{"kind": "const", "value": "4"}]))],
     [struct_def("Box", [field("x", "u8")])], b"\x01", "generic defined type 'Box' is not supported"),
    ([field("p", {"generic": "T"})], (), b"\x01", "generic type parameter is not supported"),
    ([field("p", {"array": ["u8", {"generic": "N"}]})], (), b"", "generic array length is not supported"),
    ([field("a", "u8"), field("p", {"generic": "T"})], (), b"", "unexpected end of buffer: need 1 byte(s) at offset 0, have 0"),
]


@needs_entry
@pytest.mark.parametrize(("fields", "types", "data", "message"), ERRORS)
def test_decode_error_message(fields, types, data, message):
    assert error_of(idl_for(fields, types), data) == message


@pytest.mark.parametrize(("fields", "types", "data", "message"), ERRORS)
def test_decode_error_gives_no_record(fields, types, data, message):
    assert records(idl_for(fields, types), data) == []


def test_unsupported_features_not_reached_are_not_noticed():
    types = [typedef("G", {"kind": "enum", "variants": [
        {"name": "Plain"},
        {"name": "Gen", "fields": [{"generic": "T"}]},
        {"name": "Len", "fields": [{"array": ["u8", {"generic": "N"}]}]},
        {"name": "Ref", "fields": [defined("X", [{"kind": "type", "type": "u8"}])]},
    ]})]
    idl = idl_for([field("o", {"option": {"generic": "T"}}), field("g", defined("G"))], types)
    assert decoded(idl, b"\x00\x00") == {"o": None, "g": "Plain"}
    for d in (1, 2, 3):
        assert records(idl, bytes([0, d])) == []


def test_a_failed_line_does_not_stop_the_batch():
    decoder = EventDecoder(idl_for([field("v", "string")]))
    lines = [data_line(DISC, u32(1) + b"a"), data_line(DISC, u32(1) + b"\xff"), data_line(DISC, u32(1) + b"b")]
    assert decoder.parse_logs(lines) == [("E", {"v": "a"}), ("E", {"v": "b"})]


# 256-bit integers go through int.from_bytes, looked up at every value --------


class _FailingInt(int):
    @classmethod
    def from_bytes(cls, *args, **kwargs):
        raise RuntimeError("from_bytes refused")


class _UnprintableError(Exception):
    def __str__(self):
        raise TypeError("no text")


class _UnprintableInt(int):
    @classmethod
    def from_bytes(cls, *args, **kwargs):
        raise _UnprintableError()


_INT = int  # the real type, while builtins.int is replaced


class _RecordingInt(int):
    calls = []

    @classmethod
    def from_bytes(cls, *args, **kwargs):
        cls.calls.append((args, kwargs))
        return _INT.from_bytes(*args, **kwargs)


def _with_builtin_int(replacement, action):
    original = builtins.int
    builtins.int = replacement
    try:
        return action()
    finally:
        builtins.int = original


@pytest.mark.thread_unsafe(reason="replaces builtins.int for the whole process")
def test_int256_calls_from_bytes_as_specified():
    _RecordingInt.calls.clear()
    decoder = EventDecoder(idl_for([field("a", "i256"), field("b", "u256")]))
    line = data_line(DISC, b"\xff" * 64)
    out = _with_builtin_int(_RecordingInt, lambda: decoder.parse_logs([line]))
    assert out == [("E", {"a": -1, "b": 2**256 - 1})]
    assert _RecordingInt.calls == [((b"\xff" * 32, "little"), {"signed": True}),
                                   ((b"\xff" * 32, "little"), {"signed": False})]


@pytest.mark.thread_unsafe(reason="replaces builtins.int for the whole process")
def test_int256_failure_is_a_decode_error():
    idl = idl_for([field("a", "u256")])
    decoder = EventDecoder(idl)
    line = data_line(DISC, b"\x00" * 32)
    assert _with_builtin_int(_FailingInt, lambda: decoder.parse_logs([line])) == []
    if decode_for_test is None:
        pytest.skip("the test-only module _varkel_testing is not built")

    def run(replacement):
        def call():
            try:
                decode_for_test(idl, "E", b"\x00" * 32)
            except ValueError as exc:
                return str(exc)
            return None
        return _with_builtin_int(replacement, call)

    assert run(_FailingInt) == "RuntimeError: from_bytes refused"
    assert run(_UnprintableInt) == "_UnprintableError: <exception str() failed>"
    assert decoder.parse_logs([line]) == [("E", {"a": 0})]  # restored


# Guards: types that loop without consuming data, and zero-width elements ------

DEPTH_MESSAGE = "type nesting exceeds 256 levels"
ZERO_WIDTH_MESSAGE = "more than 1048576 zero-width elements"

EMPTY = struct_def("Empty")

LOOPS = [
    ([field("v", defined("Loop"))], [alias("Loop", defined("Loop"))]),
    ([field("v", defined("A"))], [alias("A", defined("B")), alias("B", defined("A"))]),
    ([field("v", defined("S"))], [struct_def("S", [field("s", defined("S")), field("x", "u8")])]),
    ([field("v", defined("S"))], [struct_def("S", [defined("S")])]),
    ([field("v", defined("S"))], [struct_def("S", [field("a", {"array": [defined("S"), 1]})])]),
    ([field("v", defined("S"))], [struct_def("S", [field("t", defined("T"))]), alias("T", {"array": [defined("S"), 2]})]),
    ([field("v", defined("S"))], [struct_def("S", [field("e", defined("Empty")), field("s", defined("S"))]), EMPTY]),
]


@pytest.mark.parametrize(("fields", "types"), LOOPS)
def test_type_loop_fails_the_event(fields, types):
    assert records(idl_for(fields, types), b"\x01" * 64) == []


@needs_entry
@pytest.mark.parametrize(("fields", "types"), LOOPS)
def test_type_loop_message(fields, types):
    assert error_of(idl_for(fields, types), b"\x01" * 64) == DEPTH_MESSAGE


def option_chain(links: int):
    """T0 = option<T1>, ..., T{links-1} = option<T{links}>, T{links} = u8:
    two nesting levels per link, one more for the last reference."""
    types = [alias(f"T{i}", {"option": defined(f"T{i + 1}")}) for i in range(links)]
    types.append(alias(f"T{links}", "u8"))
    return idl_for([field("v", defined("T0"))], types), b"\x01" * links + b"\x2a"


def test_deep_nesting_within_the_limit_decodes():
    idl, data = option_chain(127)  # 255 levels
    assert decoded(idl, data) == {"v": 42}


@needs_entry
def test_nesting_past_the_limit_fails():
    idl, data = option_chain(128)  # 257 levels
    assert error_of(idl, data) == DEPTH_MESSAGE


LIST = typedef("List", {"kind": "enum", "variants": [
    {"name": "Nil"},
    {"name": "Cons", "fields": ["u8", defined("List")]},
]})


def cons_list(n: int):
    return b"".join(b"\x01" + bytes([i % 256]) for i in range(n)) + b"\x00"


def expected_list(n: int):
    value = "Nil"
    for i in reversed(range(n)):
        value = {"Cons": [i % 256, value]}
    return value


def test_recursive_enum_decodes_within_the_limit():
    idl = idl_for([field("l", defined("List"))], [LIST])
    assert decoded(idl, cons_list(255)) == {"l": expected_list(255)}


@needs_entry
def test_recursive_enum_past_the_limit_fails():
    idl = idl_for([field("l", defined("List"))], [LIST])
    assert error_of(idl, cons_list(256)) == DEPTH_MESSAGE
    assert error_of(idl, cons_list(5000)) == DEPTH_MESSAGE


def smallest_thread_stack() -> int:
    """The least stack size threading.stack_size accepts: 32 KiB on most
    builds, more on some (3.14 asks for 52 KiB); searched page by page."""
    for size in range(32 * 1024, 1024 * 1024 + 1, 4096):
        try:
            previous = threading.stack_size(size)
        except ValueError:
            continue
        threading.stack_size(previous)
        return size
    raise AssertionError("threading.stack_size accepts no size up to 1 MiB")


def on_thread_with_stack(size, work):
    previous = threading.stack_size(size)
    try:
        thread = threading.Thread(target=work)
        thread.start()
    finally:
        threading.stack_size(previous)
    thread.join()


@pytest.mark.thread_unsafe(reason="threading.stack_size is process-wide")
def test_guards_hold_on_a_small_thread_stack():
    # The deepest legal decode and the loops run on a thread with 512 KiB of stack.
    results = []

    def work():
        idl, data = option_chain(127)
        results.append(decoded(idl, data))
        results.append(records(idl_for([field("l", defined("List"))], [LIST]), cons_list(20000)))
        for fields, types in LOOPS:
            results.append(records(idl_for(fields, types), b"\x01" * 64))

    on_thread_with_stack(512 * 1024, work)
    assert results == [{"v": 42}, []] + [[] for _ in LOOPS]


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer's frames are several times larger: 32 KiB of stack "
                    "cannot hold the interpreter's calls, whatever the decoder leaves free")
@pytest.mark.thread_unsafe(reason="threading.stack_size is process-wide")
def test_tiny_thread_stack_fails_deep_events_instead_of_crashing():
    # The least stack threading.stack_size allows (32 KiB on most builds): too
    # little for 256 levels, so nesting stops where the stack ends; shallow
    # events still decode.
    results, errors = [], []

    def work():
        results.append(decoded(idl_for([field("v", {"option": {"vec": "u8"}})]), b"\x01\x01\x00\x00\x00\x07"))
        results.append(records(idl_for([field("l", defined("List"))], [LIST]), cons_list(5000)))
        for fields, types in LOOPS:
            results.append(records(idl_for(fields, types), b"\x01" * 64))
        if decode_for_test is not None:
            errors.append(error_of(idl_for([field("l", defined("List"))], [LIST]), cons_list(5000)))

    on_thread_with_stack(smallest_thread_stack(), work)
    assert results == [{"v": [7]}, []] + [[] for _ in LOOPS]
    assert all(e.startswith("type nesting exceeds the thread's stack at ") for e in errors)


ZERO_WIDTH = [
    ([field("v", {"vec": defined("Empty")})], [EMPTY], u32(0xFFFFFFFF)),
    ([field("v", {"vec": defined("Nothing")})], [struct_def("Nothing", [])], u32(0xFFFFFFFF)),
    ([field("v", {"vec": {"array": ["u64", 0]}})], (), u32(0xFFFFFFFF)),
    ([field("v", {"vec": defined("E0")})], [alias("E0", defined("Empty")), EMPTY], u32(0x00100001)),
    ([field("v", {"array": [defined("Empty"), 18446744073709551615]})], [EMPTY], b""),
    ([field("v", {"vec": {"vec": defined("Empty")}})], [EMPTY], u32(1) + u32(0xFFFFFFFF)),
    ([field("v", {"array": [{"array": [defined("Empty"), 1 << 30]}, 1 << 30]})], [EMPTY], b""),
    ([field("v", {"vec": {"array": [defined("Empty"), 1024]}})], [EMPTY], u32(0xFFFFFFFF)),
]


@pytest.mark.parametrize(("fields", "types", "data"), ZERO_WIDTH)
def test_zero_width_flood_fails_the_event(fields, types, data):
    # Without the cap these would build billions of objects (or never end).
    assert records(idl_for(fields, types), data) == []


@needs_entry
@pytest.mark.parametrize(("fields", "types", "data"), ZERO_WIDTH)
def test_zero_width_flood_message(fields, types, data):
    assert error_of(idl_for(fields, types), data) == ZERO_WIDTH_MESSAGE


def test_zero_width_elements_within_the_budget_decode():
    types = [EMPTY, struct_def("Nothing", [])]
    idl = idl_for([
        field("a", {"vec": defined("Empty")}),
        field("b", {"array": [defined("Nothing"), 3]}),
        field("c", {"vec": {"array": ["u8", 0]}}),
        field("m", "u8"),
    ], types)
    value = decoded(idl, u32(1000) + u32(2) + bytes([MARK]))
    assert value == {"a": [{}] * 1000, "b": [{}, {}, {}], "c": [[], []], "m": MARK}
    assert value["a"][0] is not value["a"][1]  # distinct objects


def test_large_sequences_of_real_data_decode():
    n = 200_000
    idl = idl_for([field("v", {"vec": "u8"}), field("w", {"array": ["bool", n]})])
    value = decoded(idl, u32(n) + bytes(i % 256 for i in range(n)) + b"\x01" * n)
    assert value["v"] == [i % 256 for i in range(n)]
    assert value["w"] == [True] * n
