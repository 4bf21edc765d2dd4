"""The Dask example (examples/dask/backfill.py): partitioned JSON Lines files
decoded on a LocalCluster of process workers give exactly the rows of the
single-process run, and of parse_logs (log mode) or decode_transaction
(transaction mode) applied record by record."""

import json
import os
import re
import subprocess
import sys

import pytest

import varkel
from varkel import EventDecoder
from helpers import REPO, current_idl

sys.path.insert(0, str(REPO / "examples" / "dask"))
import backfill  # noqa: E402

SAMPLES = {
    "okx-dex": (REPO / "examples" / "okx-dex" / "idl.json", REPO / "examples" / "okx-dex" / "swap.log"),
    "pump-legacy": (REPO / "examples" / "pump-legacy" / "idl.json", REPO / "examples" / "pump-legacy" / "trades.log"),
}


def dask_or_skip():
    """dask.distributed, or a skip naming why it is missing (a failure where
    the test command requires it: VARKEL_REQUIRE_DASK=1)."""
    try:
        import dask.bag  # noqa: F401
        import dask.distributed
    except ImportError as error:
        if os.environ.get("VARKEL_REQUIRE_DASK") == "1":
            raise
        pytest.skip(
            f"dask[distributed] does not install on this interpreter ({error}); "
            "scripts/test-matrix.sh runs this test on a GIL build"
        )
    return dask.distributed


def write_partitions(folder, name, files=4, per_file=12):
    """JSON Lines partitions of logsSubscribe-style records: the sample's real
    transaction under many signatures, the other sample's transaction (no
    event of this IDL), failed transactions and blank lines. Returns the
    paths, the IDL text and the expected rows computed with parse_logs."""
    idl_path, log_path = SAMPLES[name]
    idl_json = idl_path.read_text()
    own = log_path.read_text().splitlines()
    other = next(p for n, p in SAMPLES.items() if n != name)[1].read_text().splitlines()
    decoder = EventDecoder(idl_json)
    paths, expected = [], []
    for f in range(files):
        lines = []
        for r in range(per_file):
            signature = f"sig-{f}-{r}"
            logs = own if r % 3 != 1 else other
            err = {"InstructionError": [0, "Custom"]} if r % 5 == 4 else None
            lines.append(json.dumps({"signature": signature, "err": err, "logs": logs}))
            if r % 4 == 3:
                lines.append("")
            if err is None:
                expected.extend((signature, n, v) for n, v in decoder.parse_logs(logs))
        path = folder / f"part-{f:03d}.jsonl"
        path.write_text("\n".join(lines) + "\n")
        paths.append(path)
    return paths, idl_json, expected


@pytest.mark.parametrize("name", SAMPLES)
def test_single_process_rows_are_parse_logs_record_by_record(tmp_path, name):
    paths, idl_json, expected = write_partitions(tmp_path, name)
    assert expected  # the samples hold events
    assert backfill.decode_files_locally(paths, idl_json) == expected


def test_failed_transactions_give_no_rows():
    idl_json = SAMPLES["okx-dex"][0].read_text()
    logs = SAMPLES["okx-dex"][1].read_text().splitlines()
    decoder = EventDecoder(idl_json)
    assert backfill.decode_log_record(decoder, {"signature": "s", "err": None, "logs": logs})
    assert backfill.decode_log_record(decoder, {"signature": "s", "err": {"X": 1}, "logs": logs}) == []


@pytest.mark.parametrize(
    "line, message",
    [
        ("{not json", r"Expecting property name enclosed in double quotes: line 1 column 2 \(char 1\)"),
        ('["a"]', 'expected an object with "signature", "err" and "logs"'),
        ('{"signature": "s", "logs": "Program data: x"}', '"logs" is not a list of log lines'),
    ],
)
def test_bad_record_names_file_and_line(tmp_path, line, message):
    path = tmp_path / "part.jsonl"
    path.write_text(json.dumps({"signature": "ok", "err": None, "logs": []}) + "\n" + line + "\n")
    with pytest.raises(ValueError, match=re.escape(f"{path}: line 2: ") + message + "$"):
        backfill.decode_files_locally([path], current_idl())


@pytest.mark.thread_unsafe(reason="counts the decoders built in the whole process")
def test_one_decoder_per_process_and_idl():
    # Trailing blank lines make IDL texts that no other test has used.
    text = SAMPLES["okx-dex"][0].read_text()
    first_idl, second_idl = text + "\n" * 11, text + "\n" * 12
    before = backfill.decoders_built()
    first = backfill.decoder_for(first_idl)
    assert backfill.decoder_for(first_idl) is first
    assert backfill.decoders_built() == before + 1
    assert backfill.decoder_for(second_idl) is not first
    assert backfill.decoders_built() == before + 2


@pytest.mark.parametrize("name", SAMPLES)
def test_local_cluster_equals_single_process(tmp_path, name):
    distributed = dask_or_skip()
    paths, idl_json, expected = write_partitions(tmp_path, name, files=6)
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        rows = backfill.decode_files(paths, idl_json)
        glob_rows = backfill.decode_files(str(tmp_path / "part-*.jsonl"), idl_json)
        # Each worker built the decoder once for its partitions (a worker that
        # got none built none).
        built = client.run(backfill.decoders_built)
    assert rows == expected
    assert glob_rows == expected
    assert rows == backfill.decode_files_locally(paths, idl_json)
    assert len(built) == 2 and sum(built.values()) >= 1 and max(built.values()) == 1


def test_command_line_on_a_local_cluster(tmp_path):
    dask_or_skip()
    paths, idl_json, expected = write_partitions(tmp_path, "okx-dex", files=2, per_file=4)
    out = subprocess.run(
        [sys.executable, str(REPO / "examples" / "dask" / "backfill.py"), "--idl", str(SAMPLES["okx-dex"][0]),
         "--workers", "1", str(tmp_path / "part-*.jsonl")],
        capture_output=True, text=True, check=True, timeout=300,
    )
    got = [json.loads(line) for line in out.stdout.splitlines()]
    assert [(g["signature"], g["event"]) for g in got] == [(s, n) for s, n, _ in expected]
    assert got[0]["data"] == {"dex": "MeteoraDlmm", "amount_in": 9372599925000, "amount_out": 1700985700449}


# --------------------------------------------------------------------------
# Transaction mode.

TX_IDLS = [REPO / "examples" / "okx-dex" / "idl.json", REPO / "examples" / "pump-legacy" / "idl.json"]
TRANSACTIONS = REPO / "examples" / "pump-legacy" / "transactions.jsonl"
SIGNATURES = {  # of the bundled transactions, with their slots
    "52ar89rghM8EwKZkxFnBMC4LaMReqtVdpxqXxGWBCMYV1DnYdLrdsqJo8Hbn9KjVpckAokqGNHzTSVfK5xuLepdC": 284682639,
    "33LHUzKfhBvU68kYib22oFx2XdQKQZ2sfvTmmdCFEr6YidyP8S3WwAurjz6Suewvr2WUByV79K3stNCZDe7wq3De": 284677332,
}


def write_transaction_partitions(folder, files=4, per_file=8):
    """JSON Lines partitions of getTransaction records: the bundled pump
    transactions in every encoding, bare or in their RPC envelope, failed
    copies, a copy without logs or inner instructions (no event) and blank
    lines. Returns the paths, the IDL texts and the expected rows computed
    with decode_transaction record by record."""
    from tx.txdata import with_encoding

    envelopes = [json.loads(line) for line in TRANSACTIONS.read_text().splitlines()]
    idl_jsons = [path.read_text() for path in TX_IDLS]
    decoders = [EventDecoder(text) for text in idl_jsons]
    encodings = ("json", "jsonParsed", "base64", "base58")
    paths, expected = [], []
    for f in range(files):
        lines = []
        for r in range(per_file):
            envelope = envelopes[(f + r) % len(envelopes)]
            result = with_encoding(envelope["result"], encodings[r % len(encodings)])
            if r % 5 == 4:
                result["meta"]["err"] = {"InstructionError": [0, "Custom"]}
            if r % 7 == 6:
                result["meta"]["logMessages"], result["meta"]["innerInstructions"] = [], []
            record = envelope | {"result": result} if r % 2 else result
            lines.append(json.dumps(record))
            if r % 3 == 2:
                lines.append("")
            events = varkel.decode_transaction(record, decoders)
            if not any(e.failed for e in events):
                # The wire encodings' signature is read from their bytes.
                signature = envelope["result"]["transaction"]["signatures"][0]
                expected.extend((signature, result["slot"], e.program_id, e.instruction, e.inner, e.source, e.name,
                                 e.data) for e in events)
        path = folder / f"tx-{f:03d}.jsonl"
        path.write_text("\n".join(lines) + "\n")
        paths.append(path)
    return paths, idl_jsons, expected


def test_transaction_mode_single_process(tmp_path):
    paths, idl_jsons, expected = write_transaction_partitions(tmp_path)
    rows = backfill.decode_transaction_files_locally(paths, idl_jsons)
    assert rows == expected
    assert len(rows) > 8 and all(SIGNATURES[r[0]] == r[1] for r in rows)
    assert {r[6] for r in rows} == {"CreateEvent", "TradeEvent"}


def test_a_record_that_is_no_transaction_names_file_and_line(tmp_path):
    path = tmp_path / "tx.jsonl"
    path.write_text('{"jsonrpc": "2.0", "result": null, "id": 1}\n')
    with pytest.raises(ValueError, match=re.escape(f"{path}: line 1: invalid transaction: result: null")):
        backfill.decode_transaction_files_locally([path], [TX_IDLS[0].read_text()])


def test_transaction_mode_on_a_local_cluster_equals_single_process(tmp_path):
    distributed = dask_or_skip()
    paths, idl_jsons, _ = write_transaction_partitions(tmp_path, files=5)
    local = backfill.decode_transaction_files_locally(paths, idl_jsons)
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        rows = backfill.decode_transaction_files(paths, idl_jsons)
        glob_rows = backfill.decode_transaction_files(str(tmp_path / "tx-*.jsonl"), idl_jsons)
        # Each worker built each decoder at most once.
        built = client.run(backfill.decoders_built)
    assert rows == glob_rows == local
    assert len(built) == 2 and max(built.values()) <= len(idl_jsons)


def test_transaction_mode_command_line(tmp_path):
    dask_or_skip()
    paths, _, expected = write_transaction_partitions(tmp_path, files=2, per_file=4)
    out = subprocess.run(
        [sys.executable, str(REPO / "examples" / "dask" / "backfill.py"), "--input", "tx",
         *[arg for path in TX_IDLS for arg in ("--idl", str(path))], "--workers", "1", str(tmp_path / "tx-*.jsonl")],
        capture_output=True, text=True, check=True, timeout=300,
    )
    got = [json.loads(line) for line in out.stdout.splitlines()]
    assert [tuple(g.values())[:7] for g in got] == [e[:7] for e in expected]
    assert list(got[0]) == ["signature", "slot", "program", "instruction", "inner", "source", "event", "data"]
    # Bytes as {"hex": ...}, as the package's command line writes them.
    assert got[0]["event"] == "CreateEvent" and got[0]["data"]["name"] == "excited"


# --------------------------------------------------------------------------
# Parquet mode: the command line's dataset, written by the partitions.

def dataset_rows(directory):
    """{(program, kind, name): rows of its files in name order}, and the files' names."""
    pq = pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed for this interpreter")
    tables, names = {}, set()
    for path in sorted(directory.rglob("*.parquet")):
        key = path.parent.relative_to(directory).parts
        tables.setdefault(key, []).extend(pq.read_table(path).to_pylist())
        names.add(path.relative_to(directory))
    return tables, names


def test_parquet_mode_writes_the_command_lines_dataset(tmp_path):
    pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed for this interpreter")
    paths, idl_jsons, _ = write_transaction_partitions(tmp_path, files=3)
    files, rows, errors = backfill.write_transaction_files_locally(paths, idl_jsons, tmp_path / "local")
    assert errors == [] and rows > 8 and len(files) == len(set(files))
    command = subprocess.run([sys.executable, "-m", "varkel", *[a for p in TX_IDLS for a in ("--idl", str(p))],
                              "--instructions", "--format", "parquet", "--output", str(tmp_path / "cli"), *map(str, paths)],
                             capture_output=True, text=True, timeout=120)
    assert command.returncode == 0, command.stderr
    local, names = dataset_rows(tmp_path / "local")
    assert local == dataset_rows(tmp_path / "cli")[0]
    # Each partition wrote files of its own.
    assert {name.name.rsplit("-", 1)[0] for name in names} == {f"part-{i:05d}" for i in range(3)}


def test_parquet_mode_on_a_local_cluster(tmp_path):
    distributed = dask_or_skip()
    paths, idl_jsons, _ = write_transaction_partitions(tmp_path, files=5)
    (tmp_path / "bad.jsonl").write_text(TRANSACTIONS.read_text().splitlines()[0] + '\n{"result": null}\n')
    paths.append(tmp_path / "bad.jsonl")
    local = backfill.write_transaction_files_locally(paths, idl_jsons, tmp_path / "local")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster, distributed.Client(cluster):
        files, rows, errors = backfill.write_transaction_files(paths, idl_jsons, tmp_path / "cluster")
    assert (rows, errors) == local[1:] and errors == [(str(tmp_path / "bad.jsonl"), 2,
                                                       "invalid transaction: result: null (the node has no such "
                                                       "transaction)")]
    assert {p.replace("/cluster/", "/local/") for p in files} == set(local[0])
    assert dataset_rows(tmp_path / "cluster") == dataset_rows(tmp_path / "local")
