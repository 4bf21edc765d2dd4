"""Decoding of Solana Anchor program events from transaction log lines and transactions.

``EventDecoder(idl_json)`` reads a program's IDL (current "0.1.0" format or the
legacy format); ``parse_logs(lines)`` returns every event found in a batch of
log lines as ``(name, value)`` tuples of plain Python values;
``parse_logs_arrow(lines)`` returns the same events as one Arrow table per
event name (``EventTable``), which Arrow libraries read without copying.

``decode_logs`` and ``decode_transaction`` (methods of one decoder, or module
functions over many decoders in one pass) return ``Event`` records attributed
to the program that emitted each event: events logged as "Program data:"
lines and events emitted by CPI (Anchor's ``emit_cpi!``), from a
``getTransaction`` result in the "json", "jsonParsed", "base64" or "base58"
encoding.

Failures caused by the input raise subclasses of ``ValueError`` that carry
what went wrong as attributes: ``IdlError`` (``lineno``, ``colno``),
``TransactionError`` (``path``, ``lineno``, ``colno``) and ``ProgramIdError``
(``decoder``, ``reason``). ``InternalError`` (a ``BaseException``) reports a
fault of the decoder itself.

``python -m varkel`` is the command line (``python -m varkel --help``).
"""

from varkel._varkel import (
    Account,
    AccountError,
    Event,
    EventDecoder,
    EventTable,
    IdlError,
    Instruction,
    InstructionError,
    InternalError,
    ProgramIdError,
    Transaction,
    TransactionError,
    decode,
    decode_block,
    decode_instructions,
    decode_logs,
    decode_tables,
    decode_transaction,
)

# The one source of the version: the build reads it from here (pyproject.toml).
__version__ = "0.3.0"

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
