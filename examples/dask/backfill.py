"""Decode a partitioned set of JSON Lines files into Anchor events with Dask.

Each file is one partition and each line one record, in one of two modes:

- Log mode (``decode_files``): the records that ``logsSubscribe``
  notifications carry, ``{"signature": str, "err": ..., "logs": [str, ...]}``,
  decoded with one IDL by ``parse_logs`` into ``(signature, event, data)``
  rows. Another kind of record plugs in as a function that turns one record
  into rows (``RecordDecoder``), passed to ``decode_files``; nothing else
  changes.
- Transaction mode (``decode_transaction_files``): one ``getTransaction``
  result per line (any encoding), or the RPC envelope around one, decoded
  with ``varkel.decode_transaction`` over one or more IDLs into ``(signature,
  slot, program, instruction, inner, source, event, data)`` rows, every event
  attributed to the program that emitted it.

Failed transactions give no rows in either mode: their effects were rolled
back. Every worker process builds each decoder once, on the first partition it
gets, and keeps it for the partitions that follow (``decoder_for``): the tasks
carry only the IDL texts. The same code runs on one machine (a ``LocalCluster``
of process workers, the default here) and on a cluster (``--scheduler
tcp://host:8786``; the workers need this module, e.g. ``client.upload_file``,
and read the files themselves, so give paths or URLs they can reach)::

    python examples/dask/backfill.py --idl examples/okx-dex/idl.json 'data/part-*.jsonl'
    python examples/dask/backfill.py --input tx --idl okx.json --idl pump.json 'txs/part-*.jsonl'

writes one JSON object per row, keyed by the row's field names; bytes as
``{"hex": "..."}``, integers exact, NaN and infinities as null (the command
line's conventions).

Parquet mode (``write_transaction_files``, ``--input tx --output DIR``): the
lines (transactions or blocks) become the Parquet dataset that ``python -m
varkel --format parquet --instructions`` writes, one table per event and
instruction, failed transactions included (their ``failed`` column says so).
Each partition writes its rows through its own ``varkel.parquet.DatasetWriter``
into the shared directory, under file names of its own
(``part-<partition>-<n>.parquet``); nothing but a summary goes back to the
client::

    python examples/dask/backfill.py --input tx --idl pump.json --output dataset/ 'txs/part-*.jsonl'
"""

from __future__ import annotations

import argparse
import json
import sys
import threading
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import Any, TypeVar

import varkel
from varkel import EventDecoder
from varkel._output import to_json, transaction_id  # the command line's JSON and transaction id
from varkel._varkel import _decode_tables_counted  # decode_tables that reports bad items and goes on

# One decoded event of log mode: (transaction signature, event name, value).
Row = tuple[str, str, Any]
# Turns one JSON record into rows, with the worker's decoder.
RecordDecoder = Callable[[EventDecoder, Any], list[Row]]
# One decoded event of transaction mode: (signature, slot, program,
# instruction, inner, source, event, value); see varkel.Event.
TxRow = tuple[str | None, int | None, str, int | None, int | None, str, str, Any]
LOG_FIELDS = ("signature", "event", "data")
TX_FIELDS = ("signature", "slot", "program", "instruction", "inner", "source", "event", "data")
_R = TypeVar("_R")


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


def decoders_for(idl_jsons: Sequence[str]) -> list[EventDecoder]:
    """This process's decoders for the IDLs, in order (each built once)."""
    return [decoder_for(idl_json) for idl_json in idl_jsons]


def _decode_partition(lines: Iterable[str | tuple[str, str]], decode: Callable[[Any], list[_R]]) -> list[_R]:
    """Rows of one partition: its lines, in order, each optionally paired
    with the path it came from (for error messages). Blank lines are skipped;
    a line that is not a valid record raises ValueError naming file and line."""
    rows: list[_R] = []
    for number, item in enumerate(lines, 1):
        line, path = item if isinstance(item, tuple) else (item, "<input>")
        if not line.strip():
            continue
        try:
            rows.extend(decode(json.loads(line)))
        except ValueError as error:  # json.JSONDecodeError is a ValueError
            raise ValueError(f"{path}: line {number}: {error}") from None
    return rows


def decode_lines(
    lines: Iterable[str | tuple[str, str]], idl_json: str, decode_record: RecordDecoder = decode_log_record
) -> list[Row]:
    """Rows of one partition in log mode (see _decode_partition)."""
    decoder = decoder_for(idl_json)
    return _decode_partition(lines, lambda record: decode_record(decoder, record))


def decode_files(
    paths: str | Sequence[str | Path], idl_json: str, decode_record: RecordDecoder = decode_log_record
) -> list[Row]:
    """Every row of the files (a glob or a list; local paths or fsspec URLs),
    file by file in order, computed by Dask: on the active distributed client
    if there is one, else on Dask's default scheduler."""
    rows: list[Row] = _bag_of(paths).map_partitions(decode_lines, idl_json, decode_record).compute()
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


# --------------------------------------------------------------------------
# Transaction mode.

def decode_transaction_record(decoders: Sequence[EventDecoder], record: Any) -> list[TxRow]:
    """Transaction mode: one getTransaction result, or the RPC envelope around
    one. A failed transaction gives no rows; a record that is no transaction
    (a null result, say) raises ValueError."""
    if not isinstance(record, dict):
        raise ValueError("expected a getTransaction result (a JSON object)")
    inner = record.get("result")
    result: dict[str, Any] = inner if isinstance(inner, dict) else record
    events = varkel.decode_transaction(record, decoders)
    if any(e.failed for e in events):
        return []
    signature, slot = transaction_id(result)
    return [(signature, slot, e.program_id, e.instruction, e.inner, e.source, e.name, e.data) for e in events]


def decode_transaction_lines(lines: Iterable[str | tuple[str, str]], idl_jsons: Sequence[str]) -> list[TxRow]:
    """Rows of one partition in transaction mode (see _decode_partition)."""
    decoders = decoders_for(idl_jsons)
    return _decode_partition(lines, lambda record: decode_transaction_record(decoders, record))


def decode_transaction_files(paths: str | Sequence[str | Path], idl_jsons: Sequence[str]) -> list[TxRow]:
    """Every row of the files in transaction mode, computed by Dask as
    decode_files does."""
    rows: list[TxRow] = _bag_of(paths).map_partitions(decode_transaction_lines, list(idl_jsons)).compute()
    return rows


def decode_transaction_files_locally(paths: Sequence[str | Path], idl_jsons: Sequence[str]) -> list[TxRow]:
    """The same rows in this process, without Dask: the reference run."""
    rows: list[TxRow] = []
    for path in paths:
        with open(path, encoding="utf-8") as lines:
            rows.extend(decode_transaction_lines(((line, str(path)) for line in lines), idl_jsons))
    return rows


# --------------------------------------------------------------------------
# Parquet mode.

# Lines go to the decoder in batches of this many (as on the command line).
TABLE_BATCH = 1000
# What a partition reports: the files it wrote, its rows, and the lines it
# could not read as (path, line number, message).
Written = tuple[list[str], int, list[tuple[str, int, str]]]


def write_transaction_partition(lines: Iterable[str | tuple[str, str]], idl_jsons: Sequence[str],
                                directory: str, prefix: str, instructions: bool = True) -> Written:
    """Writes the tables of one partition's transactions and blocks into the
    dataset directory, in files named ``<prefix>-<n>.parquet``. A line that
    is not a transaction is reported, and the others written."""
    from varkel.parquet import DatasetWriter

    decoders = decoders_for(idl_jsons)
    rows = 0
    errors: list[tuple[str, int, str]] = []
    batch: list[str] = []
    places: list[tuple[str, int]] = []
    with DatasetWriter(directory, decoders, prefix=prefix) as writer:
        def flush() -> None:
            nonlocal rows
            tables, _, bad = _decode_tables_counted(batch, decoders, "base58", instructions)
            errors.extend((*places[index], message) for index, message in bad)
            rows += writer.write(tables)
            batch.clear()
            places.clear()

        for number, item in enumerate(lines, 1):
            line, path = item if isinstance(item, tuple) else (item, "<input>")
            if not line.strip():
                continue
            batch.append(line)
            places.append((path, number))
            if len(batch) >= TABLE_BATCH:
                flush()
        if batch:
            flush()
    return [str(path) for path in writer.files], rows, errors


def _merge(results: Iterable[Written]) -> Written:
    files: list[str] = []
    rows = 0
    errors: list[tuple[str, int, str]] = []
    for part_files, part_rows, part_errors in results:
        files += part_files
        rows += part_rows
        errors += part_errors
    return files, rows, errors


def write_transaction_files(paths: str | Sequence[str | Path], idl_jsons: Sequence[str], directory: str | Path,
                            instructions: bool = True) -> Written:
    """The dataset of the files (one partition each), written by Dask's
    workers: partition i writes the files ``part-<i>-<n>.parquet``."""
    from dask.base import compute
    from dask.delayed import delayed

    parts = _bag_of(paths).to_delayed()
    tasks = [delayed(write_transaction_partition)(part, list(idl_jsons), str(directory), f"part-{i:05d}",
                                                       instructions)
             for i, part in enumerate(parts)]
    return _merge(compute(*tasks))


def write_transaction_files_locally(paths: Sequence[str | Path], idl_jsons: Sequence[str], directory: str | Path,
                                    instructions: bool = True) -> Written:
    """The same dataset written in this process, without Dask: the reference run."""
    results = []
    for i, path in enumerate(paths):
        with open(path, encoding="utf-8") as lines:
            results.append(write_transaction_partition(((line, str(path)) for line in lines), idl_jsons,
                                                       str(directory), f"part-{i:05d}", instructions))
    return _merge(results)


def _bag_of(paths: str | Sequence[str | Path]) -> Any:
    """A Dask bag of (line, path) pairs: one partition per file."""
    import dask.bag as db

    sources = paths if isinstance(paths, str) else [str(p) for p in paths]
    return db.read_text(sources, blocksize=None, files_per_partition=1, include_path=True)


# --------------------------------------------------------------------------
# Command line.


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--idl", required=True, type=Path, action="append",
                        help="a program's IDL (JSON); repeat for several programs in transaction mode")
    parser.add_argument("--input", choices=("logs", "tx"), default="logs",
                        help="logs: logsSubscribe records (one IDL; the default); tx: getTransaction results")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default 2)")
    parser.add_argument("--output", type=Path, metavar="DIR",
                        help="transaction mode: write the Parquet dataset of the events and instructions into DIR "
                             "(new or empty) instead of JSON lines")
    parser.add_argument("files", nargs="+", help="JSON Lines files or globs, one partition each")
    args = parser.parse_args(argv)
    if args.input == "logs" and len(args.idl) != 1:
        parser.error("log mode decodes with one IDL (--input tx takes several)")
    if args.output is not None:
        if args.input != "tx":
            parser.error("--output writes the tables of transactions (--input tx)")
        if args.output.exists() and any(args.output.iterdir()):
            parser.error(f"--output {args.output}: not empty")

    from dask.distributed import Client, LocalCluster

    idl_jsons = [path.read_text(encoding="utf-8") for path in args.idl]
    sources: str | list[str] = args.files[0] if len(args.files) == 1 else list(args.files)

    def compute() -> tuple[tuple[str, ...], Sequence[tuple[Any, ...]]]:
        if args.output is not None:
            files, count, errors = write_transaction_files(sources, idl_jsons, args.output)
            return ("files", "rows", "errors"), [(files, count, errors)]
        if args.input == "tx":
            return TX_FIELDS, decode_transaction_files(sources, idl_jsons)
        return LOG_FIELDS, decode_files(sources, idl_jsons[0])

    if args.scheduler:
        with Client(args.scheduler) as client:
            client.upload_file(__file__)
            fields, rows = compute()
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True) as cluster:
            with Client(cluster):
                fields, rows = compute()
    if args.output is not None:
        ((files, count, errors),) = rows
        for path, number, message in errors:
            print(f"{path}:{number}: {message}", file=sys.stderr)
        print(f"{count} rows in {len(files)} files under {args.output}", file=sys.stderr)
        return 1 if errors else 0
    for row in rows:
        sys.stdout.write(to_json(dict(zip(fields, row, strict=True))))
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    # Run the functions under the module's own name, so that workers import
    # this file (and keep one decoder cache each) instead of receiving copies
    # of __main__'s functions with every task.
    import backfill

    sys.exit(backfill.main())
