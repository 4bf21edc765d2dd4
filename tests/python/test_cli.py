"""python -m varkel: decodes log files with an IDL into JSON lines."""

import json
import subprocess
import sys

import pytest

from helpers import REPO

EXAMPLES = REPO / "examples"


def run(*args, stdin=""):
    return subprocess.run([sys.executable, "-m", "varkel", *map(str, args)], input=stdin,
                          capture_output=True, text=True, timeout=60)


def records(result):
    return [json.loads(line) for line in result.stdout.splitlines()]


def test_bundled_samples():
    okx = run("--idl", EXAMPLES / "okx-dex" / "idl.json", EXAMPLES / "okx-dex" / "swap.log")
    assert okx.returncode == 0, okx.stderr
    assert records(okx) == [
        {"signature": None, "slot": None, "program": "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma",
         "instruction": None, "inner": None, "source": "log", "event": "SwapEvent",
         "data": {"dex": "MeteoraDlmm", "amount_in": 9372599925000, "amount_out": 1700985700449}}
    ]
    pump = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", EXAMPLES / "pump-legacy" / "trades.log")
    events = records(pump)
    assert [e["event"] for e in events] == ["CreateEvent", "TradeEvent", "TradeEvent", "TradeEvent"]
    assert events[0]["data"]["name"] == "excited"


def test_stdin_and_bytes_as_hex(tmp_path):
    program = "Prog111111111111111111111111111111111111111"
    idl = {"address": program, "metadata": {"name": "t", "version": "1", "spec": "0.1.0"}, "instructions": [],
           "events": [{"name": "B", "discriminator": [1] * 8}],
           "types": [{"name": "B", "type": {"kind": "struct", "fields": [{"name": "b", "type": "bytes"},
                                                                         {"name": "n", "type": "u128"}]}}]}
    path = tmp_path / "idl.json"
    path.write_text(json.dumps(idl))
    # discriminator, bytes b"\xab\xcd", u128 2**127; logged by the program's frame
    line = "Program data: AQEBAQEBAQECAAAAq80AAAAAAAAAAAAAAAAAAACA\n"
    frame = f"Program {program} invoke [1]\n" + line + f"Program {program} success\n"
    result = run("--idl", path, stdin="noise\n" + frame + line)
    assert result.returncode == 0, result.stderr
    (record,) = records(result)  # the line outside any frame is nobody's event
    assert (record["event"], record["data"], record["program"]) == ("B", {"b": "abcd", "n": 2**127}, program)


@pytest.mark.parametrize(
    "idl_text, status, message",
    [(None, 2, "cannot read IDL"), ("not json", 2, "failed to parse IDL: expected ident at line 1 column 2")],
)
def test_bad_idl(tmp_path, idl_text, status, message):
    path = tmp_path / "idl.json"
    if idl_text is not None:
        path.write_text(idl_text)
    result = run("--idl", path)
    assert result.returncode == status
    assert message in result.stderr and result.stdout == ""


def test_missing_log_file_is_reported_and_others_still_decoded(tmp_path):
    result = run("--idl", EXAMPLES / "okx-dex" / "idl.json", tmp_path / "missing.log", EXAMPLES / "okx-dex" / "swap.log")
    assert result.returncode == 1
    assert "cannot read" in result.stderr and "missing.log" in result.stderr
    assert len(result.stdout.splitlines()) == 1


# --------------------------------------------------------------------------
# Transactions.

PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"
OKX = "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma"
CREATE_SIG = "52ar89rghM8EwKZkxFnBMC4LaMReqtVdpxqXxGWBCMYV1DnYdLrdsqJo8Hbn9KjVpckAokqGNHzTSVfK5xuLepdC"
BUY_SIG = "33LHUzKfhBvU68kYib22oFx2XdQKQZ2sfvTmmdCFEr6YidyP8S3WwAurjz6Suewvr2WUByV79K3stNCZDe7wq3De"


def test_bundled_transactions():
    result = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", EXAMPLES / "pump-legacy" / "transactions.jsonl")
    assert result.returncode == 0, result.stderr
    got = [(r["signature"], r["slot"], r["program"], r["instruction"], r["inner"], r["source"], r["event"])
           for r in records(result)]
    assert got == [
        (CREATE_SIG, 284682639, PUMP, 3, 14, "log+cpi", "CreateEvent"),
        (CREATE_SIG, 284682639, PUMP, 5, 3, "log+cpi", "TradeEvent"),
        (BUY_SIG, 284677332, PUMP, 2, 3, "log+cpi", "TradeEvent"),
        (BUY_SIG, 284677332, PUMP, 3, 1, "log+cpi", "TradeEvent"),
    ]


def test_several_programs_mixed_input_and_a_filter():
    args = ["--idl", EXAMPLES / "okx-dex" / "idl.json", "--idl", EXAMPLES / "pump-legacy" / "idl.json",
            EXAMPLES / "okx-dex" / "swap.log", EXAMPLES / "pump-legacy" / "transactions.jsonl"]
    everything = records(run(*args))
    assert [(r["program"], r["event"]) for r in everything] == [
        (OKX, "SwapEvent"), (PUMP, "CreateEvent"), (PUMP, "TradeEvent"), (PUMP, "TradeEvent"), (PUMP, "TradeEvent")]
    filtered = records(run("--event", "SwapEvent", "--event", "CreateEvent", *args))
    assert [r["event"] for r in filtered] == ["SwapEvent", "CreateEvent"]
    # The same lines from standard input, in one stream.
    stdin = (EXAMPLES / "okx-dex" / "swap.log").read_text() + (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text()
    assert records(run(*args[:4], stdin=stdin)) == everything


def test_input_kind_forced():
    pump_idl = EXAMPLES / "pump-legacy" / "idl.json"
    jsonl = EXAMPLES / "pump-legacy" / "transactions.jsonl"
    # As log lines, JSON lines carry no events.
    assert run("--idl", pump_idl, "--input", "logs", jsonl).stdout == ""
    # As transactions, log lines are refused one by one; the others still decode.
    mixed = (EXAMPLES / "pump-legacy" / "trades.log").read_text().splitlines()[:2] + jsonl.read_text().splitlines()
    result = run("--idl", pump_idl, "--input", "tx", stdin="\n".join(mixed) + "\n")
    assert result.returncode == 1
    assert result.stderr.splitlines() == [
        "varkel: <stdin>:1: not JSON: Expecting value: line 1 column 1 (char 0)",
        "varkel: <stdin>:2: not JSON: Expecting value: line 1 column 1 (char 0)",
    ]
    assert len(records(result)) == 4


def test_bad_transaction_lines_are_reported_with_their_place(tmp_path):
    lines = (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text().splitlines()
    broken = json.loads(lines[0])
    del broken["result"]["meta"]
    path = tmp_path / "txs.jsonl"
    path.write_text("\n".join([json.dumps(broken), '{"jsonrpc": "2.0", "result": null, "id": 1}', "[1, 2]",
                               lines[1]]) + "\n")
    result = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", "--input", "tx", path)
    assert result.returncode == 1
    assert result.stderr.splitlines() == [
        f"varkel: {path}:1: invalid transaction: result.meta: missing",
        f"varkel: {path}:2: invalid transaction: result: null (the node has no such transaction)",
        f"varkel: {path}:3: not a JSON object",
    ]
    assert [r["signature"] for r in records(result)] == [BUY_SIG, BUY_SIG]


def test_every_encoding_and_the_signature_of_the_wire_forms():
    from helpers import fixture
    from tx.txdata import with_encoding

    doc = json.loads(fixture("logs", "chainstack-pump-create-getTransaction-2024.json").read_text())
    result = doc["result"]
    encodings = ("json", "jsonParsed", "base64", "base58")
    lines = [json.dumps(with_encoding(result, e)) for e in encodings]
    out = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", stdin="\n".join(lines) + "\n")
    assert out.returncode == 0, out.stderr
    got = [(r["signature"], r["slot"], r["instruction"], r["event"]) for r in records(out)]
    assert got == [(CREATE_SIG, 284682639, 3, "CreateEvent"), (CREATE_SIG, 284682639, 5, "TradeEvent")] * len(encodings)


def test_log_streams_longer_than_a_batch_keep_every_event():
    swap = (EXAMPLES / "okx-dex" / "swap.log").read_text()
    result = run("--idl", EXAMPLES / "okx-dex" / "idl.json", stdin=swap * 300)  # about 14,000 lines
    assert result.returncode == 0, result.stderr
    assert [r["event"] for r in records(result)] == ["SwapEvent"] * 300


@pytest.mark.parametrize("address, message", [
    ("", 'the IDL has no program address ("address" is empty), so no event can be attributed to its program'),
    ("x", "the IDL's program address \"x\" is not a public key: base58 text of 1 bytes, not a 32-byte public key"),
])
def test_idls_that_name_no_program(tmp_path, address, message):
    path = tmp_path / "idl.json"
    path.write_text(json.dumps({"address": address, "metadata": {"name": "t", "version": "1", "spec": "0.1.0"},
                                "instructions": [], "events": [], "types": []}))
    result = run("--idl", path, stdin="")
    assert (result.returncode, result.stderr) == (2, f"varkel: {path}: {message}\n")


def test_two_idls_of_one_program(tmp_path):
    idl = EXAMPLES / "okx-dex" / "idl.json"
    result = run("--idl", idl, "--idl", idl, stdin="")
    assert result.returncode == 2
    assert result.stderr == f"varkel: {idl}: program {OKX} already has an IDL ({idl})\n"
