"""Command line: decode the events in log files with a program's IDL.

    python -m varkel --idl IDL.json [FILE ...]

Reads transaction log lines (one per line) from the files, or from standard
input when none is given, and writes one JSON object per decoded event to
standard output: {"event": name, "data": value}. Bytes are written as hex
strings; integers exactly, whatever their width.
"""

import argparse
import json
import sys
from itertools import islice

from varkel import EventDecoder

BATCH = 4096


def _jsonable(value):
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, dict):
        return {key: _jsonable(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_jsonable(item) for item in value]
    return value


def _decode_stream(decoder, stream, out):
    lines = (line.rstrip("\r\n") for line in stream)
    count = 0
    while batch := list(islice(lines, BATCH)):
        for name, value in decoder.parse_logs(batch):
            out.write(json.dumps({"event": name, "data": _jsonable(value)}) + "\n")
            count += 1
    return count


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m varkel",
        description="Decode Anchor program events from Solana transaction log lines.",
    )
    parser.add_argument("--idl", required=True, metavar="IDL.json", help="the program's IDL (current or legacy format)")
    parser.add_argument("files", nargs="*", metavar="FILE", help="log files, one line per log line (default: standard input)")
    args = parser.parse_args(argv)

    try:
        with open(args.idl, encoding="utf-8") as handle:
            idl_text = handle.read()
    except (OSError, UnicodeDecodeError) as error:
        print(f"varkel: cannot read IDL {args.idl}: {error}", file=sys.stderr)
        return 2
    try:
        decoder = EventDecoder(idl_text)
    except ValueError as error:
        print(f"varkel: {args.idl}: {error}", file=sys.stderr)
        return 2

    status = 0
    for path in args.files or ["-"]:
        try:
            if path == "-":
                sys.stdin.reconfigure(errors="surrogateescape")
                _decode_stream(decoder, _utf8_lines(sys.stdin), sys.stdout)
            else:
                with open(path, encoding="utf-8", errors="surrogateescape") as handle:
                    _decode_stream(decoder, _utf8_lines(handle), sys.stdout)
        except OSError as error:
            print(f"varkel: cannot read {path}: {error}", file=sys.stderr)
            status = 1
    return status


def _utf8_lines(handle):
    # A line that is not UTF-8 cannot carry an event: keep it out of the batch
    # (it could not be handed over as text anyway).
    for line in handle:
        try:
            line.encode("utf-8")
        except UnicodeEncodeError:
            continue
        yield line


if __name__ == "__main__":
    sys.exit(main())
