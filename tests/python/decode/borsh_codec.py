"""A small Borsh encoder directed by IDL type JSON, the twin of the decoder.

`encode(type_json, value, types)` writes `value` (in the shape the decoder
returns: dicts for named fields, lists for tuples and sequences, variant names
or one-key dicts for enums, base58 text for keys) in the Borsh encoding of the
IDL type expression `type_json`. `types` maps a defined name to its type
definition body ({"kind": "struct" | "enum" | "type", ...}).
"""

import struct as _struct

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"

_INTS = {
    "u8": (1, False), "i8": (1, True), "u16": (2, False), "i16": (2, True),
    "u32": (4, False), "i32": (4, True), "u64": (8, False), "i64": (8, True),
    "u128": (16, False), "i128": (16, True), "u256": (32, False), "i256": (32, True),
}


def b58encode(data: bytes) -> str:
    n, out = int.from_bytes(data, "big"), ""
    while n:
        n, r = divmod(n, 58)
        out = ALPHABET[r] + out
    return "1" * (len(data) - len(data.lstrip(b"\0"))) + out


def b58decode(text: str, size: int = 32) -> bytes:
    n = 0
    for ch in text:
        n = n * 58 + ALPHABET.index(ch)
    zeros = len(text) - len(text.lstrip("1"))
    body = n.to_bytes((n.bit_length() + 7) // 8, "big") if n else b""
    raw = b"\0" * zeros + body
    assert len(raw) == size, (text, raw)
    return raw


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
        if t in _INTS:
            width, signed = _INTS[t]
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


def same(a, b) -> bool:
    """Equal values of identical types; floats compared bit for bit."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return _struct.pack("<d", a) == _struct.pack("<d", b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b
