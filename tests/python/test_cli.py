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


def test_bundled_samples():
    okx = run("--idl", EXAMPLES / "okx-dex" / "idl.json", EXAMPLES / "okx-dex" / "swap.log")
    assert okx.returncode == 0, okx.stderr
    assert [json.loads(line) for line in okx.stdout.splitlines()] == [
        {"event": "SwapEvent", "data": {"dex": "MeteoraDlmm", "amount_in": 9372599925000, "amount_out": 1700985700449}}
    ]
    pump = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", EXAMPLES / "pump-legacy" / "trades.log")
    events = [json.loads(line) for line in pump.stdout.splitlines()]
    assert [e["event"] for e in events] == ["CreateEvent", "TradeEvent", "TradeEvent", "TradeEvent"]
    assert events[0]["data"]["name"] == "excited"


def test_stdin_and_bytes_as_hex(tmp_path):
    idl = {"address": "x", "metadata": {"name": "t", "version": "1", "spec": "0.1.0"}, "instructions": [],
           "events": [{"name": "B", "discriminator": [1] * 8}],
           "types": [{"name": "B", "type": {"kind": "struct", "fields": [{"name": "b", "type": "bytes"},
                                                                         {"name": "n", "type": "u128"}]}}]}
    path = tmp_path / "idl.json"
    path.write_text(json.dumps(idl))
    # discriminator, bytes b"\xab\xcd", u128 2**127
    line = "Program data: AQEBAQEBAQECAAAAq80AAAAAAAAAAAAAAAAAAACA\n"
    result = run("--idl", path, stdin="noise\n" + line)
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == {"event": "B", "data": {"b": "abcd", "n": 2**127}}


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
