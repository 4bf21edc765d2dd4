"""python -m varkel: decodes transactions and log lines with IDLs into JSON lines."""

import json
import math
import os
import shlex
import signal
import subprocess
import sys

import pytest

from helpers import REPO, SANITIZED, current_idl, data_line, struct
from varkel_support import encode, event_discriminator

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


def test_stdin_bytes_and_a_line_outside_any_frame(tmp_path):
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
    assert (result.returncode, result.stderr) == (0, "")
    # The line outside any frame is read as the one IDL's program's, as
    # parse_logs reads it, and written with no program.
    framed, bare = records(result)
    assert (framed["event"], framed["data"], framed["program"]) == ("B", {"b": {"hex": "abcd"}, "n": 2**127}, program)
    assert bare == framed | {"program": None}


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


def test_instructions_with_the_events_in_execution_order(tmp_path):
    lines = (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text().splitlines()
    failed = json.loads(lines[1])
    failed["result"]["meta"]["err"] = {"InstructionError": [3, {"Custom": 6003}]}
    path = tmp_path / "txs.jsonl"
    path.write_text(lines[0] + "\n" + json.dumps(failed) + "\n")
    idl = EXAMPLES / "pump-legacy" / "idl.json"
    got = [(r["kind"], r.get("name") or r.get("event"), r["instruction"], r["inner"])
           for r in records(run("--idl", idl, "--instructions", path))]
    assert got == [
        ("instruction", "create", 3, None), ("event", "CreateEvent", 3, 14),
        ("instruction", "buy", 5, None), ("event", "TradeEvent", 5, 3),
        ("instruction", "buy", 2, None), ("event", "TradeEvent", 2, 3),
        ("instruction", "sell", 3, None), ("event", "TradeEvent", 3, 1),
        ("error", "TooLittleSolReceived", 3, None),
    ]
    kept = records(run("--idl", idl, "--instruction", "sell", "--event", "CreateEvent", path))
    assert [r["kind"] for r in kept] == ["event", "instruction", "error"]
    sell = kept[1]
    assert (sell["name"], sell["accounts"]["user"], sell["args"]) == (
        "sell", "2vr538qDgHCPYmr2mjt5LSjQ3kBYjtw3SDSveUKBVkef", {"amount": 605426095720, "min_sol_output": 12032})
    result = run("--idl", idl, "--instruction", "sel", path)
    assert result.returncode == 2 and "did you mean sell?" in result.stderr


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
        "varkel: <stdin>:1: invalid transaction: transaction JSON: expected value at line 1 column 1",
        "varkel: <stdin>:2: invalid transaction: transaction JSON: expected value at line 1 column 1",
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
        f"varkel: {path}:3: invalid transaction: expected a transaction object, found sequence",
    ]
    assert [r["signature"] for r in records(result)] == [BUY_SIG, BUY_SIG]


# Hostile lines end neither the run nor the lines after them: a line nested
# far deeper than any transaction, and one that is not UTF-8, are reported
# with their place, and the valid line after them still decodes.
def test_hostile_transaction_lines_are_reported(tmp_path):
    lines = (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text().splitlines()
    path = tmp_path / "txs.jsonl"
    path.write_bytes(('{"a":' + "[" * 100_000 + "\n").encode() + b'{"slot": "\xff"}\n' + lines[1].encode() + b"\n")
    result = run("--idl", EXAMPLES / "pump-legacy" / "idl.json", path)
    assert result.returncode == 1
    assert result.stderr.splitlines() == [
        f"varkel: {path}:1: invalid transaction: transaction JSON: recursion limit exceeded at line 1 column 132",
        f"varkel: {path}:2: invalid transaction: the text is not UTF-8 (it holds a lone surrogate)",
    ]
    assert [r["signature"] for r in records(result)] == [BUY_SIG, BUY_SIG]


def test_closed_standard_output():
    idl = EXAMPLES / "pump-legacy" / "idl.json"
    done = subprocess.run(f"{shlex.quote(sys.executable)} -m varkel --idl {shlex.quote(str(idl))} >&-",
                          shell=True, input="", capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (1, "varkel: standard output is closed\n")


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
    hint = f" (give it as --idl {path}=<program id>)" if not address else ""
    assert (result.returncode, result.stderr) == (2, f"varkel: {path}: {message}{hint}\n")


def test_two_idls_of_one_program(tmp_path):
    idl = EXAMPLES / "okx-dex" / "idl.json"
    result = run("--idl", idl, "--idl", idl, stdin="")
    assert result.returncode == 2
    assert result.stderr == f"varkel: {idl}: program {OKX} already has an IDL ({idl})\n"


# --------------------------------------------------------------------------
# Version, JSON conventions, the summary line.

def test_version_has_one_source():
    import importlib.metadata

    import varkel

    result = run("--version")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith(f"varkel {varkel.__version__} (CPython {sys.version.split()[0]}")
    assert importlib.metadata.version("varkel") == varkel.__version__


def idl_file(tmp_path, fields, name="E", program="Prog111111111111111111111111111111111111111"):
    """An IDL with one event of these fields, as a file."""
    path = tmp_path / f"{name}-{len(fields)}.json"
    path.write_text(current_idl([name], [struct(name, fields)], address=program))
    return path


def framed(program, *lines):
    return [f"Program {program} invoke [1]", *lines, f"Program {program} success"]


def test_output_is_standard_json(tmp_path):
    fields = [("raw", "bytes"), ("nan", "f64"), ("inf", "f32"), ("ninf", "f64"), ("half", "f64"),
              ("big", "u128"), ("small", "i256"), ("list", {"vec": "bytes"}), ("maybe", {"option": "f64"})]
    value = {"raw": b"\x00\xff", "nan": math.nan, "inf": math.inf, "ninf": -math.inf, "half": 0.5,
             "big": 2**128 - 1, "small": -(2**255), "list": [b"", b"\x10"], "maybe": math.nan}
    types = {"E": struct("E", fields)["type"]}
    line = data_line(event_discriminator("E"), encode({"defined": {"name": "E"}}, value, types))
    path = idl_file(tmp_path, fields)
    result = run("--idl", path, stdin="\n".join(framed("Prog111111111111111111111111111111111111111", line)))
    assert (result.returncode, result.stderr) == (0, "")

    def refuse(constant):
        raise AssertionError(f"{constant} is not JSON")

    (record,) = [json.loads(text, parse_constant=refuse) for text in result.stdout.splitlines()]
    assert record["data"] == {"raw": {"hex": "00ff"}, "nan": None, "inf": None, "ninf": None, "half": 0.5,
                              "big": 2**128 - 1, "small": -(2**255), "list": [{"hex": ""}, {"hex": "10"}],
                              "maybe": None}
    assert str(2**128 - 1) in result.stdout  # written exactly, not as a float


@pytest.mark.parametrize("idl, known, name, hint", [
    ("okx-dex", "SwapEvent", "SwapEvnt", "did you mean SwapEvent?"),
    ("pump-legacy", "TradeEvent", "Nothing", "declared: CreateEvent, TradeEvent, CompleteEvent, SetParamsEvent"),
])
def test_unknown_event_names_are_refused(idl, known, name, hint):
    result = run("--idl", EXAMPLES / idl / "idl.json", "--event", known, "--event", name, stdin="")
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"varkel: --event {name}: no IDL declares an event of that name ({hint})\n"


def okx_with(tmp_path, change):
    """The OKX IDL changed by `change(doc)`, as a file."""
    doc = json.loads((EXAMPLES / "okx-dex" / "idl.json").read_text())
    change(doc)
    path = tmp_path / "okx-changed.json"
    path.write_text(json.dumps(doc))
    return path


def swap_event_type(doc):
    return next(t for t in doc["types"] if t["name"] == "SwapEvent")


def test_stats_of_a_run():
    swap = (EXAMPLES / "okx-dex" / "swap.log").read_text()
    txs = (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text()
    result = run("--idl", EXAMPLES / "okx-dex" / "idl.json", "--idl", EXAMPLES / "pump-legacy" / "idl.json",
                 "--stats", stdin=swap + txs)
    assert result.returncode == 0
    lines = len((swap + txs).splitlines())
    # The swap logs one event; each pump event is logged and emitted by CPI.
    assert result.stderr == (f"varkel: {lines} lines, 5 payload lines, 2 transactions, 4 CPI event instructions, 5 events, "
                             "0 payloads with a known discriminator failed to decode, 0 unknown discriminators\n")
    filtered = run("--idl", EXAMPLES / "okx-dex" / "idl.json", "--event", "SwapEvent", "--stats", stdin=swap)
    assert filtered.stderr == (f"varkel: {len(swap.splitlines())} lines, 1 payload lines, 1 events (1 written), "
                               "0 payloads with a known discriminator failed to decode, 0 unknown discriminators\n")


@pytest.mark.parametrize("change, counts, meaning", [
    # A field added since the logs were written: the data is too short.
    (lambda doc: swap_event_type(doc)["type"]["fields"].append({"name": "fee", "type": "u64"}),
     "0 events, 1 payloads with a known discriminator failed to decode, 0 unknown discriminators",
     "the IDL probably does not match the program's current event layout (is it outdated?)"),
    # The event renamed: another discriminator.
    (lambda doc: next(e for e in doc["events"] if e["name"] == "SwapEvent").update(discriminator=[0] * 8),
     "0 events, 0 payloads with a known discriminator failed to decode, 1 unknown discriminators",
     "the IDL declares none of these events (is it outdated, or another program's?)"),
])
def test_a_summary_says_why_nothing_came_out(tmp_path, change, counts, meaning):
    swap = EXAMPLES / "okx-dex" / "swap.log"
    result = run("--idl", okx_with(tmp_path, change), swap)
    assert (result.returncode, result.stdout) == (0, "")
    lines = len(swap.read_text().splitlines())
    assert result.stderr == f"varkel: {lines} lines, 1 payload lines, {counts}: {meaning}\n"


def test_bare_event_lines(tmp_path):
    """Lines without invoke lines: the one IDL's events, with no program; with
    several IDLs nobody's, and the summary says so."""
    bare = [line for line in (EXAMPLES / "okx-dex" / "swap.log").read_text().splitlines()
            if line.startswith("Program data: ")]
    one = run("--idl", EXAMPLES / "okx-dex" / "idl.json", stdin="\n".join(bare) + "\n")
    assert one.stderr == ""
    assert [(r["program"], r["event"]) for r in records(one)] == [(None, "SwapEvent")]
    several = run("--idl", EXAMPLES / "okx-dex" / "idl.json", "--idl", EXAMPLES / "pump-legacy" / "idl.json",
                  stdin="\n".join(bare) + "\n")
    assert (several.returncode, several.stdout) == (0, "")
    assert several.stderr == (
        f"varkel: {len(bare)} lines, 0 payload lines, 0 events, 0 payloads with a known discriminator failed to "
        f"decode, 0 unknown discriminators, {len(bare)} payload lines outside any invoke frame skipped: with several "
        "--idl, a line outside any invoke frame cannot be attributed to a program (keep the invoke lines, or give "
        "one --idl)\n")


PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"
NEVER = "the IDL's program is never invoked in the input"


@pytest.mark.parametrize("idl, data, reasons", [
    # another program's log lines
    (EXAMPLES / "pump-legacy" / "idl.json", EXAMPLES / "okx-dex" / "swap.log",
     [NEVER, "1 payload lines came from other programs' frames"]),
    # the right IDL at the wrong address
    (f"{EXAMPLES / 'pump-legacy' / 'idl.json'}=11111111111111111111111111111112",
     EXAMPLES / "pump-legacy" / "transactions.jsonl", [NEVER]),
    # another IDL at the program's address: its own payloads, none of them known
    (f"{EXAMPLES / 'okx-dex' / 'idl.json'}={PUMP}", EXAMPLES / "pump-legacy" / "transactions.jsonl",
     ["the IDL declares none of these events"]),
])
def test_why_nothing_came_out(idl, data, reasons):
    for strict in (False, True):
        result = run("--idl", idl, *(["--strict"] if strict else []), data)
        assert (result.returncode, result.stdout) == (int(strict), "")
        assert all(reason in result.stderr for reason in reasons), result.stderr


# --------------------------------------------------------------------------
# Pipes, Ctrl-C, progress and memory: in subprocesses.

PUMP_IDL = EXAMPLES / "pump-legacy" / "idl.json"
TXS = EXAMPLES / "pump-legacy" / "transactions.jsonl"
# Calls main() itself: without the command's signal setup (what happens where
# there are no such signals), the interpreter's own handling stays.
MAIN = "import sys; from varkel.__main__ import main; sys.exit(main(sys.argv[1:]))"


def many_transactions(tmp_path, copies=2000):
    path = tmp_path / "many.jsonl"
    path.write_text(TXS.read_text() * copies)  # 4 events a copy: far more than a pipe holds
    return path


@pytest.mark.thread_unsafe(reason="a few seconds of decoding per run")
def test_a_closed_pipe_ends_quietly_with_the_usual_status(tmp_path):
    path = many_transactions(tmp_path)
    # In a shell pipeline: killed by SIGPIPE, as other tools, which the shell reports as 141.
    shell = subprocess.run(
        ["bash", "-c", 'set -o pipefail; "$0" -m varkel --idl "$1" "$2" | head -n 1', sys.executable, PUMP_IDL, path],
        capture_output=True, text=True, timeout=120)
    assert (shell.returncode, shell.stderr) == (128 + signal.SIGPIPE, "")
    assert json.loads(shell.stdout)["event"] == "CreateEvent"
    # main() alone, with SIGPIPE ignored as the interpreter sets it: the same status, returned.
    process = subprocess.Popen([sys.executable, "-c", MAIN, "--idl", str(PUMP_IDL), str(path)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = process.stdout.readline()
    process.stdout.close()
    assert process.wait(timeout=120) == 128 + signal.SIGPIPE
    assert json.loads(first)["event"] == "CreateEvent"
    assert process.stderr.read() == b""
    process.stderr.close()


def interrupt_while_reading(tmp_path, command):
    """Runs `command` on a file of transactions and then a named pipe that is
    kept open; once the command is reading the pipe, sends SIGINT. Returns
    (status, stdout, stderr)."""
    fifo = tmp_path / "feed"
    os.mkfifo(fifo)
    process = subprocess.Popen([*command, "--idl", str(PUMP_IDL), str(TXS), str(fifo)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    with open(fifo, "w") as feed:  # returns once the command has opened the pipe
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
        feed.close()
    return process.returncode, out, err


@pytest.mark.thread_unsafe(reason="signals and named pipes per run")
def test_ctrl_c_ends_quietly_with_what_was_decoded(tmp_path):
    # Status 130 (128 + SIGINT), no traceback; the events of the first file
    # were written out.
    status, out, err = interrupt_while_reading(tmp_path, [sys.executable, "-m", "varkel"])
    assert (status, err) == (130, "")
    assert len(records(subprocess.CompletedProcess([], 0, out))) == 4
    # main() alone returns 130.
    (tmp_path / "again").mkdir()
    status, out, err = interrupt_while_reading(tmp_path / "again", [sys.executable, "-c", MAIN])
    assert (status, err, len(out.splitlines())) == (130, "", 4)


def run_on_a_terminal(*args, stdout_on_terminal=False):
    """Runs the command with standard error on a pseudo-terminal; returns what
    the terminal showed."""
    import fcntl
    import pty
    import struct as struct_module
    import termios

    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct_module.pack("HHHH", 24, 100, 0, 0))  # a terminal's size
    try:
        process = subprocess.Popen([sys.executable, "-m", "varkel", *map(str, args)], stdin=subprocess.DEVNULL,
                                   stdout=slave if stdout_on_terminal else subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # EIO: every writer has closed the terminal
                break
            if not chunk:
                break
            shown += chunk
        assert process.wait(timeout=60) == 0
    finally:
        os.close(master)
    return shown.decode()


@pytest.mark.thread_unsafe(reason="pseudo-terminals per run")
def test_progress_only_on_a_terminal(tmp_path):
    pytest.importorskip("tqdm", reason="tqdm (varkel[cli]) is not installed")
    path = many_transactions(tmp_path, copies=20)
    shown = run_on_a_terminal("--idl", PUMP_IDL, path)
    assert "varkel: " in shown and " lines" in shown
    assert "80 events" in shown and "events/s" in shown  # the final state
    assert run_on_a_terminal("--idl", PUMP_IDL, "--no-progress", path) == ""
    # Events on the same terminal would break the line: no progress then.
    assert "events/s" not in run_on_a_terminal("--idl", PUMP_IDL, path, stdout_on_terminal=True)
    # Not a terminal: nothing on standard error.
    assert run("--idl", PUMP_IDL, path).stderr == ""


# VmHWM, which exec resets: ru_maxrss keeps the peak of the process that
# started the command when that was larger (a test run in many threads).
PEAK = ("import sys; from varkel.__main__ import main; status = main(sys.argv[1:]); "
        "print(next(l for l in open('/proc/self/status') if l.startswith('VmHWM:')).split()[1], file=sys.stderr); "
        "sys.exit(status)")


def peak_kib(copies, text, *args):
    """The command's peak resident memory over `copies` of `text` on standard input."""
    process = subprocess.Popen([sys.executable, "-c", PEAK, *map(str, args)], stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    chunk = (text * 100).encode()
    for _ in range(copies // 100):
        process.stdin.write(chunk)
    process.stdin.close()
    err = process.stderr.read().decode()
    process.stderr.close()
    assert process.wait(timeout=300) == 0, err
    return int(err.split()[-1])


@pytest.mark.thread_unsafe(reason="tens of megabytes of input per run")
@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
def test_memory_stays_bounded_whatever_the_input_size():
    swap = (EXAMPLES / "okx-dex" / "swap.log").read_text()  # 47 lines, about 5 KB
    txs = TXS.read_text()
    for text, idl in ((swap, EXAMPLES / "okx-dex" / "idl.json"), (txs, PUMP_IDL)):
        small = peak_kib(1_000, text, "--idl", idl)
        large = peak_kib(10_000, text, "--idl", idl)  # about 45 MB more input
        assert large - small < 16 * 1024, (small, large)
