"""Decoding of Solana Anchor program events from transaction log lines.

``EventDecoder(idl_json)`` reads a program's IDL (current "0.1.0" format or the
legacy format); ``parse_logs(lines)`` returns every event found in a batch of
log lines as ``(name, value)`` tuples of plain Python values;
``parse_logs_arrow(lines)`` returns the same events as one Arrow table per
event name (``EventTable``), which Arrow libraries read without copying.
"""

from varkel._varkel import EventDecoder, EventTable

__all__ = ["EventDecoder", "EventTable"]
