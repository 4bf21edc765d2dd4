# Type stub of the compiled extension module varkel._varkel. Checked against
# the built module by `python -m mypy.stubtest varkel._varkel` (the test
# command runs it): everything the module defines is declared here.
import sys
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any, Final, Literal, TypeAlias, final

from typing_extensions import Buffer

# A getTransaction result (or one transaction of a block, or the RPC envelope
# around it): the dict that json.loads gives, or its JSON text.
_TransactionInput: TypeAlias = dict[str, Any] | str | bytes | bytearray | Buffer
_KeyForm: TypeAlias = Literal["base58", "binary"]

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

@final
class Instruction(tuple[Any, ...]):
    """One instruction of a decoder's program.

    An immutable struct sequence (a tuple of its 16 fields).
    """

    n_fields: Final[int]
    n_sequence_fields: Final[int]
    n_unnamed_fields: Final[int]
    __match_args__: Final = (
        "name",
        "args",
        "accounts",
        "remaining",
        "program_id",
        "instruction",
        "inner",
        "depth",
        "log_index",
        "trailing",
        "missing",
        "error",
        "data",
        "signers",
        "writable",
        "failed",
    )

    def __new__(cls, sequence: Iterable[Any], dict: dict[str, Any] = ...) -> Instruction: ...
    if sys.version_info >= (3, 13):
        def __replace__(self, **kwargs: Any) -> Instruction: ...
    @property
    def name(self) -> str | None:
        """The instruction's name; None when its discriminator is unknown."""
    @property
    def args(self) -> dict[str, Any] | None:
        """Its arguments; None when they do not decode."""
    @property
    def accounts(self) -> dict[str, Any] | None:
        """Its accounts named by the IDL (groups as nested dicts); None when not given or too few."""
    @property
    def remaining(self) -> list[str]:
        """The keys beyond the IDL's account list."""
    @property
    def program_id(self) -> str | None:
        """Base58 address of the instruction's program."""
    @property
    def instruction(self) -> int | None:
        """Index of the top-level instruction; None outside a transaction."""
    @property
    def inner(self) -> int | None:
        """Index in that instruction's inner instructions; None for a top-level one."""
    @property
    def depth(self) -> int | None:
        """Stack height (1 = top-level); None when not known."""
    @property
    def log_index(self) -> int | None:
        """Index of its invoke log line; None when not found."""
    @property
    def trailing(self) -> int:
        """Bytes of data after the arguments."""
    @property
    def missing(self) -> tuple[str, ...]:
        """Names of trailing arguments the data leaves out (None in args)."""
    @property
    def error(self) -> str | None:
        """Why it does not decode; None when it does."""
    @property
    def data(self) -> bytes | None:
        """Its raw data when it does not decode."""
    @property
    def signers(self) -> tuple[str, ...] | None:
        """Its account keys that sign the transaction; None when not known."""
    @property
    def writable(self) -> tuple[str, ...] | None:
        """Its account keys that the message marks writable; None when not known."""
    @property
    def failed(self) -> bool:
        """The transaction failed."""

@final
class Transaction(tuple[Any, ...]):
    """One transaction decoded by varkel.decode."""

    n_fields: Final[int]
    n_sequence_fields: Final[int]
    n_unnamed_fields: Final[int]
    __match_args__: Final = ("signature", "slot", "block_time", "failed", "error", "instructions", "events")

    def __new__(cls, sequence: Iterable[Any], dict: dict[str, Any] = ...) -> Transaction: ...
    if sys.version_info >= (3, 13):
        def __replace__(self, **kwargs: Any) -> Transaction: ...
    @property
    def signature(self) -> str | None:
        """The transaction's first signature (base58)."""
    @property
    def slot(self) -> int | None:
        """The slot of its block."""
    @property
    def block_time(self) -> int | None:
        """The block's time (seconds since the Unix epoch)."""
    @property
    def failed(self) -> bool:
        """The transaction failed."""
    @property
    def error(self) -> dict[str, Any] | None:
        """Why it failed."""
    @property
    def instructions(self) -> list[Instruction]:
        """The decoders' programs' instructions, in execution order."""
    @property
    def events(self) -> list[Event]:
        """The decoders' programs' events, in execution order."""

@final
class Account(tuple[Any, ...]):
    """One account of a decoder's program."""

    n_fields: Final[int]
    n_sequence_fields: Final[int]
    n_unnamed_fields: Final[int]
    __match_args__: Final = ("pubkey", "name", "value", "owner", "lamports", "slot", "unread", "error")

    def __new__(cls, sequence: Iterable[Any], dict: dict[str, Any] = ...) -> Account: ...
    if sys.version_info >= (3, 13):
        def __replace__(self, **kwargs: Any) -> Account: ...
    @property
    def pubkey(self) -> str | None:
        """The account's address (base58); None when the input does not give it."""
    @property
    def name(self) -> str | None:
        """The name of its account type in the IDL; None when its discriminator is unknown."""
    @property
    def value(self) -> dict[str, Any] | None:
        """Its data as plain Python values; None when it does not decode."""
    @property
    def owner(self) -> str | None:
        """The program that owns it (base58), as the input gives it."""
    @property
    def lamports(self) -> int | None:
        """Its balance in lamports, as the input gives it."""
    @property
    def slot(self) -> int | None:
        """The slot of the RPC response's context."""
    @property
    def unread(self) -> int | None:
        """Bytes of data after the value; None when it does not decode."""
    @property
    def error(self) -> str | None:
        """Why it does not decode; None when it does."""

__all__ = [
    "EventDecoder",
    "Event",
    "Instruction",
    "Transaction",
    "Account",
    "EventTable",
    "IdlError",
    "TransactionError",
    "ProgramIdError",
    "InstructionError",
    "AccountError",
    "InternalError",
    "decode_logs",
    "decode_transaction",
    "decode_instructions",
    "decode",
    "decode_block",
    "decode_tables",
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

class InstructionError(ValueError):
    """An instruction that does not decode; reason: "discriminator", "arguments",
    "accounts" or "input"; path: the argument field or input; instruction: its name."""

    reason: str | None
    path: str | None
    instruction: str | None

class AccountError(ValueError):
    """Account data that does not decode; reason: "missing", "input", "owner",
    "discriminator" or "data"; path: the field that did not fit; account: the type's name."""

    reason: str | None
    path: str | None
    account: str | None

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
    def parse_logs_arrow(self, logs: Sequence[str], pubkey: _KeyForm = "base58") -> dict[str, EventTable]: ...
    def decode_logs(self, logs: Sequence[str]) -> list[Event]: ...
    def decode_transaction(self, tx: _TransactionInput) -> list[Event]: ...
    def decode_instructions(self, tx: _TransactionInput) -> list[Instruction]: ...
    def decode_instruction(self, data: bytes | str, accounts: Sequence[str] | None = None) -> Instruction: ...
    def decode_account(self, data: bytes | str | Mapping[str, Any]) -> tuple[str, dict[str, Any]]: ...
    def decode_accounts(self, items: Any) -> list[Account]: ...
    def decode_accounts_arrow(self, items: Any, pubkey: _KeyForm = "base58") -> dict[str, EventTable]: ...
    def with_program_id(self, program_id: str) -> EventDecoder: ...
    @property
    def event_names(self) -> list[str]: ...
    @property
    def instruction_names(self) -> list[str]: ...
    @property
    def account_names(self) -> list[str]: ...
    @property
    def program_id(self) -> str: ...

    def __reduce__(self) -> tuple[Callable[..., EventDecoder], tuple[str] | tuple[str, str]]: ...
    def __copy__(self) -> EventDecoder: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> EventDecoder: ...

def decode_logs(logs: Sequence[str], decoders: Iterable[EventDecoder]) -> list[Event]: ...
def decode_transaction(tx: _TransactionInput, decoders: Iterable[EventDecoder]) -> list[Event]: ...
def decode_instructions(tx: _TransactionInput, decoders: Iterable[EventDecoder]) -> list[Instruction]: ...
def decode(tx: _TransactionInput, decoders: Iterable[EventDecoder]) -> Transaction: ...
def decode_block(block: _TransactionInput, decoders: Iterable[EventDecoder]) -> list[Transaction]: ...
def decode_tables(
    items: Iterable[_TransactionInput],
    decoders: Iterable[EventDecoder],
    pubkey: _KeyForm = "base58",
    instructions: bool = True,
) -> dict[tuple[str, str, str], EventTable]: ...
def _decoder_from_idl(idl_json: str, program_id: str | None = None, /) -> EventDecoder: ...

# The command line's variants: the same events, and what the pass saw (keys
# payload_lines, cpi_instructions, unknown_discriminators, unattributed,
# events, failed); of a transaction also its signature and slot.
def _decode_logs_counted(
    logs: Sequence[str], decoders: Iterable[EventDecoder], adopt_unattributed: bool
) -> tuple[list[Event], dict[str, int]]: ...
def _decode_counted(
    line: _TransactionInput, decoders: Iterable[EventDecoder], instructions: bool
) -> tuple[list[tuple[Transaction, list[Event | Instruction]]], dict[str, int]]: ...
def _decode_tables_counted(
    items: Iterable[_TransactionInput], decoders: Iterable[EventDecoder], pubkey: _KeyForm, instructions: bool
) -> tuple[dict[tuple[str, str, str], EventTable], dict[str, int], list[tuple[int, str]]]: ...

@final
class EventTable:
    """One event name's events as an Arrow record batch (Arrow PyCapsule interface)."""

    @property
    def name(self) -> str: ...
    @property
    def kind(self) -> Literal["event", "instruction", "account"]: ...
    @property
    def program_id(self) -> str | None: ...
    @property
    def num_rows(self) -> int: ...
    @property
    def column_names(self) -> list[str]: ...
    def __len__(self) -> int: ...
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...
