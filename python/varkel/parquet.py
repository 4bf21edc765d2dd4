"""Decoded tables written as a Parquet dataset, one directory per table.

``DatasetWriter`` takes the dicts that ``varkel.decode_tables`` and
``EventDecoder.decode_accounts_arrow`` return, call after call, and writes
each table's rows as they come into files of at most ``max_rows_per_file``
rows::

    DIR/<program id>/<kind>/<name>/part-00000.parquet, part-00001.parquet, ...

``kind`` is ``event``, ``instruction`` or ``account``; ``name`` is the IDL's
name of the event, instruction or account type. Every file of one table has
the schema of the table's first rows (varkel's table schemas depend on the IDL
alone), is compressed with zstd, and carries key-value metadata: the IDL's
name and version, varkel's version, the program id, the kind and the name.
A file is written under a hidden name (``.part-00000.parquet.tmp``) and takes
its name when it is complete, so readers of the directory see only whole
files. A table's rows wait for a row group of a useful size (``row_group_size``
rows, or 8 MiB); the rows waiting in all tables take 64 MiB at most, whatever
the input's size. Needs pyarrow (``pip install 'varkel[parquet]'``). See docs/parquet.md.
"""

from __future__ import annotations

import json
import os
import re
from collections.abc import Iterable, Mapping
from pathlib import Path
from types import TracebackType
from typing import Any

try:
    import pyarrow as pa
    import pyarrow.compute as pc
    import pyarrow.parquet as pq
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(f"varkel.parquet needs pyarrow: pip install 'varkel[parquet]' ({error})") from error

import varkel
from varkel import EventDecoder, EventTable

__all__ = ["DatasetWriter", "table_directory", "METADATA_KEYS"]

# Keys of the file metadata that varkel writes (Parquet key-value metadata;
# pyarrow shows them as the schema's metadata).
METADATA_KEYS = ("varkel.version", "varkel.program_id", "varkel.kind", "varkel.name", "varkel.idl.name",
                 "varkel.idl.version")

# A path component that any file system takes: IDL names are identifiers, but
# nothing stops an IDL from naming an event "../x". Other characters, and a
# leading "." or "_" (which dataset readers take for hidden files), are
# written as %XX.
_PLAIN = re.compile(r"[A-Za-z0-9_.-]")


def _component(text: str) -> str:
    escaped = "".join(ch if _PLAIN.fullmatch(ch) else "".join(f"%{b:02X}" for b in ch.encode()) for ch in text)
    if not escaped or escaped[0] in "._":
        escaped = f"%{ord(escaped[0]):02X}{escaped[1:]}" if escaped else "%00"
    return escaped


def table_directory(directory: str | os.PathLike[str], program_id: str, kind: str, name: str) -> Path:
    """Where a table's files go: DIRECTORY/<program id>/<kind>/<name>, each part
    escaped as a safe file name."""
    return Path(directory) / _component(program_id) / _component(kind) / _component(name)


def _idl_identity(decoder: EventDecoder) -> tuple[str | None, str | None]:
    """The IDL's own name and version: "metadata" of the current format, the
    top level of the legacy one. The decoder pickles as its IDL text."""
    try:
        doc = json.loads(decoder.__reduce__()[1][0])
    except ValueError:
        return None, None
    if not isinstance(doc, dict):
        return None, None
    metadata = doc.get("metadata")
    found: list[str | None] = []
    for key in ("name", "version"):
        value = metadata.get(key) if isinstance(metadata, dict) else None
        if value is None:
            value = doc.get(key)
        found.append(value if isinstance(value, str) else None)
    return found[0], found[1]


# --------------------------------------------------------------------------
# Two shapes of varkel's tables that Parquet does not store as they are:
# - A struct without fields (an instruction without accounts, an argument
#   struct without fields): Parquet has no such group. It is written with one
#   field "_" of the null type, null or not as the struct was.
# - A fixed-size list (IDL [T; N]) holding a null (inside an option):
#   pyarrow before 26 writes files that it cannot read back. Fixed-size lists
#   are written as lists (Parquet stores both as a LIST; only the Arrow type
#   read back differs), null slots empty.

_FILLER = pa.field("_", pa.null())

# The rows of one table wait for their row group up to this many bytes (of
# Arrow memory), and the rows of all tables up to _WAITING_BYTES: past it the
# table with the most waiting is written out.
_GROUP_BYTES = 8 << 20
_WAITING_BYTES = 64 << 20
_CPU = pa.default_cpu_memory_manager()


def _storable(type_: pa.DataType) -> pa.DataType:
    if pa.types.is_struct(type_):
        if type_.num_fields == 0:
            return pa.struct([_FILLER])
        return pa.struct([type_.field(i).with_type(_storable(type_.field(i).type)) for i in range(type_.num_fields)])
    if pa.types.is_list(type_) or pa.types.is_fixed_size_list(type_):
        return pa.list_(type_.value_field.with_type(_storable(type_.value_type)))
    if pa.types.is_large_list(type_):
        return pa.large_list(type_.value_field.with_type(_storable(type_.value_type)))
    return type_


def _fill(array: pa.Array, type_: pa.DataType) -> pa.Array:
    """The array in the storable type `type_` (_storable of its own)."""
    if array.type == type_:
        return array
    mask = array.is_null() if array.null_count else None
    if pa.types.is_struct(array.type):
        if array.type.num_fields == 0:
            children = [pa.nulls(len(array))]
        else:  # flatten(): the children null where the struct is, so that no list below a null holds values
            children = [_fill(child, field.type) for child, field in zip(array.flatten(), type_, strict=True)]
        return pa.StructArray.from_arrays(children, fields=list(type_), mask=mask)
    # A list of any kind: its values without the null slots' (flatten() also
    # takes a slice's offset into account), offsets from 0.
    values = array.flatten()
    if pa.types.is_fixed_size_list(array.type):
        size = array.type.list_size
        lengths = pc.if_else(array.is_valid(), pa.scalar(size, pa.int32()), pa.scalar(0, pa.int32()))
    else:
        lengths = pc.fill_null(pc.list_value_length(array), 0)
    offsets = pa.concat_arrays([pa.array([0], lengths.type), pc.cumulative_sum_checked(lengths)])
    list_class = pa.LargeListArray if pa.types.is_large_list(type_) else pa.ListArray
    return list_class.from_arrays(offsets, _fill(values, type_.value_type), type=type_, mask=mask)


def _filled(table: pa.Table, schema: pa.Schema) -> pa.Table:
    columns = [pa.chunked_array([_fill(chunk, field.type) for chunk in table.column(i).chunks], type=field.type)
               for i, field in enumerate(schema)]
    return pa.Table.from_arrays(columns, schema=schema)


# --------------------------------------------------------------------------


class _TableFiles:
    """The files of one table: the rows waiting for their row group, the open
    file and its rows, and how many files were made."""

    def __init__(self, folder: Path, source: pa.Schema, metadata: dict[str, str], writer: DatasetWriter) -> None:
        self.folder = folder
        self.source = source  # the schema of the table's first rows, as varkel gave them
        stored = pa.schema([field.with_type(_storable(field.type)) for field in source])
        self.fill = not stored.equals(source)
        self.schema = stored.with_metadata({**(source.metadata or {}), **metadata})
        self.owner = writer
        self.pending: list[pa.Table] = []
        self.pending_rows = self.pending_bytes = 0
        self.file: pq.ParquetWriter | None = None
        self.temporary = self.path = folder
        self.rows_in_file = 0
        self.files = 0

    def add(self, table: pa.Table) -> None:
        """Takes the rows; writes a row group once enough have come."""
        if not table.schema.equals(self.source):
            try:  # the same columns in another form (the wide integers may change): the first rows' form
                table = table.cast(self.source)
            except (pa.ArrowInvalid, pa.ArrowNotImplementedError, ValueError) as error:
                raise ValueError(f"{self.folder}: the table's schema changed between batches: {error}") from None
        if self.fill:
            table = _filled(table, self.schema)
        # Rows that wait are copied into Arrow's memory pool, so that the
        # decoder's buffers are freed batch by batch, in the order they were
        # made (holding them on keeps the C heap fragmented and growing).
        table = pa.Table.from_batches([batch.copy_to(_CPU) for batch in table.to_batches()], schema=table.schema)
        self.pending.append(table)
        self.pending_rows += table.num_rows
        self.pending_bytes += table.nbytes
        if self.pending_rows >= self.owner.row_group_size or self.pending_bytes >= _GROUP_BYTES:
            self.flush(whole_groups=self.pending_bytes < _GROUP_BYTES)

    def flush(self, whole_groups: bool = False) -> None:
        """Writes the waiting rows: all of them, or only whole row groups (the
        rest waits)."""
        if not self.pending:
            return
        rows = pa.concat_tables(self.pending).combine_chunks()  # one chunk per column: one piece per column chunk
        size = self.owner.row_group_size
        count = rows.num_rows - rows.num_rows % size if whole_groups else rows.num_rows
        rest = rows.slice(count)
        self.pending = [rest] if rest.num_rows else []
        self.pending_rows, self.pending_bytes = rest.num_rows, rest.nbytes
        limit = self.owner.max_rows_per_file
        start = 0
        while start < count:
            if self.file is None:
                self._open()
            assert self.file is not None
            part = min(count - start, limit - self.rows_in_file)
            self.file.write_table(rows.slice(start, part), row_group_size=size)
            start += part
            self.rows_in_file += part
            if self.rows_in_file >= limit:
                self._finish()

    def _open(self) -> None:
        self.folder.mkdir(parents=True, exist_ok=True)
        name = f"{self.owner.prefix}-{self.files:05d}.parquet"
        self.path = self.folder / name
        if self.path.exists():
            raise FileExistsError(f"{self.path} exists (write into an empty directory, or give another prefix)")
        self.temporary = self.folder / f".{name}.tmp"
        self.file = pq.ParquetWriter(str(self.temporary), self.schema, compression=self.owner.compression)
        self.files += 1
        self.rows_in_file = 0

    def _finish(self) -> None:
        """Closes the open file, which takes its name."""
        if self.file is None:
            return
        file, self.file = self.file, None
        file.close()
        os.replace(self.temporary, self.path)
        self.owner.files.append(self.path)

    def close(self) -> None:
        try:
            self.flush()
        finally:
            self._finish()


class DatasetWriter:
    """Writes decoded tables into DIRECTORY/<program id>/<kind>/<name>/ as
    Parquet files of at most ``max_rows_per_file`` rows, named
    ``<prefix>-00000.parquet``, ``<prefix>-00001.parquet``, ... per table.

    ``decoders`` are the decoders that made the tables: each file's metadata
    names its program's IDL (name and version). ``metadata`` adds key-value
    pairs to every file. A table's rows wait until ``row_group_size`` of them
    (or 8 MiB) have come, and are written as one row group: many small
    batches still make row groups of a useful size. The rows waiting in all
    tables take 64 MiB at most (past it, the table with the most is written
    out), whatever the input's size. A table with no rows writes nothing. Writers that
    share a directory (the partitions of a Dask job) give each a distinct
    ``prefix``. Refuses to write over an existing file (FileExistsError).
    Not for several threads at once. Closing finishes the open files; use it
    as a context manager, or call ``close()``.
    """

    def __init__(self, directory: str | os.PathLike[str], decoders: Iterable[EventDecoder], *,
                 max_rows_per_file: int = 1_000_000, row_group_size: int = 65_536, compression: str = "zstd",
                 prefix: str = "part", metadata: Mapping[str, str] | None = None) -> None:
        for option, value in (("max_rows_per_file", max_rows_per_file), ("row_group_size", row_group_size)):
            if value < 1:
                raise ValueError(f"{option} must be at least 1, not {value}")
        if not prefix or "/" in prefix or os.sep in prefix or prefix[0] in "._":
            raise ValueError(f"prefix {prefix!r}: a file name's start, not empty, not starting with '.' or '_'")
        extra = dict(metadata or {})
        for key in extra:
            if key.startswith("varkel."):
                raise ValueError(f"metadata key {key!r}: the keys varkel.* are varkel's own")
        self.directory = Path(directory)
        self.max_rows_per_file = max_rows_per_file
        self.row_group_size = min(row_group_size, max_rows_per_file)
        self.compression = compression
        self.prefix = prefix
        self.extra = extra
        self.idls: dict[str, tuple[str | None, str | None]] = {d.program_id: _idl_identity(d) for d in decoders}
        self.tables: dict[tuple[str, str, str], _TableFiles] = {}
        self.files: list[Path] = []  # the files completed, in order
        self.rows = 0  # rows written

    def write(self, tables: Mapping[Any, Any]) -> int:
        """Writes the rows of every table of the dict (values EventTable, or
        any Arrow table with a (program id, kind, name) key); returns the
        number of rows written."""
        written = 0
        for key, value in tables.items():
            if isinstance(value, EventTable):
                program_id, kind, name = value.program_id, value.kind, value.name
            elif isinstance(key, tuple) and len(key) == 3:
                program_id, kind, name = key
            else:
                raise TypeError(f"table {key!r}: an EventTable, or an Arrow table keyed (program id, kind, name)")
            if getattr(value, "num_rows", 1) == 0:
                continue
            table = pa.table(value)
            if table.num_rows == 0:
                continue
            if program_id is None:
                raise ValueError(f"table {name!r} ({kind}): its program is not known")
            files = self.tables.get((program_id, kind, name))
            if files is None:
                files = self.tables[(program_id, kind, name)] = self._start(program_id, kind, name, table.schema)
            files.add(table)
            written += table.num_rows
            waiting = sum(f.pending_bytes for f in self.tables.values())
            while waiting > _WAITING_BYTES:
                most = max(self.tables.values(), key=lambda f: f.pending_bytes)
                waiting -= most.pending_bytes
                most.flush()
        self.rows += written
        return written

    def _start(self, program_id: str, kind: str, name: str, schema: pa.Schema) -> _TableFiles:
        if program_id not in self.idls:
            raise ValueError(f"table {name!r} ({kind}) of program {program_id}: no decoder of that program was "
                             "given to the writer")
        idl_name, idl_version = self.idls[program_id]
        metadata = {**self.extra, "varkel.version": varkel.__version__, "varkel.program_id": program_id,
                    "varkel.kind": kind, "varkel.name": name}
        if idl_name is not None:
            metadata["varkel.idl.name"] = idl_name
        if idl_version is not None:
            metadata["varkel.idl.version"] = idl_version
        return _TableFiles(table_directory(self.directory, program_id, kind, name), schema, metadata, self)

    def close(self) -> None:
        """Writes the waiting rows and finishes every open file (each takes its
        name); raises the first failure after trying them all."""
        failure: BaseException | None = None
        for files in self.tables.values():
            try:
                files.close()
            except BaseException as error:  # noqa: BLE001 - re-raised below, after the other files
                failure = failure or error
        if failure is not None:
            raise failure

    def __enter__(self) -> DatasetWriter:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()
