"""Rows of an Arrow table from parse_logs_arrow back into the values that
parse_logs returns, directed by the IDL types (the type mapping read
backwards): an independent check of the columns against parse_logs.

`rows_as_values(fields, rows, types)` takes the event's IDL fields (as in the
IDL JSON: a list of {"name", "type"}, a list of types, or None), the rows as
pyarrow's Table.to_pylist() gives them, and `types` mapping defined names to
their bodies.
"""


from varkel_support import encode

WIDE = ("u128", "i128", "u256", "i256")


class BorshBytes:
    """A value given as its Borsh bytes (a type inside itself): equal to the
    value whose encoding it is."""

    def __init__(self, data: bytes, type_json, types):
        self.data, self.type_json, self.types = data, type_json, types

    def __eq__(self, other):
        return isinstance(other, BorshBytes) and other.data == self.data or \
            encode(self.type_json, other, self.types) == self.data

    def __repr__(self):
        return f"BorshBytes({self.data.hex()})"


def _name(ref):
    return ref if isinstance(ref, str) else ref["name"]


class Reader:
    def __init__(self, types):
        self.types = types
        self.expanding = []

    def value(self, t, v):
        if v is None:  # an empty option, or an instruction's argument left out
            return None
        if isinstance(t, str):
            if t in WIDE:
                assert isinstance(v, str), (t, v)
                return int(v)
            return v
        ((kind, arg),) = t.items()
        if kind == "option":
            return None if v is None else self.value(arg, v)
        if kind == "vec":
            return [self.value(arg, x) for x in v]
        if kind == "array":
            return [self.value(arg[0], x) for x in v]
        if kind == "defined":
            name = _name(arg)
            if name in self.expanding:
                assert isinstance(v, bytes), v
                return BorshBytes(v, t, self.types)
            self.expanding.append(name)
            try:
                return self.defined(self.types[name], v)
            finally:
                self.expanding.pop()
        raise ValueError(f"type {t!r}")

    def defined(self, body, v):
        if body["kind"] == "struct":
            return self.fields(body.get("fields"), v)
        if body["kind"] == "type":
            return self.value(body["alias"], v)
        variants = body["variants"]
        if all("fields" not in x or x["fields"] is None for x in variants):
            assert isinstance(v, str), v  # dictionary: the variant's name
            return v
        chosen = v["variant"]
        variant = next(x for x in variants if x["name"] == chosen)
        if "fields" not in variant or variant["fields"] is None:
            return chosen
        return {chosen: self.fields(variant["fields"], v[chosen])}

    def fields(self, fields, v):
        if fields is None:
            return {}
        if not fields or isinstance(fields[0], dict) and "name" in fields[0]:  # [] is named, as the IDL reads it
            last = {f["name"]: f["type"] for f in fields}  # a repeated name: the last field's type
            return {name: self.value(t, v[name]) for name, t in last.items()}
        return [self.value(t, v[str(i)]) for i, t in enumerate(fields)]


def rows_as_values(fields, rows, types):
    reader = Reader(types)
    return [reader.fields(fields, row) for row in rows]
