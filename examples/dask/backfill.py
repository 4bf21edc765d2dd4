"""Decode a partitioned set of JSON Lines files into Anchor events with Dask.

Each file is one partition and each line one record. Log mode reads the
records that ``logsSubscribe`` notifications carry, ``{"signature": str,
"err": ..., "logs": [str, ...]}``. Another kind of record plugs in as a
function that turns one record into rows (``RecordDecoder``), passed to
``decode_files``; nothing else changes.

Every worker process builds the decoder once, on the first partition it gets,
and keeps it for the partitions that follow (``decoder_for``): the tasks carry
only the IDL text. The same code runs on one machine (a ``LocalCluster`` of
process workers, the default here) and on a cluster (``--scheduler
tcp://host:8786``; the workers need this module, e.g. ``client.upload_file``,
and read the files themselves, so give paths or URLs they can reach)::

    python examples/dask/backfill.py --idl examples/okx-dex/idl.json 'data/part-*.jsonl'

writes one JSON object per event: ``{"signature", "event", "data"}``, bytes as
hex, integers exact.
"""

from __future__ import annotations

import argparse
import json
import sys
import threading
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import Any

from varkel import EventDecoder

# One decoded event: (transaction signature, event name, value).
Row = tuple[str, str, Any]
# Turns one JSON record into rows, with the worker's decoder.
RecordDecoder = Callable[[EventDecoder, Any], list[Row]]


def decode_log_record(decoder: EventDecoder, record: Any) -> list[Row]:
    """Log mode: one ``{"signature", "err", "logs"}`` record. A failed
    transaction (``err`` set) gives no rows: its effects were rolled back."""
    if not isinstance(record, dict) or not isinstance(record.get("signature"), str):
        raise ValueError('expected an object with "signature", "err" and "logs"')
    logs = record.get("logs")
    if not isinstance(logs, list):
        raise ValueError('"logs" is not a list of log lines')
    if record.get("err") is not None:
        return []
    signature = record["signature"]
    return [(signature, name, value) for name, value in decoder.parse_logs(logs)]


_decoders: dict[str, EventDecoder] = {}
_decoders_lock = threading.Lock()
_builds = 0


def decoder_for(idl_json: str) -> EventDecoder:
    """This process's decoder for the IDL, built at the first call. Worker
    threads of one process share it (a decoder is immutable)."""
    global _builds
    with _decoders_lock:
        decoder = _decoders.get(idl_json)
        if decoder is None:
            decoder = _decoders[idl_json] = EventDecoder(idl_json)
            _builds += 1
        return decoder


def decoders_built() -> int:
    """How many decoders this process has built."""
    return _builds


def decode_lines(
    lines: Iterable[str | tuple[str, str]], idl_json: str, decode_record: RecordDecoder = decode_log_record
) -> list[Row]:
    """Rows of one partition: its lines, in order, each optionally paired
    with the path it came from (for error messages). Blank lines are skipped;
    a line that is not a valid record raises ValueError naming file and line."""
    decoder = decoder_for(idl_json)
    rows: list[Row] = []
    for number, item in enumerate(lines, 1):
        line, path = item if isinstance(item, tuple) else (item, "<input>")
        if not line.strip():
            continue
        try:
            rows.extend(decode_record(decoder, json.loads(line)))
        except ValueError as error:  # json.JSONDecodeError is a ValueError
            raise ValueError(f"{path}: line {number}: {error}") from None
    return rows


def decode_files(
    paths: str | Sequence[str | Path], idl_json: str, decode_record: RecordDecoder = decode_log_record
) -> list[Row]:
    """Every row of the files (a glob or a list; local paths or fsspec URLs),
    file by file in order, computed by Dask: on the active distributed client
    if there is one, else on Dask's default scheduler."""
    import dask.bag as db

    sources = paths if isinstance(paths, str) else [str(p) for p in paths]
    bag = db.read_text(sources, blocksize=None, files_per_partition=1, include_path=True)
    rows: list[Row] = bag.map_partitions(decode_lines, idl_json, decode_record).compute()
    return rows


def decode_files_locally(
    paths: Sequence[str | Path], idl_json: str, decode_record: RecordDecoder = decode_log_record
) -> list[Row]:
    """The same rows in this process, without Dask: the reference run."""
    rows: list[Row] = []
    for path in paths:
        with open(path, encoding="utf-8") as lines:
            rows.extend(decode_lines(((line, str(path)) for line in lines), idl_json, decode_record))
    return rows


def _json_default(value: object) -> object:
    if isinstance(value, bytes):
        return value.hex()
    raise TypeError(f"{type(value).__name__} is not JSON serializable")


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--idl", required=True, type=Path, help="the program's IDL (JSON)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default 2)")
    parser.add_argument("files", nargs="+", help="JSON Lines files or globs, one partition each")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    idl_json = args.idl.read_text(encoding="utf-8")
    sources: str | list[str] = args.files[0] if len(args.files) == 1 else list(args.files)
    if args.scheduler:
        with Client(args.scheduler) as client:
            client.upload_file(__file__)
            rows = decode_files(sources, idl_json)
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True) as cluster:
            with Client(cluster):
                rows = decode_files(sources, idl_json)
    for signature, name, value in rows:
        sys.stdout.write(json.dumps({"signature": signature, "event": name, "data": value}, default=_json_default))
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    # Run the functions under the module's own name, so that workers import
    # this file (and keep one decoder cache each) instead of receiving copies
    # of __main__'s functions with every task.
    import backfill

    sys.exit(backfill.main())
