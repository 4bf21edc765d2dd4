"""Blocks and tables: a block made of the real transactions gives what they
give one by one (in every block shape and encoding); decode_tables holds the
values of decode's records, context included, in schemas that depend on the
IDL alone; an IDL moved to another address takes the transactions of that
address and no other."""

import copy
import json
from pathlib import Path

import pytest

import varkel
from helpers import FIXTURES
from tx.test_real_transactions import CASES
from tx.txdata import decoder, load, result_of, with_encoding

pa = pytest.importorskip("pyarrow")

BLOCKS = Path(__file__).resolve().parents[2] / "data" / "blocks"
# Current-format IDLs of distinct programs (the tables are read back through their JSON types).
KEYS = ["okx", "pump_amm", "clmm", "pump_2025"]
IDL_PATHS = {"okx": "okx-dex_solana.json", "pump_amm": "pump-fun-pump_amm-2026-01-10.json",
             "clmm": "raydium-amm_v3-clmm.json", "pump_2025": "pump-fun-pump-2025-05-08.json"}


def real_results():
    results = []
    for name, _, _ in CASES:
        try:
            results.append(result_of(load(name)))
        except pytest.skip.Exception:
            continue
    if not results:
        pytest.skip("no transaction fixtures")
    return results


def decoders():
    return [decoder(k) for k in KEYS]


def block_of(results, encoding="json", shape="getBlock", slot=7):
    block = {"blockHeight": 1, "blockTime": 1700000000, "blockhash": "11111111111111111111111111111111",
             "parentSlot": slot - 1, "previousBlockhash": "11111111111111111111111111111111", "rewards": [],
             "transactions": [{k: v for k, v in with_encoding(r, encoding).items() if k in ("transaction", "meta",
                                                                                          "version")}
                              for r in results]}
    if shape == "getBlock":
        return {"jsonrpc": "2.0", "id": 1, "result": block}
    if shape == "stored":
        return block | {"slot": slot}
    return {"jsonrpc": "2.0", "method": "blockNotification",
            "params": {"result": {"context": {"slot": slot + 1}, "value": {"slot": slot, "block": block, "err": None}},
                       "subscription": 3}}


def content(tx):
    """A record without its slot and time (a block gives its own)."""
    return (tx.signature, tx.failed, tx.error, tx.instructions, tx.events)


@pytest.mark.parametrize("encoding", ["json", "jsonParsed", "base64"])
@pytest.mark.parametrize("shape", ["getBlock", "stored", "notification"])
def test_a_block_gives_what_its_transactions_give(shape, encoding):
    results, ds = real_results(), decoders()
    one_by_one = [varkel.decode(with_encoding(r, encoding), ds) for r in results]
    expected = [content(t) for t in one_by_one if t.instructions or t.events]
    block = block_of(results, encoding, shape)
    got = varkel.decode_block(json.dumps(block), ds)
    assert [content(t) for t in got] == expected
    assert {(t.slot, t.block_time) for t in got} == {(None if shape == "getBlock" else 7, 1700000000)}
    # The command line's reading: the same transactions, every one counted.
    pairs, counts = varkel._varkel._decode_counted(block, ds, True)
    assert [content(t) for t, _ in pairs] == expected and counts["transactions"] == len(results)


@pytest.mark.parametrize("doc, message", [
    ({"jsonrpc": "2.0", "id": 1, "result": None}, "invalid block: result: null (the node has no such block)"),
    ({"blockhash": "x", "signatures": ["a"]}, "transactionDetails \"full\""),
    ({"params": {"result": {"value": {"slot": 1, "block": None, "err": "BlockStoreError"}}}},
     'params.result.value.block: null (the notification\'s err: "BlockStoreError")'),
    ({"blockhash": "x", "transactions": [{"meta": {}}]}, "transactions[0].transaction: missing"),
])
def test_blocks_that_cannot_be_read(doc, message):
    with pytest.raises(varkel.TransactionError, match=None) as error:
        varkel.decode_block(doc, [decoder("okx")])
    assert message in str(error.value)


def test_a_real_block_without_the_programs():
    text = (BLOCKS / "solnet-GetBlockResponse-mainnet-2021.getBlock.json").read_text()
    assert varkel.decode_block(text, [decoder("okx")]) == []
    vote = decoder("okx").with_program_id("Vote111111111111111111111111111111111111111")
    got = varkel.decode_block(text, [vote])
    assert [(t.failed, t.block_time, [i.program_id for i in t.instructions]) for t in got] == [
        (True, 1622632900, [vote.program_id]), (False, 1622632900, [vote.program_id])]


def idl_types(key):
    doc = json.loads((FIXTURES / "idl" / "current" / IDL_PATHS[key]).read_text())
    return doc, {t["name"]: t["type"] for t in doc.get("types", [])}


@pytest.mark.parametrize("pubkey", ["base58", "binary"])
def test_tables_hold_the_values_of_the_records(pubkey):
    from columnar.arrow_values import rows_as_values
    from varkel_support import b58encode

    results, ds = real_results(), decoders()
    tables = varkel.decode_tables([block_of(results, shape="stored")], ds, pubkey=pubkey)
    records = [varkel.decode(r, ds) for r in results]
    by_program = {d.program_id: k for k, d in zip(KEYS, ds)}
    rows = {}
    for (program, kind, name), table in tables.items():
        assert (table.program_id, table.kind, table.name) == (program, kind, name)
        rows[program, kind, name] = pa.table(table).to_pylist()

    def key(value):
        return b58encode(value) if pubkey == "binary" and isinstance(value, bytes) else value

    for program, key_name in by_program.items():
        doc, types = idl_types(key_name)
        events = [(t, e) for t in records for e in t.events if e.program_id == program]
        for name in {e.name for _, e in events}:
            fields = types[name]["fields"]
            table = [{k: key(v) for k, v in row.items()} for row in rows[program, "event", name]]
            if pubkey == "base58":
                assert rows_as_values(fields, table, types) == [e.data for _, e in events if e.name == name]
            assert [(r["signature"], r["slot"], r["instruction"], r["inner"], r["depth"], r["source"], r["failed"])
                    for r in table] == [(t.signature, 7, e.instruction, e.inner, e.depth, e.source, t.failed)
                                        for t, e in events if e.name == name]
        instructions = [(t, i) for t in records for i in t.instructions if i.program_id == program and i.name]
        for name in {i.name for _, i in instructions}:
            entry = next(x for x in doc["instructions"] if x["name"] == name)
            table = rows[program, "instruction", name]
            mine = [i for _, i in instructions if i.name == name]
            if pubkey == "base58":
                assert rows_as_values(entry["args"], table, types) == [i.args for i in mine]
            assert [(r["instruction"], r["inner"], r["depth"]) for r in table] == [
                (i.instruction, i.inner, i.depth) for i in mine]
            flat = [json.dumps(r["accounts"], default=key) for r in table]
            assert flat == [json.dumps(i.accounts) for i in mine]
            assert [[key(k) for k in r["remaining"]] for r in table] == [i.remaining for i in mine]


def test_a_table_has_one_schema_whatever_the_rows():
    ds = decoders()
    empty = varkel.decode_tables([], ds)
    full = varkel.decode_tables([block_of(real_results())], ds)
    assert list(empty) == list(full)
    for k in empty:
        assert pa.table(empty[k]).schema == pa.table(full[k]).schema, k


def test_a_bad_item_is_named():
    ds = decoders()
    with pytest.raises(varkel.TransactionError, match=r"^items\[1\]: invalid transaction: transaction JSON") as e:
        varkel.decode_tables([block_of(real_results()), "{"], ds)
    assert (e.value.lineno, e.value.colno) == (1, 1)
    tables, counts, errors = varkel._varkel._decode_tables_counted(["{", block_of(real_results())], ds, "base58",
                                                                   True)
    assert [i for i, _ in errors] == [0] and counts["transactions"] == len(real_results())


def rewritten(result, old, new):
    """The transaction with one account key replaced everywhere it appears."""
    text = json.dumps(result).replace(old, new)
    return json.loads(text)


def test_the_same_idl_at_another_address():
    fresh = "Fresh11111111111111111111111111111111111111"
    for name, keys, expected in CASES:
        if len(keys) != 1 or not expected:
            continue
        try:
            result = result_of(load(name))
        except pytest.skip.Exception:
            continue
        original = decoder(keys[0])
        moved = original.with_program_id(fresh)
        assert varkel.decode(result, [moved]).events == []
        copy_ = rewritten(with_encoding(result, "json"), original.program_id, fresh)
        events = varkel.decode(copy_, [moved]).events
        before = varkel.decode(result, [original]).events
        assert [(e.name, e.data, e.instruction, e.inner) for e in events] == [
            (e.name, e.data, e.instruction, e.inner) for e in before]
        assert {e.program_id for e in events} == {fresh}
        assert copy.deepcopy(moved) is moved and __import__("pickle").loads(
            __import__("pickle").dumps(moved)).program_id == fresh
        return
    pytest.skip("no single-program transaction fixture")


@pytest.mark.parametrize("key", ["", "0OIl", "1" * 50])
def test_an_address_that_is_not_a_key(key):
    with pytest.raises(varkel.ProgramIdError, match="is not a public key"):
        decoder("okx").with_program_id(key)
