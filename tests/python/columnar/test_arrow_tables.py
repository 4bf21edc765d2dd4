"""parse_logs_arrow: the tables hold exactly the events that parse_logs returns,
value for value (read back through the type mapping), in the same order per
event name; pyarrow reads them without copying."""

import gc
import json
import math
import random
import sys
import threading

import pytest

from columnar.arrow_values import rows_as_values
from decode.test_borsh_roundtrip import DISC, cases
from helpers import SANITIZED, current_idl, data_line, fixture, log_lists, struct
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from scan.test_fixture_logs import CASES, load_decoder, mixed_batch
from varkel import EventDecoder, EventTable
from varkel_support import Sampler, encode, event_discriminator, int_range

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed for this interpreter")


def bodies(doc):
    return {t["name"]: t["type"] for t in doc.get("types", [])}


def event_fields(doc, name):
    return bodies(doc)[name].get("fields")


def equal(a, b):
    """a == b, with NaN equal to NaN: the two sides hold different float
    objects, and == on containers is true for NaN only when they are one."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(equal(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)) and type(a) is type(b):
        return len(a) == len(b) and all(equal(x, y) for x, y in zip(a, b))
    return a == b


def check_tables(decoder, doc, lines):
    """Every table against parse_logs on the same lines; returns the rows seen."""
    records = decoder.parse_logs(lines)
    tables = decoder.parse_logs_arrow(lines)
    assert list(tables) == list(dict.fromkeys(e["name"] for e in doc.get("events", [])))
    total = 0
    for name, table in tables.items():
        assert isinstance(table, EventTable) and table.name == name
        arrow = pa.table(table)
        arrow.validate(full=True)
        expected = [v for n, v in records if n == name]
        assert arrow.num_rows == table.num_rows == len(table) == len(expected)
        got = rows_as_values(event_fields(doc, name), arrow.to_pylist(), bodies(doc))
        assert equal(got, expected), (name, got, expected)
        total += len(expected)
    assert total == len(records)
    return total


def test_every_fixture_idl():
    folder = fixture("idl", "current")
    total = 0
    for path in sorted(folder.glob("*.json")):
        doc = json.loads(path.read_text())
        decoder = EventDecoder(path.read_text())
        for seed in range(3):
            lines, _ = mixed_batch(doc, seed=seed + len(path.name))
            total += check_tables(decoder, doc, lines)
    assert total > 400


@pytest.mark.parametrize("log_name, idl, expected", CASES, ids=[f"{c[0]}|{c[1][1]}" for c in CASES])
def test_real_transaction_logs(log_name, idl, expected):
    decoder = load_decoder(*idl)
    for lines in log_lists(fixture("logs", log_name)):
        records = decoder.parse_logs(lines)
        tables = decoder.parse_logs_arrow(lines)
        for name, table in tables.items():
            assert table.num_rows == sum(1 for n, _ in records if n == name)
            pa.table(table).validate(full=True)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases(), st.binary(max_size=24), st.integers(0, 2**32 - 1))
def test_random_types_values_and_damaged_lines(case, noise, seed):
    idl, value, data = case
    doc = json.loads(idl)
    rng = random.Random(seed)
    # Whole events, cut events and events with noise, in a random order: the
    # same ones must decode in both forms.
    lines = [data_line(DISC, data)] * 2
    lines += [data_line(DISC, data[: rng.randrange(len(data) + 1)]) for _ in range(3)]
    lines += [data_line(DISC, noise), data_line(DISC, data + noise), data_line(DISC, noise + data)]
    rng.shuffle(lines)
    assert check_tables(EventDecoder(idl), doc, lines) >= 2


# Types ------------------------------------------------------------------------

ENUM_UNIT = {"name": "Side", "type": {"kind": "enum", "variants": [{"name": "Buy"}, {"name": "Sell"}]}}
ENUM_MIXED = {"name": "Move", "type": {"kind": "enum", "variants": [
    {"name": "Stay"}, {"name": "Go", "fields": [{"name": "x", "type": "u8"}]}, {"name": "Jump", "fields": ["i16", "bool"]}]}}


def single(t, value, types=()):
    """The Arrow table of one event E {v: t} with `value`, and the decoder's value."""
    doc = json.loads(current_idl(events=["E"], types=[struct("E", [("v", t)]), *types]))
    decoder = EventDecoder(json.dumps(doc))
    line = data_line(event_discriminator("E"), encode(t, value, bodies(doc)))
    arrow = pa.table(decoder.parse_logs_arrow([line])["E"])
    arrow.validate(full=True)
    assert rows_as_values(event_fields(doc, "E"), arrow.to_pylist(), bodies(doc)) == [
        v for _, v in decoder.parse_logs([line])]
    return arrow


def lo(kind):
    return int_range(kind)[0]


def hi(kind):
    return int_range(kind)[1]


TYPE_CASES = [
    ("u8", 255, pa.uint8()), ("i8", -128, pa.int8()), ("u16", 65535, pa.uint16()), ("i16", -1, pa.int16()),
    ("u32", hi("u32"), pa.uint32()), ("i32", lo("i32"), pa.int32()), ("u64", hi("u64"), pa.uint64()),
    ("i64", lo("i64"), pa.int64()), ("f32", 1.5, pa.float32()), ("f64", -2.25, pa.float64()),
    ("bool", True, pa.bool_()), ("string", "ü✓", pa.string()), ("bytes", b"\x00\xff", pa.binary()),
    ("pubkey", "11111111111111111111111111111112", pa.string()),
    # 128- and 256-bit: always the exact decimal text, whatever the values
    ("u128", 0, pa.string()), ("u128", hi("u128"), pa.string()), ("i128", lo("i128"), pa.string()),
    ("u256", hi("u256"), pa.string()), ("i256", lo("i256"), pa.string()),
    ({"option": "u16"}, None, pa.uint16()), ({"option": "u16"}, 7, pa.uint16()),
    ({"vec": "u8"}, [1, 2], pa.list_(pa.field("item", pa.uint8(), nullable=False))),
    ({"array": ["u32", 3]}, [1, 2, 3], pa.list_(pa.field("item", pa.uint32(), nullable=False), 3)),
    ({"defined": {"name": "Side"}}, "Sell", pa.dictionary(pa.int16(), pa.string())),
    ({"defined": {"name": "Move"}}, {"Jump": [-3, True]}, None),
    ({"option": {"defined": {"name": "Move"}}}, None, None),
]


@pytest.mark.parametrize(("t", "value", "arrow_type"), TYPE_CASES)
def test_type_mapping(t, value, arrow_type):
    arrow = single(t, value, [ENUM_UNIT, ENUM_MIXED])
    if arrow_type is not None:
        assert arrow.schema.field("v").type == arrow_type


def test_enum_with_fields_is_a_struct_of_variant_and_payloads():
    arrow = single({"defined": {"name": "Move"}}, {"Go": {"x": 4}}, [ENUM_MIXED])
    t = arrow.schema.field("v").type
    assert [t.field(i).name for i in range(t.num_fields)] == ["variant", "Go", "Jump"]
    assert t.field("variant").type == pa.dictionary(pa.int16(), pa.string())
    assert arrow.to_pylist() == [{"v": {"variant": "Go", "Go": {"x": 4}, "Jump": None}}]
    assert arrow.column("v").chunk(0).field("variant").dictionary.to_pylist() == ["Stay", "Go", "Jump"]


def test_wide_integers_keep_one_type_whatever_the_values():
    doc = current_idl(events=["E"], types=[struct("E", [("a", "u128"), ("b", "i256")])])
    decoder = EventDecoder(doc)
    disc = event_discriminator("E")
    line = lambda a, b: data_line(disc, encode("u128", a) + encode("i256", b))  # noqa: E731
    small = pa.table(decoder.parse_logs_arrow([line(5, -5)])["E"])
    big = pa.table(decoder.parse_logs_arrow([line(5, -5), line(hi("u128"), lo("i256"))])["E"])
    assert small.schema == big.schema
    assert big.column("a").to_pylist() == ["5", str(hi("u128"))]
    assert big.column("b").to_pylist() == ["-5", str(lo("i256"))]


def test_shapes_of_events():
    types = [
        struct("Empty"),
        struct("Pair", ["u8", "bool"]),
        struct("Twice", [("a", "u8"), ("b", "u16"), ("a", "string")]),
    ]
    doc = current_idl(events=["Empty", "Pair", "Twice"], types=types)
    decoder = EventDecoder(doc)
    lines = [data_line(event_discriminator("Empty"), b""), data_line(event_discriminator("Empty"), b"\x01"),
             data_line(event_discriminator("Pair"), b"\x07\x02"),
             data_line(event_discriminator("Twice"), b"\x01\x02\x00" + encode("string", "last"))]
    tables = decoder.parse_logs_arrow(lines)
    empty = pa.table(tables["Empty"])
    assert (empty.num_rows, empty.num_columns) == (2, 0)
    pair = pa.table(tables["Pair"])
    assert pair.column_names == ["0", "1"] and pair.to_pylist() == [{"0": 7, "1": True}]
    twice = pa.table(tables["Twice"])
    assert twice.column_names == ["a", "b"] and twice.to_pylist() == [{"a": "last", "b": 2}]
    assert tables["Twice"].column_names == ["a", "b"]
    assert decoder.parse_logs(lines)[3] == ("Twice", {"a": "last", "b": 2})


def test_one_table_for_events_sharing_a_name():
    disc_a, disc_b = [1] * 8, [2] * 8
    doc = current_idl(events=[("E", disc_a), ("E", disc_b)], types=[struct("E", [("x", "u8")])])
    decoder = EventDecoder(doc)
    lines = [data_line(disc_b, b"\x01"), data_line(disc_a, b"\x02"), data_line(disc_b, b"\x03")]
    tables = decoder.parse_logs_arrow(lines)
    assert list(tables) == ["E"]
    assert pa.table(tables["E"]).column("x").to_pylist() == [1, 2, 3]


def test_a_type_inside_itself_is_given_as_its_borsh_bytes():
    node = {"name": "Node", "type": {"kind": "struct", "fields": [
        {"name": "v", "type": "u8"}, {"name": "next", "type": {"option": {"defined": {"name": "Node"}}}}]}}
    value = {"v": 1, "next": {"v": 2, "next": {"v": 3, "next": None}}}
    arrow = single({"defined": {"name": "Node"}}, value, [node])
    # Node is laid out once; its `next` holds the Borsh bytes of the Node inside.
    assert arrow.schema.field("v").type == pa.struct([pa.field("v", pa.uint8(), nullable=False), ("next", pa.binary())])
    row = arrow.to_pylist()[0]["v"]
    assert row["next"] == encode({"defined": {"name": "Node"}}, value["next"], {"Node": node["type"]})
    assert single({"defined": {"name": "Node"}}, {"v": 1, "next": None}, [node]).to_pylist() == [
        {"v": {"v": 1, "next": None}}]


def test_unreachable_types_are_null_columns():
    t = {"option": {"defined": {"name": "Missing"}}}
    arrow = single(t, None)
    assert arrow.schema.field("v").type == pa.null()
    assert arrow.column("v").to_pylist() == [None]


# The object -------------------------------------------------------------------


def test_zero_copy_and_lifetime():
    doc = current_idl(events=["E"], types=[struct("E", [("x", "u64"), ("s", "string")])])
    decoder = EventDecoder(doc)
    lines = [data_line(event_discriminator("E"), encode("u64", i) + encode("string", str(i))) for i in range(100)]
    table = decoder.parse_logs_arrow(lines)["E"]
    del decoder
    gc.collect()
    first, second = pa.table(table), pa.table(table)
    address = lambda t: t.column("x").chunk(0).buffers()[1].address  # noqa: E731
    assert address(first) == address(second)  # both views of the same memory
    del table
    gc.collect()
    assert first.column("s").to_pylist() == [str(i) for i in range(100)]
    batch = pa.record_batch(EventDecoder(doc).parse_logs_arrow(lines)["E"])
    assert batch.num_rows == 100
    schema = pa.schema(EventDecoder(doc).parse_logs_arrow([])["E"])
    assert schema.names == ["x", "s"]


def test_capsules():
    decoder = EventDecoder(current_idl(events=["E"], types=[struct("E", [("x", "u8")])]))
    table = decoder.parse_logs_arrow([])["E"]
    assert type(table.__arrow_c_schema__()).__name__ == "PyCapsule"
    assert type(table.__arrow_c_stream__()).__name__ == "PyCapsule"
    assert type(table.__arrow_c_stream__(requested_schema=None)).__name__ == "PyCapsule"
    schema, array = table.__arrow_c_array__()
    del schema, array  # released unconsumed
    with pytest.raises(TypeError, match="unexpected keyword argument 'schema'"):
        table.__arrow_c_stream__(schema=None)
    with pytest.raises(TypeError):
        EventTable()
    assert repr(table) == "<EventTable 'E': 0 rows, 1 columns>"
    assert not gc.is_tracked(table)


def test_argument_errors_are_those_of_parse_logs():
    decoder = EventDecoder(current_idl(events=["E"], types=[struct("E", [("x", "u8")])]))
    for bad in ("Program data: abc", iter(["x"]), ["ok", 5]):
        with pytest.raises(TypeError) as arrow_error:
            decoder.parse_logs_arrow(bad)
        with pytest.raises(TypeError) as rows_error:
            decoder.parse_logs(bad)
        assert str(arrow_error.value).replace("parse_logs_arrow", "parse_logs") == str(rows_error.value)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'logs'"):
        decoder.parse_logs_arrow()
    assert decoder.parse_logs_arrow(logs=[])["E"].num_rows == 0


def test_threads_build_tables_from_one_decoder():
    path = fixture("idl", "current", "pump-fun-pump_amm-2026-01-10.json")
    doc = json.loads(path.read_text())
    decoder = EventDecoder(path.read_text())
    batches = [mixed_batch(doc, seed)[0] * 20 for seed in range(12)]
    serial = [{n: pa.table(t) for n, t in decoder.parse_logs_arrow(b).items()} for b in batches]
    results = [None] * 4
    barrier = threading.Barrier(4)

    def work(index):
        barrier.wait()
        mine = []
        for _ in range(3):
            for b in batches:
                mine.append({n: pa.table(t) for n, t in decoder.parse_logs_arrow(b).items()})
        results[index] = mine

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for mine in results:
        assert mine is not None
        for i, got in enumerate(mine):
            want = serial[i % len(batches)]
            assert all(got[n].equals(want[n]) for n in want)


def test_polars_reads_the_tables():
    pl = pytest.importorskip(
        "polars", reason="polars is not installed (it has no wheel for free-threaded CPython 3.13)")
    doc = current_idl(events=["E"], types=[struct("E", [("x", "u64"), ("k", "pubkey"), ("o", {"option": "i32"})]),
                                            ENUM_UNIT])
    decoder = EventDecoder(doc)
    line = data_line(event_discriminator("E"), encode("u64", 9) + bytes(32) + b"\x01" + encode("i32", -4))
    frame = pl.DataFrame(decoder.parse_logs_arrow([line, line])["E"])
    assert frame.to_dicts() == [{"x": 9, "k": "1" * 32, "o": -4}] * 2


def test_duckdb_queries_the_tables():
    duckdb = pytest.importorskip(
        "duckdb", reason="duckdb is not installed (it has no wheel for free-threaded CPython 3.13)")
    doc = current_idl(events=["E"], types=[struct("E", [("x", "u64"), ("k", "pubkey"), ("o", {"option": "i32"})]),
                                            ENUM_UNIT])
    decoder = EventDecoder(doc)
    lines = [data_line(event_discriminator("E"), encode("u64", n) + bytes(32) + b"\x00") for n in range(5)]
    events = decoder.parse_logs_arrow(lines)["E"]  # read by duckdb through __arrow_c_stream__
    assert duckdb.sql("select sum(x), count(o), min(k) from events").fetchall() == [(10, 0, "1" * 32)]


# Bounds: the same events fail as in parse_logs -----------------------------------


def same_events(idl, datas):
    doc = json.loads(idl)
    decoder = EventDecoder(idl)
    disc = next(e["discriminator"] for e in doc["events"] if e["name"] == "E")
    return check_tables(decoder, doc, [data_line(disc, d) for d in datas])


@pytest.mark.thread_unsafe(reason="the test's recursive value encoder needs the main thread's stack")
def test_bounds_fail_the_same_events():
    from decode.test_values import (  # the value decoder's own cases
        LIST, LOOPS, ZERO_WIDTH, cons_list, defined, field, idl_for, option_chain)

    for fields, types in LOOPS:
        assert same_events(idl_for(fields, types), [b"\x01" * 64]) == 0
    for fields, types, data in ZERO_WIDTH:
        assert same_events(idl_for(fields, types), [data]) == 0
    assert same_events(*[(idl, [data]) for idl, data in [option_chain(127)]][0]) == 1
    assert same_events(*[(idl, [data]) for idl, data in [option_chain(128)]][0]) == 0
    lists = idl_for([field("l", defined("List"))], [LIST])
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(20_000)  # the support encoder re-encodes 255 levels to compare the bytes
    try:
        assert same_events(lists, [cons_list(255), cons_list(256), cons_list(3), cons_list(5000)]) == 2
    finally:
        sys.setrecursionlimit(limit)


def test_bounds_on_a_small_thread_stack():
    from decode.test_values import LIST, LOOPS, cons_list, defined, field, idl_for, on_thread_with_stack, option_chain

    counts = []

    def work():
        counts.append(same_events(*[(idl, [data]) for idl, data in [option_chain(127)]][0]))
        counts.append(same_events(idl_for([field("l", defined("List"))], [LIST]), [cons_list(20000)]))
        for fields, types in LOOPS:
            counts.append(same_events(idl_for(fields, types), [b"\x01" * 64]))

    on_thread_with_stack(512 * 1024, work)
    assert counts == [1, 0] + [0] * len(LOOPS)


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
@pytest.mark.thread_unsafe(reason="measures the memory of the whole process")
def test_repeated_batches_and_exports_do_not_grow_memory():
    from helpers import rss_bytes

    doc = current_idl(events=["E"], types=[struct("E", [("k", "pubkey"), ("v", {"vec": "u64"}), ("s", "string")])])
    decoder = EventDecoder(doc)
    disc = event_discriminator("E")
    lines = [data_line(disc, bytes([i]) * 32 + encode({"vec": "u64"}, list(range(i % 7))) + encode("string", "x" * i))
             for i in range(200)]
    lines += [data_line(disc, b"\x01" * 40)]  # fails after the key: rolled back

    def churn(rounds):
        for _ in range(rounds):
            table = decoder.parse_logs_arrow(lines)["E"]
            arrow = pa.table(table)
            assert arrow.num_rows == 200
            schema, array = table.__arrow_c_array__()  # released unconsumed
            table.__arrow_c_stream__()

    churn(50)
    gc.collect()
    before = rss_bytes()
    churn(500)
    gc.collect()
    # 500 batches of about 60 KiB of columns each: a leak of the columns (or
    # of the exported structs) would show as tens of MiB.
    assert rss_bytes() - before < 8 * 1024 * 1024
