"""A small Borsh encoder driven by current-format IDL type expressions.

`Sampler(types).sample(type)` draws a random value of an IDL type and returns
`(expected_python_value, encoded_bytes)`, the value being what the decoder must
produce for those bytes (public keys as base58 text, structs as dicts, ...).
"""

import random
import struct

# One base58 and one integer table for all the test encoders.
from decode.borsh_codec import _INTS as INTS
from decode.borsh_codec import b58encode as base58


def encode_int(value: int, kind: str) -> bytes:
    width, signed = INTS[kind]
    return value.to_bytes(width, "little", signed=signed)


class Sampler:
    def __init__(self, types, rng=None, max_len=3):
        self.types = {t["name"]: t for t in types}  # later definitions win
        self.rng = rng or random.Random(1234)
        self.max_len = max_len

    def int_value(self, kind):
        width, signed = INTS[kind]
        bits = width * 8
        pick = self.rng.choice(["min", "max", "zero", "rand"])
        lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
        return {"min": lo, "max": hi, "zero": 0}.get(pick, None) if pick != "rand" else self.rng.randint(lo, hi)

    def sample(self, ty, depth=0):
        rng = self.rng
        if isinstance(ty, str):
            if ty in INTS:
                value = self.int_value(ty)
                return value, encode_int(value, ty)
            if ty == "bool":
                value = rng.random() < 0.5
                return value, bytes([1 if value else 0])
            if ty == "f32":
                raw = struct.pack("<f", rng.uniform(-1e6, 1e6))
                return struct.unpack("<f", raw)[0], raw
            if ty == "f64":
                value = rng.uniform(-1e12, 1e12)
                return value, struct.pack("<d", value)
            if ty in ("bytes", "string"):
                if ty == "bytes":
                    data = bytes(rng.randrange(256) for _ in range(rng.randrange(8)))
                    return data, len(data).to_bytes(4, "little") + data
                text = "".join(rng.choice("ab ZΣé€😀") for _ in range(rng.randrange(6)))
                data = text.encode()
                return text, len(data).to_bytes(4, "little") + data
            if ty == "pubkey":
                key = bytes(rng.randrange(256) for _ in range(32))
                return base58(key), key
            raise ValueError(f"unsupported type {ty!r}")
        ((kind, arg),) = ty.items()
        if kind == "option":
            if depth > 6 or rng.random() < 0.3:
                return None, b"\0"
            value, data = self.sample(arg, depth + 1)
            return value, b"\1" + data
        if kind == "vec":
            n = rng.randrange(self.max_len + 1) if depth <= 6 else 0
            items = [self.sample(arg, depth + 1) for _ in range(n)]
            return [v for v, _ in items], n.to_bytes(4, "little") + b"".join(d for _, d in items)
        if kind == "array":
            element, length = arg
            items = [self.sample(element, depth + 1) for _ in range(length)]
            return [v for v, _ in items], b"".join(d for _, d in items)
        if kind == "defined":
            name = arg if isinstance(arg, str) else arg["name"]
            return self.sample_defined(name, depth + 1)
        raise ValueError(f"unsupported type {ty!r}")

    def sample_fields(self, fields, depth):
        if fields is None:
            return {}, b""
        if fields and isinstance(fields[0], dict) and "name" in fields[0]:
            out, data = {}, b""
            for field in fields:
                value, encoded = self.sample(field["type"], depth)
                out[field["name"]] = value
                data += encoded
            return out, data
        items = [self.sample(t, depth) for t in fields]
        return [v for v, _ in items], b"".join(d for _, d in items)

    def sample_defined(self, name, depth):
        body = self.types[name]["type"]
        if body["kind"] == "struct":
            return self.sample_fields(body.get("fields"), depth)
        if body["kind"] == "type":
            return self.sample(body["alias"], depth)
        variants = body["variants"]
        index = self.rng.randrange(len(variants))
        variant = variants[index]
        if "fields" not in variant or variant["fields"] is None:
            return variant["name"], bytes([index])
        value, data = self.sample_fields(variant["fields"], depth)
        return {variant["name"]: value}, bytes([index]) + data
