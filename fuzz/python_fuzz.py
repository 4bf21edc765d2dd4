"""Fuzz and stress of the Python entry points: EventDecoder (parse_logs,
parse_logs_arrow, decode_logs, decode_transaction) and the module's
decode_logs and decode_transaction over several decoders.

    python fuzz/python_fuzz.py [--seconds N] [--seed S] [--out DIR]
    python fuzz/python_fuzz.py --replay DIR/case-S-I.json

Case I of seed S is built from random.Random(f"{S}:{I}") and the repository's
data alone, so (S, I) names it. Kinds of case:

  idl       a mutated IDL text (bytes, characters, lone surrogates, JSON tree
            edits, deep nesting, hostile numbers): EventDecoder builds or raises
            ValueError; what builds parses lines made for its events.
  lines     a batch of real and generated log lines, some mutated (base64 and
            payload edits, whitespace, lone surrogates, 10 MB lines), against
            one of the reference decoders.
  hostile   events of fuzz/data/hostile-idl.json (types that reach
            themselves, zero-width and huge sequences) with hostile lengths.
  sequence  Sequence objects whose __len__ lies, raises or overflows.
  threads   threads sharing decoders while another thread mutates the list
            they parse.
  tx        a real transaction of the examples and fixtures, mutated (log
            lines dropped, repeated, swapped, edited or truncated; inner
            instructions dropped, moved, re-parented, their data edited; stack
            heights, program indexes, errors, versions changed; the wire forms;
            the RPC envelope; hostile values), given as a dict, as JSON text
            and as bytes to decode_transaction of one decoder and of several.
  arrow     a batch of lines as in "lines", through parse_logs_arrow.

Every case checks outcomes, not only survival: a batch gives the
concatenation of its lines' one-line results (or raises when one line does);
an unmutated line gives its reference result (the independent Borsh encoder's
value for generated events, the decoder's own one-line result on the clean
line otherwise); a line with bytes appended to its payload gives the result
of the line without them.

A transaction gives events or a clean TypeError or ValueError, the same way
as a dict, as text and as bytes (mutated text: no crash, clean errors only);
several decoders give each decoder's own events, in order; its logged events
are those of decode_logs over its log lines alone, whose values are those of
parse_logs on the event's line. parse_logs_arrow raises exactly when
parse_logs does, and its tables hold parse_logs' events, per event name, in
order (value for value through pyarrow, where it is installed, for IDLs of
the current format; row counts otherwise).

The cases run in a worker process until the time is up. The worker records
the index of the case it is about to run; when it dies (a crash, a sanitizer
report, a failed check, a hang) the parent writes that case's inputs to
DIR/case-S-I.json (default fuzz-findings/python/) and exits with status 1.
--replay runs a saved case again in this process.
"""

import argparse
import base64
import hashlib
import json
import os
import random
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(REPO / "tests" / "python"))

sys.path.insert(0, str(REPO / "tests" / "support"))

import seeds  # noqa: E402  (fuzz/seeds.py: the repository's IDLs, log lines and transactions)
from helpers import same  # noqa: E402  (values of identical types, floats bit for bit)
from varkel_support import Sampler  # noqa: E402  (the tests' independent Borsh encoder)

try:
    import pyarrow
    from columnar.arrow_values import rows_as_values
except ImportError:  # no wheel for this interpreter: row counts only
    pyarrow = None

BIG_LINE = 10 * 1024 * 1024
SPACES = ["\t", "\n", "\x0b", "\x0c", "\r", " ", "\x85", "\xa0", "\u1680", "\u2000", "\u200a", "\u2028",
          "\u2029", "\u202f", "\u205f", "\u3000", "\x1c", "\u200b", "\ufeff"]
ODD_CHARS = ["\ud800", "\udfff", "\udc80", "\x00", "\u00e9", "\U0001f600", "\\", '"', "{", "}", "[", "]",
             ",", ":", "-", "0", "e", "\u2028"]
HOSTILE_U32 = [0, 1, 2, 255, 256, 65535, 1 << 20, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF]
HOSTILE_NUMBERS = [0, -1, 1, 255, 256, 2**31, 2**32, 2**32 + 1, 2**53 + 1, 2**63, 2**64 - 1, 2**64,
                   10**30, -(2**63), 1.5, 1e308, -0.0, "8", None, True]


def discriminator(name: str) -> bytes:
    return hashlib.sha256(f"event:{name}".encode()).digest()[:8]


def event_discriminators(doc) -> list[bytes]:
    """The 8-byte discriminators a document declares (explicit, else hashed)."""
    out = []
    events = doc.get("events") if isinstance(doc, dict) else None
    for event in events if isinstance(events, list) else []:
        if not isinstance(event, dict):
            continue
        disc = event.get("discriminator")
        if isinstance(disc, list) and len(disc) == 8 and all(isinstance(b, int) and 0 <= b < 256 for b in disc):
            out.append(bytes(disc))
        elif isinstance(event.get("name"), str):
            out.append(discriminator(event["name"]))
    return out


def data_line(payload: bytes, prefix: str = "Program data: ") -> str:
    return prefix + base64.b64encode(payload).decode()


def payload_of(line: str) -> bytes | None:
    for prefix in ("Program data: ", "Program log: "):
        if line.startswith(prefix):
            try:
                return base64.b64decode(line[len(prefix):], validate=True)
            except ValueError:
                return None
    return None


def key_bytes(text: str) -> bytes | None:
    try:
        raw = seeds.b58decode(text, None)
    except ValueError:
        return None
    return raw if len(raw) == 32 else None


def max_array_length(node) -> int:
    if isinstance(node, dict):
        own = node.get("array")
        length = own[1] if isinstance(own, list) and len(own) == 2 and isinstance(own[1], int) else 0
        return max([length] + [max_array_length(v) for v in node.values()])
    if isinstance(node, list):
        return max([0] + [max_array_length(v) for v in node])
    return 0


# ---------------------------------------------------------------------------
# The corpus: the same in the parent and in the worker, built only from files.


class Corpus:
    def __init__(self):
        self.idl_texts = []  # every IDL text of the repository (and fixtures)
        self.references = []  # (text, doc) of the IDLs the reference decoders use
        for path in seeds.idl_files():
            text = path.read_text()
            self.idl_texts.append(text)
            doc = json.loads(text)
            if path.parent != HERE / "data" and isinstance(doc, dict) and doc.get("events"):
                metadata = doc.get("metadata") if isinstance(doc.get("metadata"), dict) else {}
                if "spec" in metadata or isinstance(metadata.get("address"), str):  # legacy ones need it
                    self.references.append((text, doc))
        self.hostile = (REPO / "fuzz" / "data" / "hostile-idl.json").read_text()
        # Cases name reference decoders by index: a saved case replays only
        # against the same references (the fixtures present or not).
        self.fingerprint = hashlib.sha256("\0".join(text for text, _ in self.references).encode()).hexdigest()[:16]
        self.real_lines = seeds.log_lines()
        self.transactions = [json.dumps(tx) for tx in seeds.transactions()]
        # References with a program address, one per address (a set of
        # decoders holds each program once).
        self.tx_refs, self.address = [], {}
        for ref, (_, doc) in enumerate(self.references):
            address = doc.get("address") or (doc.get("metadata") or {}).get("address")
            if isinstance(address, str) and address not in self.address.values() and key_bytes(address):
                self.address[ref] = address
                self.tx_refs.append(ref)
        # Generated events: (reference index, line, expected record) from the
        # independent encoder, for the current-format references.
        self.generated = []
        rng = random.Random("corpus")
        for ref, (_, doc) in enumerate(self.references):
            if not isinstance(doc.get("metadata"), dict) or doc["metadata"].get("spec") != "0.1.0":
                continue
            if max_array_length(doc) > 4096:
                continue  # sampled values would be huge
            sampler = Sampler(doc.get("types", []), rng=rng)
            for event in doc["events"][:24]:
                for _ in range(2):
                    try:
                        value, data = sampler.sample_defined(event["name"], 0)
                    except (RecursionError, ValueError, KeyError, TypeError, AssertionError):
                        break
                    line = data_line(bytes(event["discriminator"]) + data)
                    self.generated.append((ref, line, (event["name"], value)))


# ---------------------------------------------------------------------------
# Mutations.


def mutate_text(rng: random.Random, text: str) -> str:
    for _ in range(rng.choice([1, 1, 2, 3, 8])):
        at = rng.randrange(len(text) + 1)
        op = rng.randrange(7)
        if op == 0 and text:
            text = text[:at] + text[at + 1:]
        elif op == 1:
            text = text[:at] + rng.choice(ODD_CHARS) + text[at:]
        elif op == 2 and text:
            end = min(len(text), at + rng.randrange(1, 200))
            text = text[:at] + text[at:end] * rng.randrange(2, 5) + text[end:]
        elif op == 3:
            text = text[:at]
        elif op == 4 and at < len(text):
            text = text[:at] + chr(rng.randrange(0x20, 0x7F)) + text[at + 1:]
        elif op == 5:
            opener = rng.choice(['{"vec":', '{"option":', "[", '{"a":'])
            closer = {"[": "]"}.get(opener, "}")
            depth = rng.choice([50, 126, 127, 128, 129, 300])
            text = text[:at] + opener * depth + '"u8"' + closer * depth + text[at:]
        else:
            text = text[:at] + rng.choice(SPACES) + text[at:]
    return text


def mutate_tree(rng: random.Random, node, depth=0):
    """A copy of a JSON tree with a few random edits."""
    if isinstance(node, dict):
        out = {}
        for key, value in node.items():
            roll = rng.random()
            if roll < 0.02:
                continue  # drop the member
            if roll < 0.04:
                out[key + rng.choice(["", "_", "\u00e9", "\ud800"])] = value
                continue
            out[key] = mutate_tree(rng, value, depth + 1) if rng.random() < 0.5 else value
        if rng.random() < 0.03:
            out[rng.choice(["kind", "type", "fields", "generics", "discriminator", "defined", "array"])] = \
                rng.choice(HOSTILE_NUMBERS + [[], {}, "struct", "enum", "u8"])
        return out
    if isinstance(node, list):
        out = [mutate_tree(rng, v, depth + 1) if rng.random() < 0.3 else v for v in node]
        if out and rng.random() < 0.05:
            out.append(out[rng.randrange(len(out))])
        if out and rng.random() < 0.05:
            del out[rng.randrange(len(out))]
        if out and rng.random() < 0.03:
            rng.shuffle(out)
        return out
    if rng.random() < 0.2:
        return rng.choice(HOSTILE_NUMBERS + ["", "u8", "pubkey", "Self", "\ud800", node])
    if isinstance(node, str) and rng.random() < 0.2:
        return rng.choice([node.upper(), node + node, node[:1], {"defined": {"name": node}},
                           {"vec": node}, {"array": [node, rng.choice(HOSTILE_NUMBERS)]}])
    return node


def dumps(doc, rng: random.Random) -> str:
    text = json.dumps(doc, ensure_ascii=rng.random() < 0.5, indent=rng.choice([None, 1]))
    return text


def mutate_payload(rng: random.Random, payload: bytes) -> bytes:
    data = bytearray(payload)
    for _ in range(rng.choice([1, 1, 2, 4])):
        at = rng.randrange(8, len(data) + 1) if len(data) > 8 else len(data)
        op = rng.randrange(6)
        if op == 0 and at < len(data):
            data[at] ^= 1 << rng.randrange(8)
        elif op == 1:
            data[at:at + 4] = rng.choice(HOSTILE_U32).to_bytes(4, "little")
        elif op == 2:
            del data[at:]
        elif op == 3:
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 16)))
        elif op == 4 and at < len(data):
            data[at] = rng.choice([0, 1, 2, 0x7F, 0x80, 0xFF])
        else:
            data[at:at] = b"\x01" * rng.randrange(1, 600)  # option tags, counts: deep nesting
    return bytes(data)


def mutate_line(rng: random.Random, line: str) -> str:
    payload = payload_of(line)
    op = rng.randrange(8)
    if op <= 2 and payload is not None and len(payload) >= 8:
        return line[:line.index(": ") + 2] + base64.b64encode(mutate_payload(rng, payload)).decode()
    if op == 3:
        return mutate_text(rng, line)
    if op == 4:
        at = rng.randrange(len(line) + 1)
        return line[:at] + rng.choice(["\ud800", "\udfff", "\udc00x"]) + line[at:]
    if op == 5:
        return rng.choice(SPACES) * rng.randrange(1, 4) + line if rng.random() < 0.3 else \
            line + "".join(rng.choice(SPACES) for _ in range(rng.randrange(1, 4)))
    if op == 6:
        prefix = rng.choice(["Program data: ", "Program log: ", "Program data:", "Program  data: ", "program data: ",
                             "Program data: Program data: "])
        rest = line.split(": ", 1)[1] if ": " in line else line
        return prefix + rest
    at = rng.randrange(len(line) + 1)
    return line[:at] + line[at:at + 1] * rng.randrange(1, 5) + line[at + 1:]


def big_line(rng: random.Random, line: str) -> tuple[str, str | None]:
    """A line of about 10 MB, and the line whose result it must give (None:
    its own one-line result decides)."""
    payload = payload_of(line)
    kind = rng.randrange(3)
    if kind == 0 and payload is not None and len(payload) >= 8:
        # Trailing bytes after an event are ignored: same result as the line.
        extra = (BIG_LINE * 3 // 4) // 3 * 3
        padded = payload + bytes(rng.randrange(256) for _ in range(64)) * (extra // 64)
        prefix = line[:line.index(": ") + 2]
        return prefix + base64.b64encode(padded).decode(), line
    if kind == 1:
        return "Program data: " + "A" * (BIG_LINE // 4 * 4), None
    return "Program log: " + "x" * BIG_LINE, None


# ---------------------------------------------------------------------------
# Cases: plain data, built from (seed, index) and the corpus.


def make_case(corpus: Corpus, seed: int, index: int) -> dict:
    rng = random.Random(f"{seed}:{index}")
    kind = rng.choices(["idl", "lines", "hostile", "sequence", "threads", "tx", "arrow"],
                       weights=[20, 27, 10, 6, 5, 20, 12])[0]
    return globals()[f"make_{kind}"](corpus, rng) | {"kind": kind, "seed": seed, "index": index}


def pick_lines(corpus: Corpus, rng: random.Random, ref: int, count: int) -> list[dict]:
    """Lines for reference decoder `ref`: {"line", "expect"} where expect is
    the generated record or None (the clean line's own result decides)."""
    mine = [(line, record) for r, line, record in corpus.generated if r == ref]
    out = []
    for _ in range(count):
        if mine and rng.random() < 0.4:
            line, record = rng.choice(mine)
            out.append({"line": line, "expect": [list(record)]})
        else:
            out.append({"line": rng.choice(corpus.real_lines), "expect": None})
    return out


def make_lines(corpus: Corpus, rng: random.Random) -> dict:
    ref = rng.randrange(len(corpus.references))
    items = pick_lines(corpus, rng, ref, rng.choice([1, 2, 5, 20, 60]))
    for item in items:
        item["clean"] = item["line"]
        if rng.random() < 0.35:
            item["line"] = mutate_line(rng, item["line"])
    if rng.random() < 0.01:
        at = rng.randrange(len(items))
        items[at]["line"], items[at]["same_as"] = big_line(rng, items[at]["clean"])
    return {"ref": ref, "items": items}


def make_idl(corpus: Corpus, rng: random.Random) -> dict:
    text = rng.choice(corpus.idl_texts + [corpus.hostile] * 3)
    if rng.random() < 0.5:
        text = dumps(mutate_tree(rng, json.loads(text)), rng)
    if rng.random() < 0.6:
        text = mutate_text(rng, text)
    return {"idl": text, "payloads": [
        rng.choice([b"", b"\0" * 8, bytes(rng.randrange(256) for _ in range(rng.randrange(64))),
                    b"\x01" * 300, b"\xff" * 40]).hex() for _ in range(6)]}


def make_hostile(corpus: Corpus, rng: random.Random) -> dict:
    doc = json.loads(corpus.hostile)
    names = [e["name"] for e in doc["events"]]
    lines = []
    for _ in range(rng.randrange(1, 12)):
        disc = bytes(rng.choice(doc["events"])["discriminator"])
        parts = []
        for _ in range(rng.randrange(0, 40)):
            parts.append(rng.choice([
                rng.choice(HOSTILE_U32).to_bytes(4, "little"),
                b"\x01" * rng.randrange(1, 2000),
                bytes([rng.randrange(256)]),
                b"\x00" * rng.randrange(1, 64),
                bytes(rng.randrange(256) for _ in range(rng.randrange(1, 48))),
            ]))
        lines.append(data_line(disc + b"".join(parts)))
    # A chain of Node values: decoded exactly, or skipped once too deep.
    depth = rng.choice([1, 2, 10, 50, 100, 127, 128, 200, 255, 256, 1000, 5000])
    return {"lines": lines, "names": names, "node_depth": depth}


def make_sequence(corpus: Corpus, rng: random.Random) -> dict:
    ref = rng.randrange(len(corpus.references))
    items = [item["line"] for item in pick_lines(corpus, rng, ref, rng.choice([0, 1, 3, 50, 3000]))]
    length = rng.choice([10**15, 2**62, sys.maxsize, sys.maxsize + 1, 10**30, -1, -(10**15), 0, "raise",
                         "type", len(items), len(items) + 1, max(len(items) - 1, 0)])
    return {"ref": ref, "items": items, "length": length, "by_index": rng.random() < 0.5}


def make_threads(corpus: Corpus, rng: random.Random) -> dict:
    ref = rng.randrange(len(corpus.references))
    items = [item["line"] for item in pick_lines(corpus, rng, ref, rng.choice([20, 100, 400]))]
    return {"ref": ref, "items": items, "readers": rng.choice([2, 4, 8]), "rounds": rng.choice([3, 10, 30]),
            "mutator_seed": rng.randrange(2**32)}


def make_arrow(corpus: Corpus, rng: random.Random) -> dict:
    ref = rng.randrange(len(corpus.references))
    items = pick_lines(corpus, rng, ref, rng.choice([1, 5, 20, 60, 200]))
    for item in items:
        if rng.random() < 0.3:
            item["line"] = mutate_line(rng, item["line"])
    return {"ref": ref, "lines": [item["line"] for item in items]}


HEIGHTS = [None, 0, 1, 2, 3, 4, 5, 64, 65, 255, 2**32, -1, "2", 1.0, True]


def mutate_base58(rng: random.Random, text: str) -> str:
    try:
        raw = bytearray(seeds.b58decode(text, None))
    except ValueError:
        return text
    op = rng.randrange(4)
    if op == 0 and raw:
        raw[rng.randrange(len(raw))] ^= 1 << rng.randrange(8)
    elif op == 1:
        del raw[rng.randrange(len(raw) + 1):]
    elif op == 2:
        raw += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40)))
    else:
        return text[:rng.randrange(len(text) + 1)] + rng.choice(["0", "O", "I", "l", " ", "\u00e9", ""])
    return seeds.b58encode(bytes(raw))


def mutate_tx(rng: random.Random, tx: dict) -> dict:
    """A few edits of the kinds a node, a relay or an attacker could make."""
    meta = tx.get("meta") if isinstance(tx.get("meta"), dict) else {}
    logs = meta.get("logMessages")
    inner = meta.get("innerInstructions")
    message = tx["transaction"].get("message", {}) if isinstance(tx.get("transaction"), dict) else {}
    instructions = message.get("instructions") if isinstance(message.get("instructions"), list) else []
    for _ in range(rng.choice([1, 1, 2, 3, 6])):
        op = rng.randrange(16)
        if op <= 4 and isinstance(logs, list) and logs:
            at = rng.randrange(len(logs))
            if op == 0:
                del logs[at]
            elif op == 1:
                logs.insert(at, logs[rng.randrange(len(logs))])
            elif op == 2:
                other = rng.randrange(len(logs))
                logs[at], logs[other] = logs[other], logs[at]
            elif op == 3 and isinstance(logs[at], str):
                logs[at] = mutate_line(rng, logs[at])
            else:
                logs.insert(at, rng.choice(["Log truncated", "Program log: invoke [1]", "Program data: ",
                                            f"Program {seeds.b58encode(bytes(32))} invoke [{rng.randrange(1, 6)}]",
                                            f"Program {seeds.b58encode(bytes(32))} success"]))
        elif op == 5 and isinstance(logs, list):
            meta["logMessages"] = rng.choice([None, logs[:rng.randrange(len(logs) + 1)], [], "Program data: AA=="])
            logs = meta["logMessages"]
        elif op <= 9 and isinstance(inner, list) and inner:
            group = rng.choice(inner)
            items = group.get("instructions") if isinstance(group, dict) else None
            if not isinstance(items, list) or not items:
                continue
            ins = rng.choice(items)
            if op == 6:
                items.remove(ins) if rng.random() < 0.5 else items.insert(rng.randrange(len(items) + 1), ins)
            elif op == 7 and isinstance(ins, dict):
                ins["stackHeight"] = rng.choice(HEIGHTS)
            elif op == 8 and isinstance(ins, dict) and isinstance(ins.get("data"), str):
                ins["data"] = mutate_base58(rng, ins["data"])
            elif isinstance(group, dict):
                group["index"] = rng.choice([0, 1, len(instructions), len(instructions) + 1, -1, "1", 2**40])
        elif op == 10 and isinstance(meta, dict):
            meta["innerInstructions"] = rng.choice([None, [], inner[:1] if isinstance(inner, list) else None])
            inner = meta["innerInstructions"]
        elif op == 11 and instructions:
            ins = rng.choice(instructions)
            if isinstance(ins, dict) and "programIdIndex" in ins:
                ins["programIdIndex"] = rng.choice([0, 1, 255, 256, -1, len(message.get("accountKeys", [])), "3"])
        elif op == 12 and isinstance(meta, dict):
            meta["err"] = rng.choice([None, {"InstructionError": [0, "Custom"]}, "x", 0])
        elif op == 13:
            tx["version"] = rng.choice(["legacy", 0, 1, None, "0"])
        elif op == 14 and isinstance(message.get("accountKeys"), list) and len(message["accountKeys"]) > 1:
            keys = message["accountKeys"]
            a, b = rng.randrange(len(keys)), rng.randrange(len(keys))
            keys[a], keys[b] = keys[b], keys[a]
        else:
            tx = mutate_tree(rng, tx)
            meta = tx.get("meta") if isinstance(tx.get("meta"), dict) else {}
            logs, inner = meta.get("logMessages"), meta.get("innerInstructions")
    return tx


def has_surrogate(node) -> bool:
    if isinstance(node, str):
        return any("\ud800" <= c <= "\udfff" for c in node)
    if isinstance(node, dict):
        return any(has_surrogate(k) or has_surrogate(v) for k, v in node.items())
    if isinstance(node, list):
        return any(has_surrogate(v) for v in node)
    return False


def make_tx(corpus: Corpus, rng: random.Random) -> dict:
    original = rng.choice(corpus.transactions)
    tx = json.loads(original)
    if rng.random() < 0.8:
        tx = mutate_tx(rng, tx)
    roll = rng.random()
    if roll < 0.15 and isinstance(tx.get("transaction"), dict):
        wire = seeds.wire_of(tx)
        if wire is not None:
            if rng.random() < 0.3:
                wire = bytearray(wire)
                for _ in range(rng.randrange(1, 4)):
                    wire[rng.randrange(len(wire))] = rng.randrange(256)
            form = rng.choice(["base64", "base58", "bare"])
            tx["transaction"] = (base64.b64encode(wire).decode() if form == "base64" else seeds.b58encode(wire))
            if form != "bare":
                tx["transaction"] = [tx["transaction"], form]
    if rng.random() < 0.3:
        tx = {"jsonrpc": "2.0", "result": tx, "id": rng.randrange(100)}
    text = json.dumps(tx, ensure_ascii=rng.random() < 0.5)
    mutated = rng.random() < 0.15
    if mutated:
        text = mutate_text(rng, text)
    count = rng.choice([1, 1, 2, 3, len(corpus.tx_refs)])
    refs = rng.sample(corpus.tx_refs, min(count, len(corpus.tx_refs)))
    # Mostly with the decoders of programs that the transaction names.
    named = [ref for ref in corpus.tx_refs if corpus.address[ref] in original]
    if named and rng.random() < 0.7:
        refs = list(dict.fromkeys(rng.sample(named, rng.randrange(1, len(named) + 1)) + refs[:rng.randrange(2)]))
    return {"tx": None if mutated else tx, "text": text, "refs": refs}


# ---------------------------------------------------------------------------
# Running and checking.


class Runner:
    def __init__(self, corpus: Corpus):
        from varkel import EventDecoder

        self.EventDecoder = EventDecoder
        self.corpus = corpus
        self.decoders = [EventDecoder(text) for text, _ in corpus.references]
        self.hostile = EventDecoder(corpus.hostile)
        self.clean: list[dict] = [dict() for _ in self.decoders]  # one-line results of clean lines

    def reference(self, ref: int, line: str):
        cache = self.clean[ref]
        if line not in cache:
            cache[line] = self.decoders[ref].parse_logs([line])
        return cache[line]

    def run(self, case: dict) -> None:
        getattr(self, f"run_{case['kind']}")(case)

    # -- checks shared by the kinds --

    @staticmethod
    def one_line(decoder, line):
        """The one-line outcome: ("ok", records) or ("error", exception type)."""
        try:
            return "ok", decoder.parse_logs([line])
        except UnicodeEncodeError:
            return "error", UnicodeEncodeError

    def check_batch(self, decoder, lines):
        """The batch equals the concatenation of its one-line results, or
        raises UnicodeEncodeError exactly when one of its lines does."""
        singles = [self.one_line(decoder, line) for line in lines]
        failing = any(kind == "error" for kind, _ in singles)
        try:
            batch = decoder.parse_logs(lines)
        except UnicodeEncodeError:
            assert failing, "the batch raised UnicodeEncodeError but no line alone does"
            return singles
        assert not failing, "a line raises alone but the batch did not"
        joined = [record for _, records in singles for record in records]
        assert same_records(batch, joined), f"batch {short(batch)} != lines {short(joined)}"
        return singles

    # -- kinds --

    def run_lines(self, case):
        decoder = self.decoders[case["ref"]]
        lines = [item["line"] for item in case["items"]]
        singles = self.check_batch(decoder, lines)
        for item, (kind, records) in zip(case["items"], singles):
            if item["line"] == item["clean"] and kind == "ok":
                if item["expect"] is not None:
                    expected = [tuple(record) for record in item["expect"]]
                    assert same_records(records, expected), f"{item['line'][:80]!r}: {short(records)} != {short(expected)}"
                assert same_records(records, self.reference(case["ref"], item["line"])), item["line"][:80]
            if item.get("same_as") is not None:
                # Padding completes a truncated payload as readily as it
                # follows a whole one: only a line that gives its event
                # alone fixes the padded line's result.
                alone = self.reference(case["ref"], item["same_as"])
                assert kind == "ok" and (not alone or same_records(records, alone)), \
                    "a 10 MB line with trailing bytes differs from its event line"

    def run_idl(self, case):
        try:
            decoder = self.EventDecoder(case["idl"])
        except ValueError:  # UnicodeEncodeError included
            return
        names = decoder.event_names
        assert isinstance(names, list) and all(type(n) is str for n in names)
        try:
            doc = json.loads(case["idl"])
        except ValueError:
            doc = None
        lines = [data_line(disc + bytes.fromhex(p)) for disc in event_discriminators(doc)[:8]
                 for p in case["payloads"]]
        for kind, records in self.check_batch(decoder, lines + ["Program data: ", "noise"]):
            assert kind == "ok" and all(name in names for name, _ in records)

    def run_hostile(self, case):
        decoder = self.hostile
        for kind, records in self.check_batch(decoder, case["lines"]):
            assert kind == "ok" and all(name in case["names"] for name, _ in records)
        depth = case["node_depth"]
        disc = bytes(next(e for e in json.loads(self.corpus.hostile)["events"] if e["name"] == "Node")["discriminator"])
        payload = b"".join(bytes([i % 256, 1]) for i in range(depth - 1)) + bytes([(depth - 1) % 256, 0])
        records = decoder.parse_logs([data_line(disc + payload)])
        if records:
            node, count = records[0][1], 0
            while node is not None:
                assert node["value"] == count % 256
                node, count = node["next"], count + 1
            assert count == depth
        else:
            assert depth > 100, f"a chain of {depth} nodes was skipped"

    def run_sequence(self, case):
        decoder = self.decoders[case["ref"]]
        items, length = case["items"], case["length"]

        class Lying:
            def __len__(self):
                if length == "raise":
                    raise RuntimeError("no length")
                if length == "type":
                    return "many"
                return length

            def __getitem__(self, index):
                return items[index]

        class LyingList(list):
            def __len__(self):
                return Lying.__len__(self)

        logs = Lying() if case["by_index"] else LyingList(items)
        expected = decoder.parse_logs(list(items))
        try:
            got = decoder.parse_logs(logs)
        except (TypeError, ValueError, OverflowError) as error:
            # Only the iteration's own complaint may surface, never the size.
            raise AssertionError(f"__len__ {length!r} made parse_logs raise {error!r}")
        assert same_records(got, expected)

    @staticmethod
    def outcome(call):
        """("ok", events as lists) or ("error", "TypeError"/"ValueError");
        any other exception is a finding."""
        try:
            events = call()
        except (TypeError, ValueError) as error:
            return "error", type(error).__name__ if not isinstance(error, ValueError) else "ValueError"
        assert type(events) is list, type(events)
        return "ok", events

    @staticmethod
    def same_events(a, b) -> bool:
        return same([list(e) for e in a], [list(e) for e in b])

    def run_tx(self, case):
        import varkel

        decoders = [self.decoders[ref] for ref in case["refs"]]
        text = case["text"]
        forms = [text]
        try:
            forms.append(text.encode())
        except UnicodeEncodeError:
            pass
        if case["tx"] is not None:
            forms.insert(0, case["tx"])
        singles = []
        for decoder in decoders:
            outcomes = [self.outcome(lambda form=form: decoder.decode_transaction(form)) for form in forms]
            if case["tx"] is not None and not has_surrogate(case["tx"]):
                # One transaction however it arrives: the same events, or an error every way.
                # (A lone surrogate has no UTF-8 form: text holding one is refused
                # whole, where the dict reader refuses it only in what it reads.)
                kinds = {kind for kind, _ in outcomes}
                assert len(kinds) == 1, f"dict, text and bytes disagree: {[k for k, _ in outcomes]}"
                if kinds == {"ok"}:
                    for kind, events in outcomes[1:]:
                        assert self.same_events(events, outcomes[0][1]), \
                            f"text gives other events than the dict: {short(events)} != {short(outcomes[0][1])}"
            for kind, events in outcomes:
                if kind == "ok":
                    assert all(isinstance(e, varkel.Event) and e.program_id == decoder.program_id for e in events)
            singles.append(outcomes[0])  # the dict, when there is one
        if case["tx"] is None:
            return
        kind, events = self.outcome(lambda: varkel.decode_transaction(case["tx"], decoders))
        assert all(k == kind for k, _ in singles), "several decoders and one decoder disagree on the transaction"
        if kind != "ok":
            return
        for decoder, (_, alone) in zip(decoders, singles):
            mine = [e for e in events if e.program_id == decoder.program_id]
            assert self.same_events(mine, alone), f"{decoder.program_id}: {short(mine)} != {short(alone)}"
        assert len(events) == sum(len(alone) for _, alone in singles)
        # The logged events are those of the log lines alone.
        doc = case["tx"].get("result", case["tx"]) if "jsonrpc" in case["tx"] else case["tx"]
        lines = doc.get("meta", {}).get("logMessages") if isinstance(doc.get("meta"), dict) else None
        if not isinstance(lines, list) or not all(type(line) is str for line in lines):
            return
        lkind, logged = self.outcome(lambda: varkel.decode_logs(lines, decoders))
        assert lkind == "ok", f"decode_logs raised on the lines of a transaction that decodes: {logged}"
        assert [(e.name, e.program_id, e.depth, e.log_index) for e in events if e.source != "cpi"] == \
            [(e.name, e.program_id, e.depth, e.log_index) for e in logged], "logged events differ from the logs'"
        assert self.same_events([[e.data] for e in events if e.source != "cpi"], [[e.data] for e in logged])
        by_id = {d.program_id: d for d in decoders}
        for e in logged:
            assert e.source == "log"
            assert same_records(by_id[e.program_id].parse_logs([lines[e.log_index]]), [(e.name, e.data)])
        for decoder in decoders:
            assert self.same_events(decoder.decode_logs(lines), [e for e in logged if e.program_id == decoder.program_id])

    def run_arrow(self, case):
        decoder = self.decoders[case["ref"]]
        _, doc = self.corpus.references[case["ref"]]
        lines = case["lines"]
        try:
            records = decoder.parse_logs(lines)
        except UnicodeEncodeError:
            records = None
        try:
            tables = decoder.parse_logs_arrow(lines)
        except UnicodeEncodeError:
            assert records is None, "parse_logs_arrow raised where parse_logs did not"
            return
        assert records is not None, "parse_logs raised where parse_logs_arrow did not"
        assert set(tables) == set(decoder.event_names), f"{sorted(tables)} != {sorted(decoder.event_names)}"
        current = isinstance(doc.get("metadata"), dict) and "spec" in doc["metadata"]
        bodies = {t["name"]: t["type"] for t in doc.get("types", []) if isinstance(t, dict) and "name" in t}
        total = 0
        for name, table in tables.items():
            expected = [value for n, value in records if n == name]
            assert table.name == name and table.num_rows == len(table) == len(expected), \
                f"{name}: {table.num_rows} rows for {len(expected)} events"
            total += len(expected)
            if pyarrow is not None:
                arrow = pyarrow.table(table)
                arrow.validate(full=True)
                assert arrow.num_rows == len(expected)
                if current and name in bodies and bodies[name].get("kind") == "struct":
                    got = rows_as_values(bodies[name].get("fields"), arrow.to_pylist(), bodies)
                    assert got == expected, f"{name}: {short(got)} != {short(expected)}"
        assert total == len(records)

    def run_threads(self, case):
        decoder = self.decoders[case["ref"]]
        items = case["items"]
        stable = list(items)
        expected = decoder.parse_logs(stable)
        allowed = {repr(r) for line in items for r in self.reference(case["ref"], line)}
        shared = list(items)
        stop = threading.Event()
        errors = []
        barrier = threading.Barrier(case["readers"] + 1)

        def mutate():
            rng = random.Random(case["mutator_seed"])
            barrier.wait()
            while not stop.is_set():
                op = rng.randrange(6)
                try:
                    if op == 0:
                        shared.append(rng.choice(items))
                    elif op == 1 and shared:
                        shared.pop(rng.randrange(len(shared)))
                    elif op == 2 and shared:
                        shared[rng.randrange(len(shared))] = rng.choice(items)
                    elif op == 3:
                        shared[:] = items[: rng.randrange(len(items) + 1)]
                    elif op == 4:
                        shared.reverse()
                    else:
                        shared.extend(items[:8])
                except IndexError:
                    pass  # raced with another change: fine

        def read(index):
            try:
                barrier.wait()
                for round_ in range(case["rounds"]):
                    if (round_ + index) % 2 == 0:
                        got = decoder.parse_logs(stable)
                        assert same_records(got, expected), "a stable list gave another result under threads"
                    else:
                        got = decoder.parse_logs(shared)
                        unknown = [r for r in got if repr(r) not in allowed]
                        assert not unknown, f"records of no line in the list: {short(unknown)}"
            except BaseException as error:  # noqa: BLE001 - reported below
                errors.append(error)

        mutator = threading.Thread(target=mutate)
        readers = [threading.Thread(target=read, args=(i,)) for i in range(case["readers"])]
        mutator.start()
        for thread in readers:
            thread.start()
        for thread in readers:
            thread.join()
        stop.set()
        mutator.join()
        if errors:
            raise errors[0]


def to_json(case: dict) -> str:
    """The case as JSON; bytes values (in expected records) as {"$bytes": hex}."""
    return json.dumps(case, default=lambda v: {"$bytes": v.hex()} if isinstance(v, bytes) else repr(v))


def from_json(text: str) -> dict:
    return json.loads(text, object_hook=lambda d: bytes.fromhex(d["$bytes"]) if set(d) == {"$bytes"} else d)


def same_records(a, b) -> bool:
    return (type(a) is list and len(a) == len(b) and
            all(type(x) is tuple and len(x) == 2 and x[0] == y[0] and same(x[1], y[1]) for x, y in zip(a, b)))


def short(value) -> str:
    text = repr(value)
    return text if len(text) < 300 else text[:300] + "..."


# ---------------------------------------------------------------------------
# Worker and parent.


def worker(args) -> int:
    corpus = Corpus()
    runner = Runner(corpus)
    progress = os.open(args.progress, os.O_WRONLY | os.O_CREAT, 0o644)
    deadline = time.monotonic() + args.seconds
    counts: dict[str, int] = {}
    index = args.start
    while time.monotonic() < deadline:
        os.pwrite(progress, f"{index:020d}\n".encode(), 0)
        case = make_case(corpus, args.seed, index)
        runner.run(case)
        counts[case["kind"]] = counts.get(case["kind"], 0) + 1
        index += 1
    print(json.dumps({"cases": index - args.start, "kinds": counts}), flush=True)
    return 0


def parent(args) -> int:
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "little")
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    progress = out / f".progress-{seed}-{os.getpid()}"
    progress.write_text(f"{0:020d}\n")
    command = [sys.executable, __file__, "--worker", "--seed", str(seed), "--seconds", str(args.seconds),
               "--progress", str(progress), "--start", "0"]
    print(f"python_fuzz: seed {seed}, {args.seconds:g} s", file=sys.stderr, flush=True)
    started = time.monotonic()
    try:
        # A case that hangs (or a deadlock) counts as a finding too.
        done = subprocess.run(command, stdout=subprocess.PIPE, text=True, timeout=args.seconds + 300)
        status, output = done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        status, output = "hang", expired.stdout or ""
    elapsed = time.monotonic() - started
    index = int(progress.read_text().strip() or 0)
    progress.unlink()
    if status == 0:
        summary = json.loads(output.strip().splitlines()[-1])
        print(f"python_fuzz: {summary['cases']} cases in {elapsed:.0f} s "
              f"({summary['cases'] / max(elapsed, 1e-9):.0f}/s): {summary['kinds']}; no findings", file=sys.stderr)
        return 0
    corpus = Corpus()
    case = make_case(corpus, seed, index) | {"corpus": corpus.fingerprint}
    path = out / f"case-{seed}-{index}.json"
    path.write_text(to_json(case))
    print(f"python_fuzz: FINDING: case {index} of seed {seed} ({case['kind']}) ended the worker with "
          f"status {status}; its inputs are in {path}\n"
          f"  replay: python fuzz/python_fuzz.py --replay {path}", file=sys.stderr)
    return 1


def replay(path: str) -> int:
    case = from_json(Path(path).read_text())
    corpus = Corpus()
    if case.get("corpus", corpus.fingerprint) != corpus.fingerprint:
        print(f"python_fuzz: {path} was made against other reference IDLs (are the fixtures present?)",
              file=sys.stderr)
        return 2
    Runner(corpus).run(case)
    print(f"python_fuzz: case {case['index']} of seed {case['seed']} ({case['kind']}) ran clean", file=sys.stderr)
    return 0


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--out", default=str(REPO / "fuzz-findings" / "python"))
    parser.add_argument("--replay")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--progress", help=argparse.SUPPRESS)
    parser.add_argument("--start", type=int, default=0, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.replay:
        return replay(args.replay)
    if args.worker:
        return worker(args)
    return parent(args)


if __name__ == "__main__":
    sys.exit(main())
