"""The command line's output conventions, shared with the examples that write
the same records: standard JSON text of a record, and the id (first
signature) and slot of a getTransaction result."""

from __future__ import annotations

import base64
import json
import math
from typing import Any

__all__ = ["to_json", "transaction_id"]

_B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def _b58encode(raw: bytes) -> str:
    n, out = int.from_bytes(raw, "big"), ""
    while n:
        n, r = divmod(n, 58)
        out = _B58[r] + out
    return "1" * (len(raw) - len(raw.lstrip(b"\0"))) + out


def _b58decode(text: str) -> bytes:
    n = 0
    for ch in text:
        n = n * 58 + _B58.index(ch)  # ValueError for a character outside the alphabet
    body = n.to_bytes((n.bit_length() + 7) // 8, "big") if n else b""
    return b"\0" * (len(text) - len(text.lstrip("1"))) + body


def _json_default(value: object) -> object:
    if isinstance(value, (bytes, bytearray)):
        return {"hex": value.hex()}
    raise TypeError(f"{type(value).__name__} is not JSON serializable")


def _finite(value: Any) -> Any:
    """The value with NaN and infinities replaced by None."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {key: _finite(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(item) for item in value]
    return value


def to_json(record: dict[str, Any]) -> str:
    """Standard JSON text of a record: bytes as {"hex": ...}, integers exact,
    NaN and infinities as null."""
    try:
        return json.dumps(record, default=_json_default, allow_nan=False)
    except ValueError:  # a NaN or an infinity somewhere: rare, so checked only then
        return json.dumps(_finite(record), default=_json_default, allow_nan=False)


def _signature(transaction: Any) -> str | None:
    if isinstance(transaction, dict):
        signatures = transaction.get("signatures")
        first = signatures[0] if isinstance(signatures, list) and signatures else None
        return first if isinstance(first, str) else None
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


def transaction_id(result: dict[str, Any]) -> tuple[str | None, int | None]:
    """(signature, slot) of a getTransaction result: its first signature, from
    the message's list or from the wire bytes of the "base64" and "base58"
    encodings; None where the result does not tell."""
    slot = result.get("slot")
    if isinstance(slot, str) and slot.isdigit():
        slot = int(slot)
    return _signature(result.get("transaction")), slot if isinstance(slot, int) else None
