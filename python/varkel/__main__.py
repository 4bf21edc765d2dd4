"""Command line: decode the events of transactions and log files with programs' IDLs.

    python -m varkel --idl IDL.json [--idl IDL.json ...] [--input auto|logs|tx]
                     [--event NAME ...] [--instructions] [--instruction NAME ...]
                     [--format jsonl|parquet --output DIR] [--stats] [--no-progress] [FILE ...]
    python -m varkel accounts --idl IDL.json [--format jsonl|parquet --output DIR] [--stats] [FILE ...]
    python -m varkel --version

Reads the files, or standard input when none is given. A line that is a JSON
object is a transaction: a getTransaction result (any encoding), the RPC
envelope around one, or one transaction of a block. Any other line is a
transaction log line. `--input logs` or `--input tx` reads every line as one
kind. Writes one JSON object per event, in the order of execution:

    {"signature", "slot", "program", "instruction", "inner", "source", "event", "data"}

Every event is attributed to the program that emitted it (the program on top
of the invoke stack for a logged event, the self-invoking program for an event
emitted by CPI); only the events of the given IDLs' programs are written.
Fields that do not apply are null: log lines carry no signature or slot, and
their instructions cannot be numbered across a stream of transactions. With
one --idl, a log line outside any invoke frame (a file of bare event lines) is
read as that program's, as EventDecoder.parse_logs reads it, and written with
"program": null; with several it is ambiguous and skipped.

The output is standard JSON: bytes are written as {"hex": "<lowercase hex>"},
integers exactly whatever their width (tools that read numbers as doubles,
such as JavaScript and jq before 1.7, round those beyond 2^53), and NaN and
infinities, which JSON cannot express, as null. `--event NAME` (repeatable)
keeps only the events of those names.

With --instructions the instructions of the IDLs' programs in transactions
are written too, in the order of execution with the events (which then carry
"kind": "event"):

    {"signature", "slot", "program", "instruction", "inner", "depth", "kind": "instruction",
     "name", "args", "accounts", "remaining", "missing", "error", "data"}

"error" says why an instruction does not decode (its raw data is then in
"data"); a failed transaction gets one more record {"signature", "slot",
"kind": "error", "program", "instruction", "inner", "error", "code", "name",
"message"} after its instructions and events. `--instruction NAME`
(repeatable, implies --instructions) keeps only the instructions of those
names.

With --format parquet the same events (and with --instructions the
instructions) are written as a Parquet dataset into --output DIR, a new or
empty directory: one directory per table, DIR/<program id>/<kind>/<name>/,
holding files part-00000.parquet, ... (varkel.parquet; needs pyarrow: pip
install 'varkel[parquet]'). The input is transactions and blocks, a batch of
lines at a time; log lines make no tables: in "auto" mode the first log line
of a file is reported and the rest of that file skipped, and --input logs is
refused.

`python -m varkel accounts` decodes a program's accounts: getAccountInfo,
getMultipleAccounts and getProgramAccounts results (with or without the RPC
envelope) and `solana account --output json` dumps, one JSON document per
line, or a file that is one (pretty-printed) document. It writes one JSON
object per account, {"pubkey", "name", "owner", "lamports", "slot", "unread",
"error", "value"} ("error" says why an account does not decode), or with
--format parquet one table per account type; accounts that do not decode are
then listed on standard error.

On standard error: a one-line summary (lines read, payload lines, events,
payloads with a known discriminator that failed to decode, unknown
discriminators) with --stats, and whenever payload lines of the programs were
seen but no event came out, with what that probably means; a progress line
when standard error is a terminal and standard output is not (needs tqdm:
pip install 'varkel[cli]'; --no-progress turns it off).

Exit status: 0; 1 when a file could not be read or a transaction line was not
a transaction (reported on standard error, the other lines still decoded),
or when the output could not be written (which stops the command); 2
when an IDL cannot be used or --event names no event of the IDLs. A closed
output pipe (`| head`) ends the command quietly, killed by SIGPIPE as other
tools are (status 141 in the shell); Ctrl-C ends it quietly with what was
decoded so far written out, with status 130 (128 + SIGINT).
"""

from __future__ import annotations

import argparse
import difflib
import importlib
import io
import json
import os
import platform
import signal
import sys
import time
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Any, TextIO

import varkel
from varkel import (Account, AccountError, Event, EventDecoder, EventTable, IdlError, Instruction, ProgramIdError,
                    TransactionError)
from varkel._output import to_json
from varkel._varkel import _decode_counted, _decode_logs_counted, _decode_tables_counted

# Log lines go to the decoder in batches of about this many lines, cut only
# before an "invoke [1]" line so that no frame is split between two batches;
# a stream without such lines is cut at MAX_BATCH lines whatever it holds.
BATCH = 4096
MAX_BATCH = 16 * BATCH

# Exit statuses besides 0: what the shell reports for a command killed by
# SIGINT (Ctrl-C) and by SIGPIPE (a closed output pipe) is 128 + the signal.
FAILED = 1
USAGE = 2
INTERRUPTED = 128 + 2
BROKEN_PIPE = 128 + 13

# --------------------------------------------------------------------------
# Arguments and IDLs.


def version_text() -> str:
    """varkel's version, with the interpreter that runs it and whether its GIL is off."""
    build = ""
    if hasattr(sys, "_is_gil_enabled"):  # 3.13+; only free-threaded builds can turn it off
        import sysconfig

        if sysconfig.get_config_var("Py_GIL_DISABLED"):
            build = f" free-threaded, GIL {'on' if sys._is_gil_enabled() else 'off'}"
    return f"varkel {varkel.__version__} ({platform.python_implementation()} {platform.python_version()}{build})"


def _parse_args(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python -m varkel",
        description="Decode Anchor program events from Solana transactions and transaction log lines "
                    "into JSON lines.",
    )
    parser.add_argument("--version", action="version", version=version_text())
    parser.add_argument("--idl", required=True, action="append", metavar="IDL.json[=PROGRAM_ID]",
                        help="a program's IDL (current or legacy format); repeat for several programs. "
                             "=PROGRAM_ID: the program is deployed at that address instead of the IDL's")
    parser.add_argument("--input", choices=("auto", "logs", "tx"), default="auto",
                        help="what the lines are: auto (JSON objects are transactions, other lines log lines; "
                             "the default), logs, or tx")
    parser.add_argument("--event", action="append", metavar="NAME",
                        help="write only events of this name (repeatable)")
    parser.add_argument("--instructions", action="store_true",
                        help="write the programs' instructions too (transactions only), and the error of a "
                             "failed transaction")
    parser.add_argument("--instruction", action="append", metavar="NAME",
                        help="write only instructions of this name (repeatable; implies --instructions)")
    parser.add_argument("--stats", action="store_true",
                        help="at the end, write a summary line to standard error (lines, payload lines, events, "
                             "failures)")
    parser.add_argument("--strict", action="store_true",
                        help="exit with status 1 when no event or instruction came out")
    parser.add_argument("--no-progress", action="store_true",
                        help="no progress line on standard error (shown only when it is a terminal and tqdm "
                             "is installed)")
    _add_format_arguments(parser, "the tables of the events (and instructions) of transactions and blocks")
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="input files, one log line or one JSON transaction per line (default: standard input)")
    return parser.parse_args(argv)


def _add_format_arguments(parser: argparse.ArgumentParser, tables: str) -> None:
    parser.add_argument("--format", choices=("jsonl", "parquet"), default="jsonl",
                        help=f"jsonl: JSON lines on standard output (the default); parquet: {tables} as a Parquet "
                             "dataset in --output DIR (needs pyarrow: pip install 'varkel[parquet]')")
    parser.add_argument("--output", metavar="DIR",
                        help="the dataset's directory, new or empty (--format parquet): "
                             "DIR/<program id>/<kind>/<name>/part-00000.parquet, ...")


def _check_format(args: argparse.Namespace) -> None:
    """--output goes with --format parquet, and only with it."""
    if args.format == "parquet" and args.output is None:
        raise UsageError("--format parquet needs --output DIR, the dataset's directory")
    if args.format == "jsonl" and args.output is not None:
        raise UsageError("--output DIR is the directory of --format parquet; JSON lines go to standard output")


def _dataset_writer(output: str, decoders: Sequence[EventDecoder]) -> Any:
    """A varkel.parquet.DatasetWriter into `output`, a new or empty directory."""
    try:
        from varkel.parquet import DatasetWriter
    except ImportError:
        raise UsageError("--format parquet needs pyarrow: pip install 'varkel[parquet]'") from None
    try:
        os.makedirs(output, exist_ok=True)
        if any(os.scandir(output)):
            raise UsageError(f"--output {output}: not empty (the dataset's files would mix with what is there)")
    except OSError as error:
        raise UsageError(f"--output {output}: {error.strerror or error}") from None
    return DatasetWriter(output, decoders)


class UsageError(Exception):
    """An IDL or option that cannot be used: reported, exit status 2."""


def _idl_argument(argument: str) -> tuple[str, str | None]:
    """IDL.json or IDL.json=<program id>: a file of that very name wins."""
    path, sep, program_id = argument.rpartition("=")
    if not sep or not path or os.path.exists(argument):
        return argument, None
    return path, program_id


def _load_decoders(arguments: Sequence[str]) -> list[EventDecoder]:
    decoders: list[EventDecoder] = []
    owners: dict[str, str] = {}
    for argument in arguments:
        path, program_id = _idl_argument(argument)
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except (OSError, UnicodeDecodeError) as error:
            raise UsageError(f"cannot read IDL {path}: {error}") from None
        try:
            decoder = EventDecoder(text)
            if program_id is not None:
                decoder = decoder.with_program_id(program_id)
            decoder.decode_logs([])  # the IDL names its program
        except IdlError as error:
            raise UsageError(f"{path}: {error}") from None
        except ProgramIdError as error:
            reason = error.reason or str(error)
            if program_id is None and "no program address" in reason:
                reason += f" (give it as --idl {path}=<program id>)"
            raise UsageError(f"{argument}: {reason}") from None
        if decoder.program_id in owners:
            raise UsageError(f"{argument}: program {decoder.program_id} already has an IDL "
                             f"({owners[decoder.program_id]})")
        owners[decoder.program_id] = argument
        decoders.append(decoder)
    return decoders


def _check_names(option: str, names: Sequence[str] | None, declared: Sequence[str], what: str) -> None:
    """--event and --instruction names must be declared by the IDLs: a misspelt name would write nothing."""
    for name in names or ():
        if name in declared:
            continue
        close = difflib.get_close_matches(name, declared, n=1)
        hint = f"did you mean {close[0]}?" if close else f"declared: {', '.join(declared) or 'none'}"
        raise UsageError(f"{option} {name}: no IDL declares {what} of that name ({hint})")


# --------------------------------------------------------------------------
# Counts, the summary line, progress.


@dataclass
class Stats:
    """What the run saw. The decoder's counts come from the decoding pass itself."""

    lines: int = 0
    payload_lines: int = 0
    cpi_instructions: int = 0
    events: int = 0
    written: int = 0
    failed: int = 0
    instructions: int = 0
    undecodable_instructions: int = 0
    unknown_discriminators: int = 0
    unattributed: int = 0
    other_programs: int = 0
    invocations: int = 0
    transactions: int = 0  # transactions read (of transaction lines and blocks)
    bad_lines: int = 0

    def add(self, counts: dict[str, int]) -> None:
        self.payload_lines += counts["payload_lines"]
        self.cpi_instructions += counts["cpi_instructions"]
        self.events += counts["events"]
        self.failed += counts["failed"]
        self.unknown_discriminators += counts["unknown_discriminators"]
        self.unattributed += counts["unattributed"]
        self.other_programs += counts["other_programs"]
        self.invocations += counts["invocations"]
        self.instructions += counts.get("instructions", 0)
        self.undecodable_instructions += counts.get("undecodable_instructions", 0)
        self.transactions += counts.get("transactions", 0)

    def nothing_came_out(self) -> bool:
        """Lines were read but no event or instruction came out."""
        return self.lines > 0 and self.events == 0 and self.instructions == 0

    def summary(self, filtered: bool) -> str:
        parts = [f"{self.lines} lines", f"{self.payload_lines} payload lines"]
        if self.transactions:
            parts.append(f"{self.transactions} transactions")
            parts.append(f"{self.cpi_instructions} CPI event instructions")
        parts.append(f"{self.events} events" + (f" ({self.written} written)" if filtered else ""))
        parts.append(f"{self.failed} payloads with a known discriminator failed to decode")
        parts.append(f"{self.unknown_discriminators} unknown discriminators")
        if self.instructions:
            parts.append(f"{self.instructions} instructions ({self.undecodable_instructions} did not decode)")
        if self.unattributed:
            parts.append(f"{self.unattributed} payload lines outside any invoke frame skipped")
        if self.bad_lines:
            parts.append(f"{self.bad_lines} lines not read (reported above)")
        text = "varkel: " + ", ".join(parts)
        if self.nothing_came_out():
            text += ": " + "; ".join(self.diagnosis())
        return text

    def diagnosis(self) -> list[str]:
        """Why nothing came out, as far as the counts tell."""
        reasons = []
        if self.failed:
            reasons.append("the IDL probably does not match the program's current event layout (is it outdated?)")
        if self.unknown_discriminators:
            reasons.append("the IDL declares none of these events (is it outdated, or another program's?)")
        if self.unattributed:
            reasons.append("with several --idl, a line outside any invoke frame cannot be attributed to a program "
                           "(keep the invoke lines, or give one --idl)")
        if self.invocations == 0 and (self.other_programs or self.transactions):
            reasons.append("the IDL's program is never invoked in the input (is the program deployed at "
                           "another address? give it as --idl IDL.json=<program id>)")
        if self.other_programs:
            reasons.append(f"{self.other_programs} payload lines came from other programs' frames")
        if not reasons:
            reasons.append("the input holds no event or instruction of the IDL's program")
        return reasons


class Progress:
    """A progress line on standard error (tqdm): lines read and events, with
    their rates. Refreshed at most twice a second."""

    INTERVAL = 0.5

    def __init__(self, tqdm_class: Any, stream: TextIO) -> None:
        # Rates are averages over the run (smoothing 0), as the events' rate is.
        self.bar = tqdm_class(desc="varkel", unit=" lines", unit_scale=True, file=stream, mininterval=self.INTERVAL,
                              smoothing=0, dynamic_ncols=True, leave=True)
        self.start = time.monotonic()
        self.due = self.start + self.INTERVAL

    @classmethod
    def open(cls, wanted: bool, stream: TextIO, output: TextIO | None) -> Progress | None:
        """A progress line when it is wanted, `stream` is a terminal that the
        output (None: files) does not go to, and tqdm is installed; else None."""
        if not wanted or not _isatty(stream) or (output is not None and _isatty(output)):
            return None
        try:
            tqdm_class = importlib.import_module("tqdm").tqdm
        except ImportError:
            return None
        return cls(tqdm_class, stream)

    def update(self, stats: Stats) -> None:
        now = time.monotonic()
        if now >= self.due:
            self.due = now + self.INTERVAL
            self._show(stats, now)

    def close(self, stats: Stats) -> None:
        self._show(stats, time.monotonic())
        self.bar.close()

    def _show(self, stats: Stats, now: float) -> None:
        rate = stats.events / max(now - self.start, 1e-9)
        self.bar.n = stats.lines
        self.bar.set_postfix_str(f"{stats.events:,} events, {rate:,.0f} events/s", refresh=False)
        self.bar.refresh()


def _isatty(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):  # no such method, or closed
        return False


# --------------------------------------------------------------------------
# Decoding.


class WriteError(Exception):
    """The output could not be written (a full disk, say): reported, exit status 1."""


class Output:
    """Writes the records of the kept events and instructions. A closed pipe
    raises BrokenPipeError; any other failure to write, WriteError."""

    def __init__(self, stream: TextIO, events: Sequence[str] | None, instructions: Sequence[str] | None,
                 kinds: bool) -> None:
        self.stream = stream
        self.events = set(events) if events else None
        self.instructions = set(instructions) if instructions else None
        self.kinds = kinds  # records carry "kind" (events among instructions)

    def write(self, items: Iterable[Event | Instruction], signature: str | None = None, slot: int | None = None,
              numbered: bool = True) -> int:
        """Writes the events and instructions; returns how many were kept."""
        written = 0
        for item in items:
            if isinstance(item, Instruction):
                if self.instructions is not None and item.name not in self.instructions:
                    continue
                record = self.instruction_record(item, signature, slot)
            else:
                if self.events is not None and item.name not in self.events:
                    continue
                record = self.event_record(item, signature, slot, numbered)
            self._line(record)
            written += 1
        return written

    def event_record(self, event: Event, signature: str | None, slot: int | None, numbered: bool) -> dict[str, Any]:
        adopted = event.depth == 0  # a line outside any invoke frame, read as the one IDL's program
        record = {
            "signature": signature,
            "slot": slot,
            "program": None if adopted else event.program_id,
            "instruction": event.instruction if numbered else None,
            "inner": event.inner if numbered else None,
            "source": event.source,
            "event": event.name,
            "data": event.data,
        }
        if self.kinds:
            record["kind"] = "event"
        return record

    @staticmethod
    def instruction_record(ins: Instruction, signature: str | None, slot: int | None) -> dict[str, Any]:
        return {
            "signature": signature,
            "slot": slot,
            "program": ins.program_id,
            "instruction": ins.instruction,
            "inner": ins.inner,
            "depth": ins.depth,
            "kind": "instruction",
            "name": ins.name,
            "args": ins.args,
            "accounts": ins.accounts,
            "remaining": ins.remaining,
            "missing": list(ins.missing),
            "error": ins.error,
            "data": ins.data,
        }

    def write_error(self, error: dict[str, Any], signature: str | None, slot: int | None) -> None:
        """The record of why a transaction failed."""
        record = {"signature": signature, "slot": slot, "kind": "error"}
        record.update((key, error[key]) for key in ("program", "instruction", "inner", "error", "code", "name",
                                                    "message"))
        self._line(record)

    def _line(self, record: dict[str, Any]) -> None:
        try:
            self.stream.write(to_json(record) + "\n")
        except BrokenPipeError:
            raise
        except OSError as error:
            raise WriteError(f"cannot write the output: {error}") from None

    def flush(self) -> None:
        try:
            self.stream.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise WriteError(f"cannot write the output: {error}") from None


class Decoding:
    """Decodes lines into the output, counting as it goes."""

    def __init__(self, decoders: list[EventDecoder], output: Output, stats: Stats,
                 progress: Progress | None, instructions: bool = False) -> None:
        self.decoders = decoders
        self.output = output
        self.stats = stats
        self.progress = progress
        self.instructions = instructions
        # With one IDL, lines outside any invoke frame are its program's (as
        # parse_logs reads them); with several they are nobody's.
        self.adopt = len(decoders) == 1
        self.lines: list[str] = []  # log lines waiting for their batch

    def transaction(self, text: str) -> None:
        """Decodes one JSON line, a transaction or a block (its text goes to the
        decoder as it is); raises TransactionError with the reason."""
        transactions, counts = _decode_counted(text, self.decoders, self.instructions)
        self.stats.add(counts)
        for tx, items in transactions:
            self.stats.written += self.output.write(items, tx.signature, tx.slot)
            if self.instructions and tx.error is not None:
                self.output.write_error(tx.error, tx.signature, tx.slot)
        if self.progress is not None:
            self.progress.update(self.stats)

    def log_line(self, line: str) -> None:
        """Adds a log line to the batch, decoding the batch first when it is full
        and the line starts a top-level instruction."""
        top_level = line.startswith("Program ") and line.endswith(" invoke [1]")
        if (top_level and len(self.lines) >= BATCH) or len(self.lines) >= MAX_BATCH:
            self.flush()
        self.lines.append(line)

    def flush(self) -> None:
        if not self.lines:
            return
        events, counts = _decode_logs_counted(self.lines, self.decoders, self.adopt)
        self.lines = []
        self.stats.add(counts)
        self.stats.written += self.output.write(events, numbered=False)
        if self.progress is not None:
            self.progress.update(self.stats)

    def stream(self, stream: Iterable[str], name: str, mode: str) -> int:
        """Decodes the lines of one stream; returns the number of bad lines."""
        bad = 0
        for number, raw in enumerate(stream, 1):
            self.stats.lines += 1
            if self.progress is not None and not number & 1023:  # slow inputs show their progress too
                self.progress.update(self.stats)
            line = raw.rstrip("\r\n")
            if mode == "tx" or (mode == "auto" and line.lstrip().startswith("{")):
                if not line.strip():
                    continue
                self.flush()  # keep the output in input order
                try:
                    self.transaction(line)
                except TransactionError as error:
                    print(f"varkel: {name}:{number}: {error}", file=sys.stderr)
                    bad += 1
                continue
            try:
                line.encode("utf-8")
            except UnicodeEncodeError:
                continue  # a line that is not UTF-8 cannot carry an event
            self.log_line(line)
        self.flush()
        self.stats.bad_lines += bad
        return bad


# --------------------------------------------------------------------------
# Tables: --format parquet.

# Transactions and blocks go to the decoder in batches of at most this many
# lines, or of text (a block can be megabytes).
TABLE_BATCH = 1000
TABLE_BATCH_BYTES = 32 << 20


class TableDecoding:
    """Decodes transaction and block lines into tables, a batch at a time, and
    writes the kept tables through a dataset writer, counting as it goes."""

    def __init__(self, decoders: list[EventDecoder], writer: Any, stats: Stats, progress: Progress | None,
                 instructions: bool, events: Sequence[str] | None, instruction_names: Sequence[str] | None) -> None:
        self.decoders = decoders
        self.writer = writer
        self.stats = stats
        self.progress = progress
        self.instructions = instructions
        self.events = set(events) if events else None
        self.instruction_names = set(instruction_names) if instruction_names else None
        self.lines: list[str] = []
        self.numbers: list[int] = []  # of the lines in their stream
        self.size = 0

    def keep(self, kind: str, name: str) -> bool:
        if kind == "event":
            return self.events is None or name in self.events
        return self.instructions and (self.instruction_names is None or name in self.instruction_names)

    def stream(self, stream: Iterable[str], name: str, mode: str) -> int:
        """Decodes the lines of one stream; returns the number of bad lines.
        In "auto" mode a log line ends the stream: log lines make no tables."""
        bad = 0
        for number, raw in enumerate(stream, 1):
            self.stats.lines += 1
            if self.progress is not None and not number & 1023:
                self.progress.update(self.stats)
            line = raw.rstrip("\r\n")
            if not line.strip():
                continue
            if mode == "auto" and not line.lstrip().startswith("{"):
                bad += self.flush(name) + 1
                print(f"varkel: {name}:{number}: a log line: --format parquet writes the tables of transactions "
                      f"and blocks (JSON lines) only; the rest of {name} is skipped", file=sys.stderr)
                break
            self.lines.append(line)
            self.numbers.append(number)
            self.size += len(line)
            if len(self.lines) >= TABLE_BATCH or self.size >= TABLE_BATCH_BYTES:
                bad += self.flush(name)
        bad += self.flush(name)
        self.stats.bad_lines += bad
        return bad

    def flush(self, name: str) -> int:
        """Decodes and writes the batch; returns the number of bad lines."""
        if not self.lines:
            return 0
        tables, counts, errors = _decode_tables_counted(self.lines, self.decoders, "base58", self.instructions)
        numbers = self.numbers
        self.lines, self.numbers, self.size = [], [], 0
        self.stats.add(counts)
        for index, message in errors:
            print(f"varkel: {name}:{numbers[index]}: {message}", file=sys.stderr)
        kept = {key: table for key, table in tables.items() if self.keep(key[1], key[2])}
        try:
            self.stats.written += self.writer.write(kept)
        except (OSError, ValueError) as error:
            raise WriteError(f"cannot write the output: {error}") from None
        if self.progress is not None:
            self.progress.update(self.stats)
        return len(errors)


def _close_writer(writer: Any) -> None:
    try:
        writer.close()
    except (OSError, ValueError) as error:
        raise WriteError(f"cannot write the output: {error}") from None


def _decode_inputs(args: argparse.Namespace, decoding: Decoding | TableDecoding) -> int:
    status = 0
    for path in args.files or ["-"]:
        try:
            if path == "-":
                if isinstance(sys.stdin, io.TextIOWrapper):
                    sys.stdin.reconfigure(errors="surrogateescape")
                bad = decoding.stream(sys.stdin, "<stdin>", args.input)
            else:
                with open(path, encoding="utf-8", errors="surrogateescape") as handle:
                    bad = decoding.stream(handle, path, args.input)
        except BrokenPipeError:
            raise
        except OSError as error:  # open or read (writes raise WriteError)
            print(f"varkel: cannot read {path}: {error}", file=sys.stderr)
            status = FAILED
            continue
        if bad:
            status = FAILED
    return status


def _silence_stdout() -> None:
    """Points standard output at the null device, so that the interpreter's
    last flush does not fail again on a closed pipe."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


def main(argv: Sequence[str] | None = None) -> int:
    """The command; returns its exit status. Ctrl-C returns INTERRUPTED (after
    writing out what was decoded) and a closed output pipe BROKEN_PIPE, both
    without a word on standard error."""
    progress: Progress | None = None
    writer: Any = None
    stats = Stats()
    arguments = list(sys.argv[1:] if argv is None else argv)
    if arguments[:1] == ["accounts"]:
        return accounts_main(arguments[1:])
    if sys.stdout is None:  # started with standard output closed (`>&-`)
        print("varkel: standard output is closed", file=sys.stderr)
        return FAILED
    try:
        args = _parse_args(arguments)
        instructions = args.instructions or args.instruction is not None
        try:
            _check_format(args)
            if args.format == "parquet" and args.input == "logs":
                raise UsageError("--format parquet writes the tables of transactions and blocks: log lines "
                                 "(--input logs) make none; use --format jsonl")
            decoders = _load_decoders(args.idl)
            _check_names("--event", args.event, [n for d in decoders for n in d.event_names], "an event")
            _check_names("--instruction", args.instruction, [n for d in decoders for n in d.instruction_names],
                         "an instruction")
            if args.format == "parquet":
                writer = _dataset_writer(args.output, decoders)
        except UsageError as error:
            print(f"varkel: {error}", file=sys.stderr)
            return USAGE
        decoding: Decoding | TableDecoding
        if writer is not None:
            progress = Progress.open(not args.no_progress, sys.stderr, None)
            decoding = TableDecoding(decoders, writer, stats, progress, instructions, args.event, args.instruction)
        else:
            output = Output(sys.stdout, args.event, args.instruction, kinds=instructions)
            progress = Progress.open(not args.no_progress, sys.stderr, sys.stdout)
            decoding = Decoding(decoders, output, stats, progress, instructions)
        try:
            status = _decode_inputs(args, decoding)
            if writer is not None:
                writer, closing = None, writer
                _close_writer(closing)
            else:
                output.flush()
        except WriteError as error:
            print(f"varkel: {error}", file=sys.stderr)
            status = FAILED
            if writer is not None:
                writer, closing = None, writer
                try:
                    closing.close()  # the files written so far take their names
                except (OSError, ValueError):
                    pass
        if progress is not None:
            progress.close(stats)
            progress = None
        if args.stats or stats.nothing_came_out():
            print(stats.summary(filtered=args.event is not None or args.instruction is not None), file=sys.stderr)
        if args.strict and status == 0 and stats.events == 0 and stats.instructions == 0:
            status = FAILED
        return status
    except KeyboardInterrupt:
        try:
            if progress is not None:
                progress.close(stats)
            if writer is not None:
                writer.close()  # the files of what was decoded so far
            sys.stdout.flush()  # what was decoded so far
        except (OSError, ValueError, KeyboardInterrupt):
            pass
        return INTERRUPTED
    except BrokenPipeError:
        _silence_stdout()
        return BROKEN_PIPE


# --------------------------------------------------------------------------
# python -m varkel accounts


def _parse_account_args(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python -m varkel accounts",
        description="Decode a program's accounts (getAccountInfo, getMultipleAccounts and getProgramAccounts "
                    "results, or account dumps; one JSON document per line, or a file that is one document) "
                    "into JSON lines or a Parquet dataset.",
    )
    parser.add_argument("--idl", required=True, metavar="IDL.json[=PROGRAM_ID]",
                        help="the program's IDL (current or legacy format). =PROGRAM_ID: the program is deployed "
                             "at that address instead of the IDL's")
    _add_format_arguments(parser, "one table per account type")
    parser.add_argument("--stats", action="store_true",
                        help="at the end, write a summary line to standard error (documents, accounts, decoded)")
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="input files (default: standard input)")
    return parser.parse_args(argv)


# Accounts that do not decode are listed on standard error (--format parquet)
# up to this many; the others are counted.
LISTED_ACCOUNTS = 100


@dataclass
class AccountStats:
    lines: int = 0
    documents: int = 0
    accounts: int = 0
    decoded: int = 0
    bad_documents: int = 0
    first_error: str | None = None

    def summary(self) -> str:
        text = (f"varkel: {self.lines} lines, {self.documents} documents, {self.accounts} accounts, "
                f"{self.decoded} decoded, {self.accounts - self.decoded} did not decode")
        if self.bad_documents:
            text += f", {self.bad_documents} documents not read (reported above)"
        if self.accounts and not self.decoded:
            text += f": the first says: {self.first_error}"
        return text


def _account_error(error: Exception) -> str:
    """The message of an error about the whole input, without the argument's name."""
    return str(error).removeprefix("argument 'items': ")


class AccountDecoding:
    """Decodes documents of accounts into JSON lines or a dataset writer."""

    def __init__(self, decoder: EventDecoder, output: Output | None, writer: Any, stats: AccountStats) -> None:
        self.decoder = decoder
        self.output = output
        self.writer = writer
        self.stats = stats

    def document(self, text: str, name: str, number: int) -> bool:
        """Decodes and writes one document (`number`: its first line); False,
        reported, when it is not one."""
        try:
            accounts, tables = self.decode(text)
        except AccountError as error:
            self.refuse(error, name, number)
            return False
        self.write(accounts, tables, name, number)
        return True

    def decode(self, text: str) -> tuple[list[Account], dict[str, EventTable] | None]:
        accounts = self.decoder.decode_accounts(text)
        # decode_accounts_arrow leaves out what does not decode, without a word: the
        # accounts above tell which did not, and why.
        return accounts, self.decoder.decode_accounts_arrow(text) if self.writer is not None else None

    def refuse(self, error: AccountError, name: str, number: int) -> None:
        message = str(error).removeprefix("argument 'items': ")  # the input as a whole
        print(f"varkel: {name}:{number}: {message}", file=sys.stderr)
        self.stats.bad_documents += 1

    def write(self, accounts: list[Account], tables: dict[str, EventTable] | None, name: str, number: int) -> None:
        self.stats.documents += 1
        for index, account in enumerate(accounts):
            self.stats.accounts += 1
            if account.error is None:
                self.stats.decoded += 1
            elif self.stats.first_error is None:
                self.stats.first_error = account.error
            if self.output is not None:
                self.output._line({"pubkey": account.pubkey, "name": account.name, "owner": account.owner,
                                   "lamports": account.lamports, "slot": account.slot, "unread": account.unread,
                                   "error": account.error, "value": account.value})
            elif account.error is not None:
                listed = self.stats.accounts - self.stats.decoded
                if listed <= LISTED_ACCOUNTS:
                    place = account.pubkey or f"account {index}"
                    more = " (further accounts that do not decode are counted, not listed)" \
                        if listed == LISTED_ACCOUNTS else ""
                    print(f"varkel: {name}:{number}: {place}: {account.error}{more}", file=sys.stderr)
        if tables is not None:
            try:
                self.writer.write(tables)
            except (OSError, ValueError) as error:
                raise WriteError(f"cannot write the output: {error}") from None

    def stream(self, stream: Iterable[str], name: str) -> int:
        """Decodes the documents of one stream, one a line; a stream whose first
        line is the start of a longer document (a pretty-printed dump) is read
        as one document. Returns the number of documents not read."""
        bad = 0
        lines = iter(stream)
        first = True
        for number, raw in enumerate(lines, 1):
            self.stats.lines += 1
            line = raw.rstrip("\r\n")
            if not line.strip():
                continue
            if first:
                first = False
                try:
                    accounts, tables = self.decode(line)
                except AccountError as error:
                    if _continues(line):
                        rest = list(lines)
                        self.stats.lines += len(rest)
                        return 0 if self.document(raw + "".join(rest), name, number) else 1
                    self.refuse(error, name, number)
                    bad += 1
                    continue
                self.write(accounts, tables, name, number)
                continue
            if not self.document(line, name, number):
                bad += 1
        return bad


def _continues(line: str) -> bool:
    """Whether the line is the start of a JSON document that goes on past it
    (the first line of a pretty-printed one), not a whole or broken one."""
    text = line.strip()
    try:
        json.loads(text)
    except json.JSONDecodeError as error:
        return error.pos >= len(text)  # ran out of text
    return False


def accounts_main(argv: Sequence[str]) -> int:
    """python -m varkel accounts; returns the exit status."""
    writer: Any = None
    stats = AccountStats()
    if sys.stdout is None:
        print("varkel: standard output is closed", file=sys.stderr)
        return FAILED
    try:
        args = _parse_account_args(argv)
        try:
            _check_format(args)
            (decoder,) = _load_decoders([args.idl])
            if args.format == "parquet":
                writer = _dataset_writer(args.output, [decoder])
        except UsageError as error:
            print(f"varkel: {error}", file=sys.stderr)
            return USAGE
        output = None if writer is not None else Output(sys.stdout, None, None, kinds=False)
        decoding = AccountDecoding(decoder, output, writer, stats)
        status = 0
        try:
            for path in args.files or ["-"]:
                try:
                    if path == "-":
                        bad = decoding.stream(sys.stdin, "<stdin>")
                    else:
                        with open(path, encoding="utf-8") as handle:
                            bad = decoding.stream(handle, path)
                except (OSError, UnicodeDecodeError) as error:
                    if isinstance(error, BrokenPipeError):
                        raise
                    print(f"varkel: cannot read {path}: {error}", file=sys.stderr)
                    status = FAILED
                    continue
                if bad:
                    status = FAILED
            if writer is not None:
                writer, closing = None, writer
                _close_writer(closing)
            if output is not None:
                output.flush()
        except WriteError as error:
            print(f"varkel: {error}", file=sys.stderr)
            status = FAILED
        if args.stats or (stats.accounts and not stats.decoded):
            print(stats.summary(), file=sys.stderr)
        return status
    except KeyboardInterrupt:
        try:
            if writer is not None:
                writer.close()
            sys.stdout.flush()
        except (OSError, ValueError, KeyboardInterrupt):
            pass
        return INTERRUPTED
    except BrokenPipeError:
        _silence_stdout()
        return BROKEN_PIPE


def _command() -> int:
    """`python -m varkel`: main() with the signal conventions of Unix tools.
    Writing to a closed pipe kills the process with SIGPIPE (the interpreter
    ignores SIGPIPE and raises BrokenPipeError instead; main() handles that
    where signals do not exist); after Ctrl-C it exits with status 130
    (128 + SIGINT), without a traceback."""
    if hasattr(signal, "SIGPIPE"):
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    return main()


if __name__ == "__main__":
    sys.exit(_command())
