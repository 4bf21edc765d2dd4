# Type stub of the compiled extension module varkel._varkel. Checked against
# the built module by `python -m mypy.stubtest varkel._varkel` (the test
# command runs it): everything the module defines is declared here.
import sys
from collections.abc import Callable, Iterable, Sequence
from typing import Any, Final, Literal, TypeAlias, final

from typing_extensions import Buffer

# A getTransaction result (or one transaction of a block, or the RPC envelope
# around it): the dict that json.loads gives, or its JSON text.
_TransactionInput: TypeAlias = dict[str, Any] | str | bytes | bytearray | Buffer

@final
class Event(tuple[Any, ...]):
    """One event of a transaction, attributed to the program that emitted it.

    An immutable struct sequence (a tuple of its 11 fields): cheap to create,
    hashable when its data is, picklable.
    """

    n_fields: Final[int]
    n_sequence_fields: Final[int]
    n_unnamed_fields: Final[int]
    __match_args__: Final = (
        "name",
        "data",
        "program_id",
        "instruction",
        "inner",
        "depth",
        "source",
        "log_index",
        "truncated",
        "failed",
        "out_of_step",
    )

    def __new__(cls, sequence: Iterable[Any], dict: dict[str, Any] = ...) -> Event: ...
    if sys.version_info >= (3, 13):
        def __replace__(self, **kwargs: Any) -> Event: ...
    @property
    def name(self) -> str:
        """The event's name, as the IDL declares it."""
    @property
    def data(self) -> Any:
        """The event's fields as plain Python values (the same value parse_logs gives)."""
    @property
    def program_id(self) -> str:
        """Base58 address of the program that emitted the event."""
    @property
    def instruction(self) -> int | None:
        """Index of the top-level instruction; None when the logs do not tell."""
    @property
    def inner(self) -> int | None:
        """Index within that instruction's inner instructions: of the CPI instruction
        that carries the event ('cpi', 'log+cpi'), or of the frame that logged it
        ('log' inside a CPI); None for an event logged by a top-level instruction,
        or when not known."""
    @property
    def depth(self) -> int:
        """Stack depth of the frame that emitted the event (1 = top-level instruction)."""
    @property
    def source(self) -> Literal["log", "cpi", "log+cpi"]:
        """'log': a "Program data:" line; 'cpi': a self-CPI event instruction only;
        'log+cpi': both, with identical bytes, reported once."""
    @property
    def log_index(self) -> int | None:
        """Index of the event's log line; None for a CPI-only event."""
    @property
    def truncated(self) -> bool:
        """A "Log truncated" line came before the event (log lines may be missing)."""
    @property
    def failed(self) -> bool:
        """The transaction failed (meta.err is not null): its effects were rolled back."""
    @property
    def out_of_step(self) -> bool:
        """The transaction's log lines did not fit the invoke stack or its instructions
        somewhere (lines missing, or not written by the runtime)."""

__all__ = [
    "EventDecoder",
    "Event",
    "EventTable",
    "IdlError",
    "TransactionError",
    "ProgramIdError",
    "InternalError",
    "decode_logs",
    "decode_transaction",
]

class IdlError(ValueError):
    """An IDL that cannot be read or used; lineno, colno: where its JSON text is broken."""

    lineno: int | None
    colno: int | None

class TransactionError(ValueError):
    """Input that is not a transaction; path: the offending member; lineno, colno:
    where its JSON text is broken."""

    path: str | None
    lineno: int | None
    colno: int | None

class ProgramIdError(ValueError):
    """Decoders that cannot attribute events: decoder names which one; reason: why."""

    decoder: str | None
    reason: str | None

class InternalError(BaseException):
    """A failure the decoder treats as impossible (a fault of the decoder itself)."""

@final
class EventDecoder:
    """Decodes Anchor program events from Solana transaction log lines.

    Reads the program's IDL as JSON text, in the current format (Anchor
    0.30+, "spec": "0.1.0") or the legacy format of earlier Anchor
    versions. Immutable: one decoder serves any number of threads; it
    pickles as its IDL text and copies as itself.
    """

    def __new__(cls, idl_json: str) -> EventDecoder: ...
    def parse_logs(self, logs: Sequence[str]) -> list[tuple[str, Any]]: ...
    def parse_logs_arrow(self, logs: Sequence[str]) -> dict[str, EventTable]: ...
    def decode_logs(self, logs: Sequence[str]) -> list[Event]: ...
    def decode_transaction(self, tx: _TransactionInput) -> list[Event]: ...
    @property
    def event_names(self) -> list[str]: ...
    @property
    def program_id(self) -> str: ...

    def __reduce__(self) -> tuple[Callable[[str], EventDecoder], tuple[str]]: ...
    def __copy__(self) -> EventDecoder: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> EventDecoder: ...

def decode_logs(logs: Sequence[str], decoders: Iterable[EventDecoder]) -> list[Event]: ...
def decode_transaction(tx: _TransactionInput, decoders: Iterable[EventDecoder]) -> list[Event]: ...
def _decoder_from_idl(idl_json: str, /) -> EventDecoder: ...

# The command line's variants: the same events, and what the pass saw (keys
# payload_lines, cpi_instructions, unknown_discriminators, unattributed,
# events, failed); of a transaction also its signature and slot.
def _decode_logs_counted(
    logs: Sequence[str], decoders: Iterable[EventDecoder], adopt_unattributed: bool
) -> tuple[list[Event], dict[str, int]]: ...
def _decode_transaction_counted(
    tx: _TransactionInput, decoders: Iterable[EventDecoder]
) -> tuple[list[Event], dict[str, int], str | None, int | None]: ...

@final
class EventTable:
    """One event name's events as an Arrow record batch (Arrow PyCapsule interface)."""

    @property
    def name(self) -> str: ...
    @property
    def num_rows(self) -> int: ...
    @property
    def column_names(self) -> list[str]: ...
    def __len__(self) -> int: ...
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...
