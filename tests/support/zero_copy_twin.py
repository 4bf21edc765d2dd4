"""An independent twin of the zero-copy layout engine, built on ctypes.

Each IDL type definition (current format, "0.1.0") becomes a ctypes type whose
memory layout is the one the type has in a Solana (SBF) program's account:

* primitives: bool as c_bool, u8..i64 as the c_(u)intN types, f32/f64 as
  c_float/c_double (aligned to their size, as on SBF);
* u128/i128 as a struct of two c_uint64 (16 bytes aligned to 8: SBF aligns
  128-bit integers to 8, x86-64 today to 16); u256/i256 as four c_uint64;
* pubkey as c_uint8 * 32; [T; n] as T * n;
* a struct as a ctypes.Structure with the IDL's fields in order (tuple fields
  named "0", "1", ...), `_pack_ = 1` when packed, its `align` applied (see
  _apply_align); repr(transparent) as a ctypes.Union of its fields (every
  field at 0, the size of the largest);
* an enum whose variants all lack fields as c_uint8; an alias as its type.

Anything without a fixed layout (vec, string, bytes, option, enums with fields,
generics, a struct without repr or repr(Rust) unpacked, unknown names) raises
TwinRefusal. This module does not import varkel: it is the oracle.

    layout(idl_json, type_name) -> (size, align, {field: offset})
    random_instance(idl_json, type_name, rng) -> (bytes, expected_value)

random_instance fills a buffer of random bytes (so padding holds garbage that
a decoder must skip) with random field values, and gives the value a decoder
should produce: exact ints (u128 from its two halves), pubkeys as base58 text,
floats as stored, bools, structs as dicts in field order (tuple structs as
lists), arrays as lists, unit enums as the variant name.
"""

import ctypes
import json
import sys

try:
    from varkel_support import b58encode
except ImportError:  # the twin also runs alone
    _ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"

    def b58encode(raw: bytes) -> str:
        n = int.from_bytes(raw, "big")
        out = ""
        while n:
            n, digit = divmod(n, 58)
            out = _ALPHABET[digit] + out
        return "1" * (len(raw) - len(raw.lstrip(b"\0"))) + out


class TwinRefusal(ValueError):
    """The type has no fixed memory layout."""


class Wide(ctypes.Structure):
    """u128 / i128: low half first (little endian), aligned to 8."""

    _fields_ = [("lo", ctypes.c_uint64), ("hi", ctypes.c_uint64)]


class Wide256(ctypes.Structure):
    """u256 / i256 as [u64; 4], low limb first."""

    _fields_ = [("limbs", ctypes.c_uint64 * 4)]


# name -> (ctype, bits, signed) for the integers held in one ctypes value
INTS = {
    "u8": (ctypes.c_uint8, 8, False), "i8": (ctypes.c_int8, 8, True),
    "u16": (ctypes.c_uint16, 16, False), "i16": (ctypes.c_int16, 16, True),
    "u32": (ctypes.c_uint32, 32, False), "i32": (ctypes.c_int32, 32, True),
    "u64": (ctypes.c_uint64, 64, False), "i64": (ctypes.c_int64, 64, True),
}
WIDE = {"u128": (Wide, 128, False), "i128": (Wide, 128, True),
        "u256": (Wide256, 256, False), "i256": (Wide256, 256, True)}
OTHERS = {"bool": ctypes.c_bool, "f32": ctypes.c_float, "f64": ctypes.c_double,
          "pubkey": ctypes.c_uint8 * 32}


def _apply_align(namespace, fields, align):
    """Raises the alignment of a Structure to `align`. Python 3.13 and later
    have `_align_`; before, a zero-length array of a type of that alignment
    is added at the end, named " align" (no IDL field name has a space): it
    adds no bytes, only alignment, so the size rounds up to it. Types of alignment 2..8 exist everywhere, 16 only where
    c_longdouble has it (x86-64); above, the emulation gives up."""
    if sys.version_info >= (3, 13):
        namespace["_align_"] = align
        return fields
    by_align = {ctypes.alignment(t): t for t in
                (ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_uint64, ctypes.c_longdouble)}
    if align not in by_align:
        raise NotImplementedError(f"align({align}) needs Python 3.13 (ctypes _align_)")
    return fields + [(" align", by_align[align] * 0)]


class Twin:
    """The ctypes types of one IDL document, built on demand."""

    def __init__(self, idl_json):
        doc = json.loads(idl_json) if isinstance(idl_json, (str, bytes)) else idl_json
        self.defs = {t["name"]: t for t in doc.get("types", [])}  # a later one wins
        self._built = {}
        self._open = set()

    # ---------------------------------------------------------------- types

    def ctype(self, ty):
        if isinstance(ty, str):
            if ty in INTS:
                return INTS[ty][0]
            if ty in WIDE:
                return WIDE[ty][0]
            if ty in OTHERS:
                return OTHERS[ty]
            raise TwinRefusal(f"{ty} has no fixed memory layout")
        ((kind, arg),) = ty.items()
        if kind == "array":
            element, count = arg
            if not isinstance(count, int):
                raise TwinRefusal("array of generic length")
            return self.ctype(element) * count
        if kind == "defined":
            if isinstance(arg, dict) and arg.get("generics"):
                raise TwinRefusal("reference with generic arguments")
            return self.defined(arg["name"] if isinstance(arg, dict) else arg)
        raise TwinRefusal(f"{kind} has no fixed memory layout")

    def defined(self, name):
        if name in self._built:
            return self._built[name]
        if name in self._open:
            raise TwinRefusal(f"{name} contains itself")
        if name not in self.defs:
            raise TwinRefusal(f"unknown type {name}")
        definition = self.defs[name]
        if definition.get("generics"):
            raise TwinRefusal(f"{name} is generic")
        self._open.add(name)
        try:
            built = self._build(name, definition)
        finally:
            self._open.discard(name)
        self._built[name] = built
        return built

    def _build(self, name, definition):
        body = definition["type"]
        if body["kind"] == "type":
            return self.ctype(body["alias"])
        if body["kind"] == "enum":
            if any(v.get("fields") for v in body["variants"]):
                raise TwinRefusal(f"{name} is an enum with fields")
            return ctypes.c_uint8
        repr_ = definition.get("repr")
        if repr_ is None:
            raise TwinRefusal(f"{name} has no repr")
        fields = [(n, self.ctype(t)) for n, t in field_list(body)]
        if repr_["kind"] == "transparent":
            return type(name, (ctypes.Union,), {"_fields_": fields})
        packed = repr_.get("packed", False)
        if repr_["kind"] == "rust" and not packed:
            raise TwinRefusal(f"{name} is repr(Rust) without packed")
        namespace = {}
        if packed:
            if repr_.get("align"):
                raise TwinRefusal(f"{name} is packed and aligned")
            namespace["_pack_"] = 1
            namespace["_layout_"] = "ms"  # what _pack_ implies; said outright for 3.14
        elif repr_.get("align"):
            fields = _apply_align(namespace, fields, repr_["align"])
        namespace["_fields_"] = fields
        return type(name, (ctypes.Structure,), namespace)

    # --------------------------------------------------------------- values

    def fill(self, ty, holder, key, rng):
        """Writes a random value of `ty` into holder.key (a Structure field)
        or holder[key] (an array item); returns the decoded value."""
        get = (lambda: getattr(holder, key)) if isinstance(key, str) else (lambda: holder[key])

        def put(value):
            if isinstance(key, str):
                setattr(holder, key, value)
            else:
                holder[key] = value

        if isinstance(ty, str):
            if ty in INTS:
                _, bits, signed = INTS[ty]
                value = draw_int(rng, bits, signed)
                put(value)
                return value
            if ty in WIDE:
                _, bits, signed = WIDE[ty]
                raw = draw_int(rng, bits, False)
                target = get()
                if bits == 128:
                    target.lo, target.hi = raw & (2**64 - 1), raw >> 64
                else:
                    for i in range(4):
                        target.limbs[i] = (raw >> (64 * i)) & (2**64 - 1)
                return raw - (1 << bits) if signed and raw >> (bits - 1) else raw
            if ty == "bool":
                value = rng.random() < 0.5
                put(value)
                return value
            if ty in ("f32", "f64"):
                put(rng.choice([0.0, -0.0, 1.5, -2.25, rng.uniform(-1e9, 1e9), rng.uniform(-1, 1)]))
                return get()  # as stored: f32 rounds
            if ty == "pubkey":
                raw = rng.randbytes(32)
                get()[:] = list(raw)
                return b58encode(raw)
            raise TwinRefusal(f"{ty} has no fixed memory layout")
        ((kind, arg),) = ty.items()
        if kind == "array":
            element, count = arg
            items = get()
            return [self.fill(element, items, i, rng) for i in range(count)]
        name = arg["name"] if isinstance(arg, dict) else arg
        body = self.defs[name]["type"]
        if body["kind"] == "type":
            return self.fill(body["alias"], holder, key, rng)
        if body["kind"] == "enum":
            index = rng.randrange(len(body["variants"]))
            put(index)
            return body["variants"][index]["name"]
        target = get()
        values = [(n, self.fill(t, target, n, rng)) for n, t in field_list(body)]
        if is_tuple(body):
            return [v for _, v in values]
        return dict(values)


def field_list(body):
    """(name, type) of a struct's fields; tuple fields are named "0", "1"..."""
    fields = body.get("fields") or []
    if is_tuple(body):
        return [(str(i), t) for i, t in enumerate(fields)]
    return [(f["name"], f["type"]) for f in fields]


def is_tuple(body):
    fields = body.get("fields") or []
    return bool(fields) and not (isinstance(fields[0], dict) and "name" in fields[0])


def draw_int(rng, bits, signed):
    """An extreme or a uniform value of an integer type."""
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    return rng.choice([lo, hi, 0, 1, rng.randint(lo, hi), rng.randint(lo, hi)])


def layout(idl_json, type_name):
    """(size, align, {field: offset}) of a defined type; offsets only for structs."""
    twin = Twin(idl_json)
    ctype = twin.defined(type_name)
    body = twin.defs[type_name]["type"]
    offsets = {}
    if body["kind"] == "struct":
        offsets = {n: getattr(ctype, n).offset for n, _ in field_list(body)}
    return ctypes.sizeof(ctype), ctypes.alignment(ctype), offsets


def random_instance(idl_json, type_name, rng):
    """(memory image of a random value of type_name, the value decoded)."""
    twin = Twin(idl_json)
    ctype = twin.defined(type_name)
    # A one-field holder has the size of the type (already a multiple of its
    # alignment), so the buffer is exactly the type's memory image.
    holder_type = type("Holder", (ctypes.Structure,), {"_fields_": [("v", ctype)]})
    assert ctypes.sizeof(holder_type) == ctypes.sizeof(ctype)
    buffer = bytearray(rng.randbytes(ctypes.sizeof(ctype)))
    holder = holder_type.from_buffer(buffer)
    value = twin.fill({"defined": {"name": type_name}}, holder, "v", rng)
    del holder  # releases the buffer's export
    return bytes(buffer), value


__all__ = ["TwinRefusal", "Twin", "layout", "random_instance"]
