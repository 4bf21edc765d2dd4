"""Test support shared by the Python tests and the benchmark: standard library only.

* `b58encode` / `b58decode`: base58 text of public keys (Bitcoin alphabet).
* `INTS`, `int_range`: byte width and signedness of every integer type.
* `event_discriminator`: the first 8 bytes of sha256("event:<name>").
* `encode(type_json, value, types)`: a Borsh encoder directed by IDL type JSON,
  the twin of the decoder. It writes `value`, in the shape the decoder returns
  (dicts for named fields, lists for tuples and sequences, variant names or
  one-key dicts for enums, base58 text for keys), in the Borsh encoding of the
  IDL type expression; `types` maps a defined name to its definition body
  ({"kind": "struct" | "enum" | "type", ...}).
* `Sampler(types, rng).sample(type_json)`: a random value of an IDL type with its
  Borsh bytes, as `(expected_python_value, encoded_bytes)`: the value is what the
  decoder must produce for those bytes. A subclass changes which values are
  likely by overriding the draws (`int_value`, `bytes_value`, `text_value`,
  `key`); the benchmark does so to look like real traffic.
* `FIXTURES`: the shared fixture folder (`VARKEL_FIXTURES`, or `shared/fixtures`
  next to the checkout).

The tests reach this module through tests/python/conftest.py, the benchmark by
putting this folder on sys.path.
"""

import hashlib
import os
import random
import struct as _struct
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
FIXTURES = Path(os.environ.get("VARKEL_FIXTURES", REPO.parent / "shared" / "fixtures"))

# --------------------------------------------------------------------------
# Base58 (Bitcoin alphabet).

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def b58encode(raw: bytes) -> str:
    # The benchmark's pure-Python decoder calls this for every key it decodes:
    # its speed is part of that baseline.
    n = int.from_bytes(raw, "big")
    digits = []
    while n:
        n, r = divmod(n, 58)
        digits.append(ALPHABET[r])
    zeros = len(raw) - len(raw.lstrip(b"\0"))
    return "1" * zeros + "".join(reversed(digits))


def b58decode(text: str, size: int | None = 32) -> bytes:
    """The bytes of a base58 text; `size` (None: any) is checked."""
    n = 0
    for ch in text:
        n = n * 58 + ALPHABET.index(ch)
    zeros = len(text) - len(text.lstrip("1"))
    body = n.to_bytes((n.bit_length() + 7) // 8, "big") if n else b""
    raw = b"\0" * zeros + body
    assert size is None or len(raw) == size, (text, raw)
    return raw


# --------------------------------------------------------------------------
# Transaction wire form (signatures, then the legacy or version-0 message).


def compact_u16(n: int) -> bytes:
    out = bytearray()
    while True:
        byte, n = n & 0x7F, n >> 7
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def wire_from_json(result: dict) -> bytes:
    """The wire bytes of a getTransaction result in the "json" encoding
    (account keys as "jsonParsed" gives them are read too). Raises KeyError,
    TypeError or ValueError (AssertionError for a key of the wrong size) on
    any other shape."""
    tx = result["transaction"]
    message = tx["message"]
    out = bytearray(compact_u16(len(tx["signatures"])))
    for signature in tx["signatures"]:
        out += b58decode(signature, 64)
    versioned = result.get("version", "legacy") != "legacy"
    if versioned:
        out.append(0x80)
    header = message["header"]
    out += bytes([header["numRequiredSignatures"], header["numReadonlySignedAccounts"],
                  header["numReadonlyUnsignedAccounts"]])
    keys = [key if isinstance(key, str) else key["pubkey"] for key in message["accountKeys"]]
    out += compact_u16(len(keys)) + b"".join(b58decode(key) for key in keys)
    out += b58decode(message["recentBlockhash"])
    out += compact_u16(len(message["instructions"]))
    for ins in message["instructions"]:
        data = b58decode(ins["data"], None)
        out += bytes([ins["programIdIndex"]]) + compact_u16(len(ins["accounts"])) + bytes(ins["accounts"])
        out += compact_u16(len(data)) + data
    if versioned:
        lookups = message.get("addressTableLookups") or []
        out += compact_u16(len(lookups))
        for lookup in lookups:
            out += b58decode(lookup["accountKey"])
            out += compact_u16(len(lookup["writableIndexes"])) + bytes(lookup["writableIndexes"])
            out += compact_u16(len(lookup["readonlyIndexes"])) + bytes(lookup["readonlyIndexes"])
    return bytes(out)


# --------------------------------------------------------------------------
# Integer types and discriminators.

# type -> (bytes, signed)
INTS = {
    "u8": (1, False), "i8": (1, True), "u16": (2, False), "i16": (2, True),
    "u32": (4, False), "i32": (4, True), "u64": (8, False), "i64": (8, True),
    "u128": (16, False), "i128": (16, True), "u256": (32, False), "i256": (32, True),
}


def int_range(kind: str) -> tuple[int, int]:
    """The smallest and largest value of an integer type."""
    width, signed = INTS[kind]
    bits = width * 8
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)


def event_discriminator(name: str) -> list[int]:
    return list(hashlib.sha256(f"event:{name}".encode()).digest()[:8])


# --------------------------------------------------------------------------
# Borsh encoder directed by IDL type JSON.


def u32(n: int) -> bytes:
    return n.to_bytes(4, "little")


def encode_fields(fields, value, types) -> bytes:
    """A struct body or variant payload: named fields (list of {"name", "type"}),
    tuple fields (list of types) or None."""
    if not fields:
        return b""
    if isinstance(fields[0], dict) and "name" in fields[0]:
        return b"".join(encode(f["type"], value[f["name"]], types) for f in fields)
    return b"".join(encode(t, v, types) for t, v in zip(fields, value, strict=True))


def encode_defined(body, value, types) -> bytes:
    kind = body["kind"]
    if kind == "struct":
        return encode_fields(body.get("fields"), value, types)
    if kind == "type":
        return encode(body["alias"], value, types)
    variants = body["variants"]
    if isinstance(value, str):
        index = next(i for i, v in enumerate(variants) if v["name"] == value)
        return bytes([index])
    ((name, payload),) = value.items()
    index = next(i for i, v in enumerate(variants) if v["name"] == name)
    return bytes([index]) + encode_fields(variants[index]["fields"], payload, types)


def encode(t, value, types=None) -> bytes:
    types = types or {}
    if isinstance(t, str):
        if t in INTS:
            width, signed = INTS[t]
            return value.to_bytes(width, "little", signed=signed)
        if t == "bool":
            return b"\1" if value else b"\0"
        if t == "f32":
            return _struct.pack("<f", value)
        if t == "f64":
            return _struct.pack("<d", value)
        if t == "bytes":
            return u32(len(value)) + bytes(value)
        if t == "string":
            raw = value.encode()
            return u32(len(raw)) + raw
        if t == "pubkey":
            return b58decode(value)
        raise ValueError(f"unknown type {t!r}")
    ((key, payload),) = t.items()
    if key == "option":
        return b"\0" if value is None else b"\1" + encode(payload, value, types)
    if key == "vec":
        return u32(len(value)) + b"".join(encode(payload, v, types) for v in value)
    if key == "array":
        element, length = payload
        assert len(value) == length
        return b"".join(encode(element, v, types) for v in value)
    if key == "defined":
        return encode_defined(types[payload["name"]], value, types)
    raise ValueError(f"unknown type {t!r}")


# --------------------------------------------------------------------------
# Random values with their encoding.


class Sampler:
    """Random values of the IDL types `types` (a list of type definitions, later
    definitions of a name win), drawn from `rng`. Sequences hold up to `max_len`
    items; an option is None with probability `none_share`; deeper than
    `max_depth` levels options are None and sequences empty."""

    def __init__(self, types, rng=None, max_len=3, none_share=0.3, max_depth=6):
        self.types = {t["name"]: t for t in types}
        self.rng = rng or random.Random(1234)
        self.max_len = max_len
        self.none_share = none_share
        self.max_depth = max_depth

    # The draws. `field` is the name of the field the value is for ("" in a
    # tuple); these ignore it, a subclass may not.

    def int_value(self, kind, field=""):
        """An extreme (smallest, largest, zero) or a uniform value."""
        lo, hi = int_range(kind)
        pick = self.rng.choice(["min", "max", "zero", "rand"])
        return {"min": lo, "max": hi, "zero": 0}[pick] if pick != "rand" else self.rng.randint(lo, hi)

    def bytes_value(self, field=""):
        rng = self.rng
        return bytes(rng.randrange(256) for _ in range(rng.randrange(8)))

    def text_value(self, field=""):
        rng = self.rng
        return "".join(rng.choice("ab ZΣé€😀") for _ in range(rng.randrange(6)))

    def key(self) -> tuple[bytes, str]:
        """A public key: its bytes and its base58 text."""
        raw = bytes(self.rng.randrange(256) for _ in range(32))
        return raw, b58encode(raw)

    # The walk over type expressions.

    def sample(self, ty, depth=0, field=""):
        rng = self.rng
        if isinstance(ty, str):
            if ty in INTS:
                value = self.int_value(ty, field)
            elif ty == "bool":
                value = rng.random() < 0.5
            elif ty == "f32":  # a value that f32 holds exactly
                value = _struct.unpack("<f", _struct.pack("<f", rng.uniform(-1e6, 1e6)))[0]
            elif ty == "f64":
                value = rng.uniform(-1e12, 1e12)
            elif ty == "bytes":
                value = self.bytes_value(field)
            elif ty == "string":
                value = self.text_value(field)
            elif ty == "pubkey":
                raw, text = self.key()
                return text, raw
            else:
                raise ValueError(f"unsupported type {ty!r}")
            return value, encode(ty, value)
        ((kind, arg),) = ty.items()
        if kind == "option":
            if depth > self.max_depth or rng.random() < self.none_share:
                return None, b"\0"
            value, data = self.sample(arg, depth + 1, field)
            return value, b"\1" + data
        if kind == "vec":
            n = rng.randrange(self.max_len + 1) if depth <= self.max_depth else 0
            items = [self.sample(arg, depth + 1, field) for _ in range(n)]
            return [v for v, _ in items], u32(n) + b"".join(d for _, d in items)
        if kind == "array":
            element, length = arg
            items = [self.sample(element, depth + 1, field) for _ in range(length)]
            return [v for v, _ in items], b"".join(d for _, d in items)
        if kind == "defined":
            name = arg if isinstance(arg, str) else arg["name"]
            return self.sample_defined(name, depth + 1, field)
        raise ValueError(f"unsupported type {ty!r}")

    def sample_fields(self, fields, depth):
        """Named fields (a dict), tuple fields (a list) or None (an empty dict)."""
        if fields is None:
            return {}, b""
        if fields and isinstance(fields[0], dict) and "name" in fields[0]:
            out, data = {}, b""
            for f in fields:
                value, encoded = self.sample(f["type"], depth, f["name"])
                out[f["name"]] = value
                data += encoded
            return out, data
        items = [self.sample(t, depth) for t in fields]
        return [v for v, _ in items], b"".join(d for _, d in items)

    def sample_defined(self, name, depth, field=""):
        body = self.types[name]["type"]
        if body["kind"] == "struct":
            return self.sample_fields(body.get("fields"), depth)
        if body["kind"] == "type":
            return self.sample(body["alias"], depth, field)
        variants = body["variants"]
        index = self.rng.randrange(len(variants))
        variant = variants[index]
        if "fields" not in variant or variant["fields"] is None:
            return variant["name"], bytes([index])
        value, data = self.sample_fields(variant["fields"], depth)
        return {variant["name"]: value}, bytes([index]) + data
