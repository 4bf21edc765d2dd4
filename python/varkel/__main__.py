"""Command line: decode the events of transactions and log files with programs' IDLs.

    python -m varkel --idl IDL.json [--idl IDL.json ...] [--input auto|logs|tx]
                     [--event NAME ...] [FILE ...]

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
their instructions cannot be numbered across a stream of transactions.
Bytes are written as hex strings; integers exactly, whatever their width.
`--event NAME` (repeatable) keeps only the events of those names.

Exit status: 0; 1 when a file could not be read or a transaction line was
not a transaction (reported on standard error, the other lines still
decoded); 2 when an IDL cannot be used.
"""

import argparse
import base64
import json
import sys

import varkel
from varkel import EventDecoder

# Log lines go to the decoder in batches of about this many lines, cut only
# before an "invoke [1]" line so that no frame is split between two batches;
# a stream without such lines is cut at MAX_BATCH lines whatever it holds.
BATCH = 4096
MAX_BATCH = 16 * BATCH

B58_ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def _b58encode(raw: bytes) -> str:
    n, out = int.from_bytes(raw, "big"), ""
    while n:
        n, r = divmod(n, 58)
        out = B58_ALPHABET[r] + out
    return "1" * (len(raw) - len(raw.lstrip(b"\0"))) + out


def _jsonable(value):
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, dict):
        return {key: _jsonable(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_jsonable(item) for item in value]
    return value


def _parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="python -m varkel",
        description="Decode Anchor program events from Solana transactions and transaction log lines.",
    )
    parser.add_argument("--idl", required=True, action="append", metavar="IDL.json",
                        help="a program's IDL (current or legacy format); repeat for several programs")
    parser.add_argument("--input", choices=("auto", "logs", "tx"), default="auto",
                        help="what the lines are: auto (JSON objects are transactions, other lines log lines; "
                             "the default), logs, or tx")
    parser.add_argument("--event", action="append", metavar="NAME",
                        help="write only events of this name (repeatable)")
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="input files, one log line or one JSON transaction per line (default: standard input)")
    return parser.parse_args(argv)


class UsageError(Exception):
    """An IDL that cannot be used: reported, exit status 2."""


def _load_decoders(paths):
    decoders, owners = [], {}
    for path in paths:
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except (OSError, UnicodeDecodeError) as error:
            raise UsageError(f"cannot read IDL {path}: {error}") from None
        try:
            decoder = EventDecoder(text)
            decoder.decode_logs([])  # the IDL names its program
        except ValueError as error:
            raise UsageError(f"{path}: {str(error).removeprefix('decoder: ')}") from None
        if decoder.program_id in owners:
            raise UsageError(f"{path}: program {decoder.program_id} already has an IDL ({owners[decoder.program_id]})")
        owners[decoder.program_id] = path
        decoders.append(decoder)
    return decoders


class Output:
    """Writes the records of the kept events."""

    def __init__(self, stream, names):
        self.stream = stream
        self.names = set(names) if names else None

    def write(self, events, signature=None, slot=None, numbered=True):
        for event in events:
            if self.names is not None and event.name not in self.names:
                continue
            record = {
                "signature": signature,
                "slot": slot,
                "program": event.program_id,
                "instruction": event.instruction if numbered else None,
                "inner": event.inner if numbered else None,
                "source": event.source,
                "event": event.name,
                "data": _jsonable(event.data),
            }
            self.stream.write(json.dumps(record) + "\n")


def _b58decode(text: str) -> bytes:
    n = 0
    for ch in text:
        n = n * 58 + B58_ALPHABET.index(ch)
    body = n.to_bytes((n.bit_length() + 7) // 8, "big") if n else b""
    return b"\0" * (len(text) - len(text.lstrip("1"))) + body


def _signature(result):
    """The transaction's first signature (its id), or None."""
    transaction = result.get("transaction")
    if isinstance(transaction, dict):
        signatures = transaction.get("signatures")
        return signatures[0] if isinstance(signatures, list) and signatures else None
    if isinstance(transaction, str):  # the old "binary" encoding: base58
        transaction = [transaction, "base58"]
    if not (isinstance(transaction, list) and len(transaction) == 2 and isinstance(transaction[0], str)):
        return None
    try:
        if transaction[1] == "base64":
            raw = base64.b64decode(transaction[0], validate=True)
        elif transaction[1] == "base58":
            raw = _b58decode(transaction[0])
        else:
            return None
    except ValueError:
        return None
    # The signature count (a compact-u16: one byte up to 127), then 64 bytes each.
    return _b58encode(raw[1:65]) if len(raw) >= 65 and 0 < raw[0] < 0x80 else None


def _slot(result):
    slot = result.get("slot")
    if isinstance(slot, str) and slot.isdigit():
        return int(slot)
    return slot if isinstance(slot, int) else None


def _decode_transaction(text, decoders, output):
    """Decodes one JSON transaction line; raises ValueError with the reason."""
    try:
        doc = json.loads(text)
    except ValueError as error:
        raise ValueError(f"not JSON: {error}") from None
    if not isinstance(doc, dict):
        raise ValueError("not a JSON object")
    events = varkel.decode_transaction(doc, decoders)
    result = doc.get("result") if isinstance(doc.get("result"), dict) else doc
    output.write(events, _signature(result), _slot(result))


class LogBatcher:
    """Collects log lines and decodes them in batches that start at top-level
    invoke lines."""

    def __init__(self, decoders, output):
        self.decoders, self.output, self.lines = decoders, output, []

    def add(self, line):
        top_level = line.startswith("Program ") and line.endswith(" invoke [1]")
        if (top_level and len(self.lines) >= BATCH) or len(self.lines) >= MAX_BATCH:
            self.flush()
        self.lines.append(line)

    def flush(self):
        if self.lines:
            self.output.write(varkel.decode_logs(self.lines, self.decoders), numbered=False)
            self.lines = []


def _decode_stream(stream, name, mode, decoders, output):
    """Decodes the lines of one stream; returns the number of bad lines."""
    batcher = LogBatcher(decoders, output)
    bad = 0
    for number, raw in enumerate(stream, 1):
        line = raw.rstrip("\r\n")
        if mode == "tx" or (mode == "auto" and line.lstrip().startswith("{")):
            if not line.strip():
                continue
            batcher.flush()  # keep the output in input order
            try:
                _decode_transaction(line, decoders, output)
            except (ValueError, TypeError) as error:
                print(f"varkel: {name}:{number}: {error}", file=sys.stderr)
                bad += 1
            continue
        try:
            line.encode("utf-8")
        except UnicodeEncodeError:
            continue  # a line that is not UTF-8 cannot carry an event
        batcher.add(line)
    batcher.flush()
    return bad


def main(argv=None) -> int:
    args = _parse_args(argv)
    try:
        decoders = _load_decoders(args.idl)
    except UsageError as error:
        print(f"varkel: {error}", file=sys.stderr)
        return 2
    output = Output(sys.stdout, args.event)
    status = 0
    for path in args.files or ["-"]:
        try:
            if path == "-":
                sys.stdin.reconfigure(errors="surrogateescape")
                bad = _decode_stream(sys.stdin, "<stdin>", args.input, decoders, output)
            else:
                with open(path, encoding="utf-8", errors="surrogateescape") as handle:
                    bad = _decode_stream(handle, path, args.input, decoders, output)
        except OSError as error:
            print(f"varkel: cannot read {path}: {error}", file=sys.stderr)
            status = 1
            continue
        if bad:
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
