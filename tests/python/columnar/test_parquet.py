"""Parquet datasets (varkel.parquet, python -m varkel --format parquet): the
rows are the JSON lines output's records, read back by pyarrow, duckdb and
polars; one schema per table; rotation and row groups; file metadata; the
shapes Parquet cannot store as they are; bounded memory; the command's
errors."""

import base64
import json
import subprocess
import sys
import time

import pytest

import varkel
from helpers import REPO, SANITIZED, current_idl, struct
from varkel._output import to_json
from varkel_support import encode

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed for this interpreter")
pq = pytest.importorskip("pyarrow.parquet")
from varkel.parquet import DatasetWriter, table_directory  # noqa: E402

EXAMPLES = REPO / "examples"
PUMP_IDL = EXAMPLES / "pump-legacy" / "idl.json"
OKX_IDL = EXAMPLES / "okx-dex" / "idl.json"
TXS = EXAMPLES / "pump-legacy" / "transactions.jsonl"
PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"
MAIN = "import sys; {setup}from varkel.__main__ import main; sys.exit(main(sys.argv[1:]))"
# The peak of the command's own memory: VmHWM, which exec resets (ru_maxrss
# keeps the peak of the process that started it, when that was larger).
PEAK = ("import sys; from varkel.__main__ import main; status = main(sys.argv[1:]); "
        "print(next(l for l in open('/proc/self/status') if l.startswith('VmHWM:')).split()[1], file=sys.stderr); "
        "sys.exit(status)")


def run(*args, stdin="", setup=""):
    return subprocess.run([sys.executable, "-c", MAIN.format(setup=setup), *map(str, args)], input=stdin,
                          capture_output=True, text=True, timeout=120)


def pump():
    return varkel.EventDecoder(PUMP_IDL.read_text())


FAILED = "4" * 88  # a signature of no real transaction


def transactions():
    """The bundled transactions, and a failed copy of the second under another signature."""
    lines = TXS.read_text().splitlines()
    doc = json.loads(lines[1])
    doc["result"]["meta"]["err"] = {"InstructionError": [3, {"Custom": 6003}]}
    doc["result"]["transaction"]["signatures"][0] = FAILED
    return [*lines, json.dumps(doc)]


def block():
    """A block (as stored: with its slot) of the bundled transactions."""
    results = [json.loads(line)["result"] for line in transactions()]
    return json.dumps({"blockHeight": 1, "blockTime": 1700000000, "blockhash": "1" * 32, "parentSlot": 6,
                       "previousBlockhash": "1" * 32, "rewards": [], "slot": 7,
                       "transactions": [{k: r[k] for k in ("transaction", "meta")} for r in results]})


INPUTS = {"transactions": lambda: "\n".join(transactions()) + "\n", "block": lambda: block() + "\n"}


def plain(value):
    """A value as the JSON lines output gives it (bytes as {"hex"}, ...)."""
    return json.loads(to_json({"v": value}))["v"]


def read_table(folder, reader):
    """The rows of a table's files, in file order, read by one of the readers."""
    if reader == "pyarrow":
        return pa.concat_tables(pq.read_table(f) for f in sorted(folder.glob("*.parquet"))).to_pylist()
    if reader == "duckdb":
        duckdb = pytest.importorskip("duckdb", reason="duckdb has no wheel for this interpreter")
        result = duckdb.sql(f"select * from read_parquet('{folder}/*.parquet')")
        return [dict(zip(result.columns, row, strict=True)) for row in result.fetchall()]
    pl = pytest.importorskip("polars", reason="polars has no wheel for this interpreter")
    return pl.read_parquet(f"{folder}/*.parquet").to_dicts()


def dataset(directory, reader="pyarrow"):
    """{(program, kind, name): rows} of a dataset directory."""
    return {tuple(folder.relative_to(directory).parts): read_table(folder, reader)
            for folder in sorted(directory.glob("*/*/*")) if folder.is_dir()}


def json_tables(stdout):
    """The JSON lines output's records, as the tables hold them: one list per
    (program, kind, name), the data's fields as columns."""
    tables = {}
    for record in map(json.loads, stdout.splitlines()):
        if record.get("kind") == "instruction":
            key = (record["program"], "instruction", record["name"])
            row = {k: record[k] for k in ("signature", "slot", "instruction", "inner", "depth")}
            row |= record["args"] | {"accounts": record["accounts"], "remaining": record["remaining"]}
        elif record.get("kind", "event") == "event":
            key = (record["program"], "event", record["event"])
            row = {k: record[k] for k in ("signature", "slot", "instruction", "inner", "source")} | record["data"]
        else:
            continue  # a failed transaction's error: the tables' "failed" column
        tables.setdefault(key, []).append(row)
    return tables


@pytest.mark.parametrize("reader", ["pyarrow", "duckdb", "polars"])
@pytest.mark.parametrize("source", INPUTS)
def test_rows_are_the_json_lines_records(tmp_path, source, reader):
    if reader != "pyarrow":
        pytest.importorskip(reader, reason=f"{reader} has no wheel for this interpreter")
    text = INPUTS[source]()
    expected = run("--idl", PUMP_IDL, "--instructions", stdin=text)
    written = run("--idl", PUMP_IDL, "--instructions", "--format", "parquet", "--output", tmp_path, stdin=text)
    assert (expected.returncode, written.returncode, written.stdout) == (0, 0, "")
    want = json_tables(expected.stdout)
    got = dataset(tmp_path, reader)
    assert set(got) == set(want) == {(PUMP, "event", "CreateEvent"), (PUMP, "event", "TradeEvent"),
                                     *((PUMP, "instruction", n) for n in ("create", "buy", "sell"))}
    for key, rows in got.items():
        assert [{k: plain(row[k]) for k in w} for row, w in zip(rows, want[key], strict=True)] == want[key]
        assert [row["failed"] for row in rows] == [row["signature"] == FAILED for row in rows]
        times = {1700000000} if source == "block" else {json.loads(line)["result"]["blockTime"] for line in transactions()}
        assert {row["block_time"] for row in rows} <= times


def test_one_schema_per_table_however_the_rows_come(tmp_path):
    decoder = pump()
    lines = transactions()
    batches = [lines[:1], lines[1:], lines, [], lines[2:]]
    with DatasetWriter(tmp_path, [decoder], max_rows_per_file=1) as writer:
        for batch in batches:
            writer.write(varkel.decode_tables(batch, [decoder]))
        # The same columns in another form take the first rows' form; other columns are refused.
        trade = pa.table(varkel.decode_tables(lines[:1], [decoder])[(PUMP, "event", "TradeEvent")])
        writer.write({(PUMP, "event", "TradeEvent"): trade.set_column(1, "slot", trade["slot"].cast(pa.int64()))})
        with pytest.raises(ValueError, match="the table's schema changed between batches"):
            writer.write({(PUMP, "event", "TradeEvent"): trade.drop_columns(["slot"])})
    for (_, kind, name), rows in dataset(tmp_path).items():
        folder = table_directory(tmp_path, PUMP, kind, name)
        schemas = [pq.read_schema(f) for f in sorted(folder.glob("*.parquet"))]
        assert len(schemas) > 1 and all(s.equals(schemas[0], check_metadata=True) for s in schemas)
        first = pa.table(varkel.decode_tables(lines, [decoder])[(PUMP, kind, name)])
        assert schemas[0].equals(first.schema)
        batch_rows = [pa.table(varkel.decode_tables(b, [decoder])[(PUMP, kind, name)]).to_pylist() for b in batches]
        assert rows[:sum(map(len, batch_rows))] == [r for b in batch_rows for r in b]


@pytest.mark.parametrize("max_rows, group, batches, files, groups", [
    (3, 2, [5, 1], [3, 3], [2, 2]),          # a batch split across files
    (10, 4, [1] * 9, [9], [3]),              # small batches gathered into row groups
    (1_000_000, 65_536, [7], [7], [1]),
    (2, 65_536, [0, 3, 0], [2, 1], [1, 1]),  # the row group never exceeds the file
])
def test_files_rotate_and_rows_gather_into_row_groups(tmp_path, max_rows, group, batches, files, groups):
    start = 0
    with DatasetWriter(tmp_path, [pump()], max_rows_per_file=max_rows, row_group_size=group) as writer:
        for size in batches:
            writer.write({(PUMP, "event", "E"): pa.table({"n": range(start, start + size)})})
            start += size
    folder = table_directory(tmp_path, PUMP, "event", "E")
    paths = sorted(folder.iterdir())
    assert [p.name for p in paths] == [f"part-{i:05d}.parquet" for i in range(len(files))] == \
        [p.name for p in writer.files]
    assert [(pq.read_metadata(p).num_rows, pq.read_metadata(p).num_row_groups) for p in paths] == \
        list(zip(files, groups, strict=True))
    assert pq.read_table(folder)["n"].to_pylist() == list(range(start)) and writer.rows == start


@pytest.mark.parametrize("idl, expected", [
    (PUMP_IDL, {"varkel.idl.name": "pumpfun", "varkel.idl.version": "0.1.0"}),  # legacy: top level
    (OKX_IDL, {"varkel.idl.name": "dex_solana", "varkel.idl.version": "0.1.0"}),  # current: "metadata"
])
def test_every_file_names_its_idl_program_and_table(tmp_path, idl, expected):
    decoder = varkel.EventDecoder(idl.read_text())
    with DatasetWriter(tmp_path, [decoder], max_rows_per_file=1, metadata={"source": "test"}) as writer:
        writer.write({(decoder.program_id, "instruction", "x/..y"): pa.table({"n": [1, 2]})})
    assert len(writer.files) == 2
    folder = table_directory(tmp_path, decoder.program_id, "instruction", "x/..y")
    assert folder.name == "x%2F..y"
    for path in writer.files:
        assert path.parent == folder
        metadata = {k.decode(): v.decode() for k, v in pq.read_metadata(path).metadata.items() if b"ARROW" not in k}
        assert metadata == {"source": "test", "varkel.version": varkel.__version__, "varkel.kind": "instruction",
                            "varkel.program_id": decoder.program_id, "varkel.name": "x/..y"} | expected
    with pytest.raises(ValueError, match="the keys varkel.* are varkel's own"):
        DatasetWriter(tmp_path, [decoder], metadata={"varkel.version": "0"})
    with pytest.raises(FileExistsError, match="part-00000.parquet exists"):
        with DatasetWriter(tmp_path, [decoder]) as again:
            again.write({(decoder.program_id, "instruction", "x/..y"): pa.table({"n": [3]})})
    with pytest.raises(ValueError, match="no decoder of that program"):
        DatasetWriter(tmp_path / "other", []).write({("P", "event", "E"): pa.table({"n": [1]})})


def without_filler(value):
    if isinstance(value, dict):
        return {k: without_filler(v) for k, v in value.items() if k != "_"}
    return [without_filler(v) for v in value] if isinstance(value, list) else value


EMPTY = pa.struct([])
FSL = pa.list_(pa.int8(), 2)
SHAPES = {  # what Parquet cannot store as it is, alone and below others, with nulls
    "struct<>": pa.array([{}, None, {}], EMPTY),
    "list<struct<>>": pa.array([[{}], None, [{}, None]], pa.list_(EMPTY)),
    "struct<struct<>>": pa.array([{"x": 1, "e": {}}, {"x": 2, "e": None}, None],
                                 pa.struct([("x", pa.int8()), ("e", EMPTY)])),
    "fixed list of struct<>": pa.array([[{}, None], None, [None, {}]], pa.list_(EMPTY, 2)),
    "large list of lists": pa.array([[[{}]], [], None], pa.large_list(pa.list_(EMPTY))),
    "fixed list": pa.array([[1, 2], None, [3, 4]], FSL),
    "fixed list below a null struct": pa.StructArray.from_arrays(
        [pa.array([[1, 2], [3, 4], [5, 6]], FSL)], names=["a"], mask=pa.array([False, True, False])),
    "list of fixed lists": pa.array([[[1, 2], None], None, [[5, 6]]], pa.list_(FSL)),
}


@pytest.mark.parametrize("shape", SHAPES)
@pytest.mark.parametrize("start", [0, 1, 2])  # slices of the table
def test_shapes_parquet_cannot_store_as_they_are(tmp_path, shape, start):
    table = pa.table({"x": SHAPES[shape]}).slice(start)
    with DatasetWriter(tmp_path, [pump()]) as writer:
        writer.write({(PUMP, "event", "E"): table})
    assert without_filler(pq.read_table(writer.files[0]).to_pylist()) == table.to_pylist()


def test_an_account_table_with_those_shapes(tmp_path):
    types = [struct("Empty", []), struct("Acc", [("e", {"defined": {"name": "Empty"}}),
                                                 ("o", {"option": {"array": ["u8", 4]}}),
                                                 ("l", {"vec": {"defined": {"name": "Empty"}}})])]
    doc = json.loads(current_idl([], types))
    decoder = varkel.EventDecoder(json.dumps(doc | {"accounts": [{"name": "Acc", "discriminator": [7] * 8}]}))
    by_name = {t["name"]: t["type"] for t in types}

    def account(o, n):
        raw = bytes([7] * 8) + encode({"option": {"array": ["u8", 4]}}, o) + encode(
            {"vec": {"defined": {"name": "Empty"}}}, [{}] * n, by_name)
        return {"pubkey": "1" * 32, "account": {"data": [base64.b64encode(raw).decode(), "base64"],
                                                "owner": decoder.program_id, "lamports": 1}}

    items = [account([1, 2, 3, 4], 2), account(None, 0), account(None, 1)]
    with DatasetWriter(tmp_path, [decoder]) as writer:
        writer.write(decoder.decode_accounts_arrow(items))
    (path,) = writer.files
    assert path.relative_to(tmp_path).parts[:3] == (decoder.program_id, "account", "Acc")
    assert without_filler(pq.read_table(path).to_pylist()) == \
        [{"pubkey": a.pubkey} | a.value for a in decoder.decode_accounts(items)]


# --------------------------------------------------------------------------
# The command line.

def test_usage_errors(tmp_path):
    (tmp_path / "full").mkdir()
    (tmp_path / "full" / "x").write_text("")
    idl = ["--idl", PUMP_IDL]
    cases = [
        (idl + ["--format", "parquet"], "--format parquet needs --output DIR"),
        (idl + ["--output", tmp_path / "d"], "--output DIR is the directory of --format parquet"),
        (idl + ["--format", "parquet", "--output", tmp_path / "d", "--input", "logs"], "(--input logs) make none"),
        (idl + ["--format", "parquet", "--output", tmp_path / "full"], "not empty"),
        (["accounts"] + idl + ["--format", "parquet"], "--format parquet needs --output DIR"),
        (["accounts"] + idl + ["--output", tmp_path / "d"], "--output DIR is the directory of --format parquet"),
    ]
    for args, message in cases:
        result = run(*args)
        assert (result.returncode, result.stdout) == (2, ""), args
        assert message in result.stderr, (args, result.stderr)
    # Without pyarrow: what to install.
    for args in (idl, ["accounts", *idl]):
        result = run(*args, "--format", "parquet", "--output", tmp_path / "d", setup="sys.modules['pyarrow'] = None; ")
        assert result.returncode == 2
        assert result.stderr.startswith("varkel: --format parquet needs pyarrow: pip install 'varkel[parquet]'\n")
    assert not (tmp_path / "d").exists()


def test_bad_lines_are_reported_as_the_json_lines_output_reports_them(tmp_path):
    lines = TXS.read_text().splitlines()
    path = tmp_path / "txs.jsonl"
    path.write_bytes(b"\n".join([lines[0].encode(), b'{"slot": "\xff"}', b'{"a":' + b"[" * 1000, b'{"result": null}',
                                 lines[1].encode(), b"Program log: x", lines[0].encode()]) + b"\n")
    jsonl = run("--idl", PUMP_IDL, "--input", "tx", path)
    written = run("--idl", PUMP_IDL, "--format", "parquet", "--output", tmp_path / "d", path, TXS)
    assert jsonl.returncode == written.returncode == 1
    assert written.stderr.splitlines()[:3] == jsonl.stderr.splitlines()[:3]
    # A log line ends its file (log lines make no tables); the next file is read.
    assert written.stderr.splitlines()[3:] == [
        f"varkel: {path}:6: a log line: --format parquet writes the tables of transactions and blocks (JSON lines) "
        f"only; the rest of {path} is skipped"]
    signatures = [r["signature"] for r in dataset(tmp_path / "d")[(PUMP, "event", "TradeEvent")]]
    first, second = (json.loads(line)["result"]["transaction"]["signatures"][0] for line in lines)
    assert signatures == [first, second, second] * 2


@pytest.mark.parametrize("args, tables", [
    ([], {"CreateEvent", "TradeEvent"}),
    (["--instructions"], {"CreateEvent", "TradeEvent", "create", "buy", "sell"}),
    (["--event", "TradeEvent"], {"TradeEvent"}),
    (["--instruction", "sell", "--event", "CreateEvent"], {"CreateEvent", "sell"}),
])
def test_filters_choose_the_tables(tmp_path, args, tables):
    result = run("--idl", PUMP_IDL, *args, "--stats", "--format", "parquet", "--output", tmp_path, TXS)
    assert result.returncode == 0, result.stderr
    assert {name for _, _, name in dataset(tmp_path)} == tables
    assert "2 transactions" in result.stderr and "4 events" in result.stderr


def test_why_nothing_came_out(tmp_path):
    result = run("--idl", f"{PUMP_IDL}=11111111111111111111111111111112", "--format", "parquet", "--output", tmp_path,
                 TXS)
    assert (result.returncode, list(tmp_path.iterdir())) == (0, [])
    assert "the IDL's program is never invoked in the input" in result.stderr


# --------------------------------------------------------------------------
# Memory: the command streams.

def many(count):
    """The bundled transactions, `count` lines, every one under its own signature."""
    lines = TXS.read_text().splitlines()
    signatures = [json.loads(line)["result"]["transaction"]["signatures"][0] for line in lines]
    alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
    for i in range(count):
        n, tag = i // 2, ""
        for _ in range(4):
            n, r = divmod(n, 58)
            tag += alphabet[r]
        line, signature = lines[i % 2], signatures[i % 2]
        yield line.replace(signature, signature[:-4] + tag) + "\n"


def peak_and_time(count, *args):
    """Peak resident memory (KiB) and seconds of the command over `count` transactions on standard input."""
    process = subprocess.Popen([sys.executable, "-c", PEAK, "--idl", str(PUMP_IDL), *map(str, args)],
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    start = time.monotonic()
    chunk = []
    for line in many(count):
        chunk.append(line)
        if len(chunk) == 1000:
            process.stdin.write("".join(chunk).encode())
            chunk = []
    process.stdin.write("".join(chunk).encode())
    process.stdin.close()
    err = process.stderr.read().decode()
    process.stderr.close()
    assert process.wait(timeout=300) == 0, err
    return int(err.split()[-1]), time.monotonic() - start


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
@pytest.mark.thread_unsafe(reason="1.5 GB of input through the command")
def test_memory_stays_bounded_whatever_the_input_size(tmp_path):
    small, small_time = peak_and_time(10_000, "--instructions", "--format", "parquet", "--output", tmp_path / "s")
    large, large_time = peak_and_time(100_000, "--instructions", "--format", "parquet", "--output", tmp_path / "l")
    print(f"\nparquet: 10,000 transactions: peak {small >> 10} MiB, {10_000 / small_time:,.0f} tx/s; "
          f"100,000: peak {large >> 10} MiB, {100_000 / large_time:,.0f} tx/s")
    rows = {key: len(rows) for key, rows in dataset(tmp_path / "l").items()}
    assert rows == {(PUMP, "event", "CreateEvent"): 50_000, (PUMP, "event", "TradeEvent"): 150_000,
                    (PUMP, "instruction", "create"): 50_000, (PUMP, "instruction", "buy"): 100_000,
                    (PUMP, "instruction", "sell"): 50_000}
    # The writer holds 64 MiB of waiting rows at most; ten times the input adds far less than that again.
    assert large - small < 128 * 1024 and large < 512 * 1024, (small, large)
