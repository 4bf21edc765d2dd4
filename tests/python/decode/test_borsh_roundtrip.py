"""Round trip: random type expressions with random values, Borsh-encoded by the
twin encoder in varkel_support, must decode to the same values; every truncation of
the encoding must fail cleanly."""

import struct

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import current_idl, data_line, load_testing_decode, same
from varkel import EventDecoder
from varkel_support import b58encode, encode, int_range

DISC = [9, 8, 7, 6, 5, 4, 3, 2]
MARK = 0x5A

decode_for_test = load_testing_decode()

# Integer type -> (smallest, largest) value.
INTS = {kind: int_range(kind) for kind in ("u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64",
                                           "u128", "i128", "u256", "i256")}
PRIMITIVES = [*INTS, "bool", "f32", "f64", "bytes", "string", "pubkey"]

# Abstract type trees: ("prim", name), ("option", t), ("vec", t), ("array", t, n),
# ("struct", [t...], absent), ("tuple", [t...]), ("enum", [None | ("named" | "tuple", [t...])]),
# ("alias", t). Defined types get their names when the tree is turned into an IDL.


def _compound(children):
    fields = st.lists(children, max_size=3)
    variant = st.one_of(st.none(), st.tuples(st.sampled_from(["named", "tuple"]), st.lists(children, min_size=1, max_size=2)))
    return st.one_of(
        children.map(lambda t: ("option", t)),
        children.map(lambda t: ("vec", t)),
        st.tuples(children, st.integers(0, 3)).map(lambda p: ("array", p[0], p[1])),
        st.tuples(fields, st.booleans()).map(lambda p: ("struct", p[0], p[1] and not p[0])),
        st.lists(children, min_size=1, max_size=3).map(lambda ts: ("tuple", ts)),
        st.lists(variant, min_size=1, max_size=3).map(lambda vs: ("enum", vs)),
        children.map(lambda t: ("alias", t)),
    )


type_trees = st.recursive(st.sampled_from(PRIMITIVES).map(lambda p: ("prim", p)), _compound, max_leaves=8)


class Schema:
    """Turns a type tree into IDL type JSON, collecting the definitions."""

    def __init__(self):
        self.defs = []  # IDL type definitions
        self.bodies = {}  # name -> body, for the encoder

    def define(self, body):
        name = f"T{len(self.defs)}"
        self.defs.append({"name": name, "type": body})
        self.bodies[name] = body
        return {"defined": {"name": name}}

    def fields(self, kind, children):
        if kind == "named":
            return [{"name": f"f{i}", "type": self.json(c)} for i, c in enumerate(children)]
        return [self.json(c) for c in children]

    def json(self, tree):
        tag = tree[0]
        if tag == "prim":
            return tree[1]
        if tag in ("option", "vec"):
            return {tag: self.json(tree[1])}
        if tag == "array":
            return {"array": [self.json(tree[1]), tree[2]]}
        if tag == "struct":
            body = {"kind": "struct"}
            if not tree[2]:
                body["fields"] = self.fields("named", tree[1])
            return self.define(body)
        if tag == "tuple":
            return self.define({"kind": "struct", "fields": self.fields("tuple", tree[1])})
        if tag == "enum":
            variants = []
            for i, v in enumerate(tree[1]):
                variant = {"name": f"V{i}"}
                if v is not None:
                    variant["fields"] = self.fields(*v)
                variants.append(variant)
            return self.define({"kind": "enum", "variants": variants})
        return self.define({"kind": "type", "alias": self.json(tree[1])})


def _field_values(kind, children):
    if kind == "named":
        names = [f"f{i}" for i in range(len(children))]
        # In field order: the decoder's dicts keep the order of the IDL.
        return st.tuples(*(values(c) for c in children)).map(lambda vs: dict(zip(names, vs)))
    return st.tuples(*(values(c) for c in children)).map(list)


def values(tree):
    """Values of a type tree, in the shape the decoder returns."""
    tag = tree[0]
    if tag == "prim":
        name = tree[1]
        if name in INTS:
            return st.integers(*INTS[name])
        return {
            "bool": st.booleans(),
            "f32": st.floats(width=32, allow_nan=False),
            "f64": st.floats(allow_nan=False),
            "bytes": st.binary(max_size=12),
            "string": st.text(max_size=6),
            "pubkey": st.binary(min_size=32, max_size=32).map(b58encode),
        }[name]
    if tag == "option":
        return st.none() | values(tree[1])
    if tag == "vec":
        return st.lists(values(tree[1]), max_size=3)
    if tag == "array":
        return st.lists(values(tree[1]), min_size=tree[2], max_size=tree[2])
    if tag == "struct":
        return _field_values("named", tree[1])
    if tag == "tuple":
        return _field_values("tuple", tree[1])
    if tag == "enum":
        options = []
        for i, v in enumerate(tree[1]):
            name = f"V{i}"
            if v is None:
                options.append(st.just(name))
            else:
                options.append(_field_values(*v).map(lambda payload, name=name: {name: payload}))
        return st.one_of(options)
    return values(tree[1])


@st.composite
def cases(draw):
    tree = draw(type_trees)
    value = draw(values(tree))
    schema = Schema()
    t = schema.json(tree)
    event = {"name": "E", "type": {"kind": "struct", "fields": [
        {"name": "v", "type": t}, {"name": "m", "type": "u8"}]}}
    idl = current_idl(events=[("E", DISC)], types=[event, *schema.defs])
    data = encode(t, value, schema.bodies) + bytes([MARK])
    return idl, value, data


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases())
def test_round_trip(case):
    idl, value, data = case
    decoder = EventDecoder(idl)
    out = decoder.parse_logs([data_line(DISC, data)])
    assert len(out) == 1 and out[0][0] == "E"
    assert same(out[0][1], {"v": value, "m": MARK}), (out[0][1], value)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases())
def test_every_truncation_fails_cleanly(case):
    idl, _, data = case
    decoder = EventDecoder(idl)
    truncated = [data_line(DISC, data[:k]) for k in range(len(data))]
    assert decoder.parse_logs(truncated) == []
    if decode_for_test is not None:
        for k in range(len(data)):
            try:
                decode_for_test(idl, "E", data[:k])
            except ValueError as exc:
                assert str(exc).startswith("unexpected end of buffer: need "), str(exc)
                assert str(exc).endswith(f", have {k}"), str(exc)
            else:
                raise AssertionError(f"prefix of {k} bytes decoded")


@settings(max_examples=150, deadline=None)
@given(cases(), st.binary(max_size=64))
def test_arbitrary_bytes_never_crash(case, noise):
    # Whatever the data, decoding gives a record or none, never an exception.
    idl, _, data = case
    decoder = EventDecoder(idl)
    lines = [data_line(DISC, noise), data_line(DISC, data[: len(data) // 2] + noise), data_line(DISC, noise + data)]
    out = decoder.parse_logs(lines)
    assert all(name == "E" for name, _ in out)
