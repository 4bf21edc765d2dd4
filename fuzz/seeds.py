"""Seed corpora of the fuzz targets, built from the repository's data.

    python3 fuzz/seeds.py OUT_DIR [TARGET ...]

writes OUT_DIR/<target>/<hash> for every target named in SEEDS (all of them
by default). Sources: tests/data, examples/, fuzz/data, and the shared
fixtures when present ($VARKEL_FIXTURES, else ../shared/fixtures beside the
repository; never required). Saved inputs of fixed findings under
fuzz/regressions/<target>/ are seeds too, so every fuzz run replays them.

A new target adds one entry to SEEDS: its name and a function yielding bytes.
"""

import base64
import hashlib
import json
import os
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "support"))
from varkel_support import b58decode, b58encode, wire_from_json  # noqa: E402  (the tests' base58 and wire encoder)

MAX_SEED = 64 * 1024  # the fuzz runs' -max_len
MAX_LINES = 3000


def fixtures() -> Path | None:
    path = Path(os.environ.get("VARKEL_FIXTURES", REPO.parent / "shared" / "fixtures"))
    return path if path.is_dir() else None


def files(*patterns: str) -> list[Path]:
    found = []
    roots = [REPO] + ([fixtures()] if fixtures() else [])
    for root in roots:
        for pattern in patterns:
            found.extend(sorted(root.glob(pattern)))
    return [p for p in found if p.is_file()]


def idl_files() -> list[Path]:
    return files("tests/data/idl/**/*.json", "examples/*/idl.json", "fuzz/data/*.json", "idl/*/*.json")


def log_lines() -> list[str]:
    """Distinct log lines of the example logs and of the fixture logs."""
    lines: dict[str, None] = {}
    for path in files("examples/*/*.log", "logs/*.txt"):
        for line in path.read_text(errors="replace").splitlines():
            lines.setdefault(line)
    for path in files("logs/*.json"):
        for found in _string_lists(json.loads(path.read_text())):
            for line in found:
                lines.setdefault(line)
    return list(lines)[:MAX_LINES]


def _string_lists(node):
    if isinstance(node, dict):
        for value in node.values():
            yield from _string_lists(value)
    elif isinstance(node, list):
        if node and all(isinstance(x, str) for x in node) and any(x.startswith("Program ") for x in node):
            yield node
        else:
            for value in node:
                yield from _string_lists(value)


def _defined_names(node, out: set[str]) -> None:
    """Names of the defined types a JSON fragment refers to (both formats)."""
    if isinstance(node, dict):
        for key, value in node.items():
            if key == "defined":
                if isinstance(value, str):
                    out.add(value)
                elif isinstance(value, dict) and isinstance(value.get("name"), str):
                    out.add(value["name"])
            _defined_names(value, out)
    elif isinstance(node, list):
        for value in node:
            _defined_names(value, out)


def _reachable_types(doc: dict, roots: set[str]) -> list:
    types = [t for t in doc.get("types", []) if isinstance(t, dict)]
    by_name = {t.get("name"): t for t in types}
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        if name in seen or name not in by_name:
            continue
        seen.add(name)
        refs: set[str] = set()
        _defined_names(by_name[name], refs)
        todo.extend(refs)
    return [t for t in types if t.get("name") in seen]


def idl_slices(doc: dict):
    """Small valid documents cut from a big one: each event with the types it
    reaches, and the first instructions with theirs."""
    base = {k: v for k, v in doc.items() if k not in ("events", "types", "instructions", "accounts", "errors")}
    for event in doc.get("events", [])[:12]:
        refs = {event.get("name")} if isinstance(event, dict) else set()
        _defined_names(event, refs)
        yield {**base, "instructions": [], "events": [event], "types": _reachable_types(doc, refs)}
    instructions = doc.get("instructions", [])[:2]
    refs: set[str] = set()
    _defined_names(instructions, refs)
    yield {**base, "instructions": instructions, "types": _reachable_types(doc, refs)}


def json_seeds():
    for path in idl_files() + files("logs/*.json"):
        text = path.read_bytes()
        if len(text) <= MAX_SEED:
            yield text
    for path in files("json-test-suite/test_parsing/*.json"):
        yield path.read_bytes()
    yield from idl_seeds()


def idl_seeds():
    for path in idl_files():
        text = path.read_bytes()
        if len(text) <= MAX_SEED:
            yield text
        try:
            doc = json.loads(text)
        except ValueError:
            continue
        if isinstance(doc, dict):
            for piece in idl_slices(doc):
                yield json.dumps(piece, separators=(",", ":")).encode()


def line_seeds():
    for line in log_lines():
        yield line.encode("utf-8", "surrogatepass")


# The registries of the decode target, in its order (fuzz/data/decode-idls.txt).
DECODE_IDLS = [line.strip() for line in (REPO / "fuzz/data/decode-idls.txt").read_text().splitlines()
               if line.strip() and not line.startswith("#")]


def logged_payloads() -> list[bytes]:
    """The payloads of the example logs' data and log lines (base64 ones)."""
    payloads = []
    for line in log_lines():
        for prefix in ("Program data: ", "Program log: "):
            if line.startswith(prefix):
                try:
                    payloads.append(base64.b64decode(line[len(prefix):].strip(), validate=True))
                except ValueError:
                    pass
    return payloads


def decode_seeds():
    count = len(DECODE_IDLS)
    # Mode 0: the payloads of the example logs, against every registry.
    payloads = logged_payloads()
    for registry in range(count):
        for payload in payloads[:200]:
            if len(payload) >= 8:
                yield bytes([registry]) + payload
    # Modes 1 and 2: events and types by position, over a few data patterns.
    patterns = [b"\x00" * 64, b"\x01\x02\x00\x00\x00" * 16, bytes(range(256))]
    for registry in range(count):
        for mode in (1, 2):
            for index in range(16):
                for pattern in patterns:
                    yield bytes([registry + mode * count, index]) + pattern


def log_lists() -> list[list[str]]:
    """Every list of log lines: the example logs (in pieces) and the lists in
    the fixtures' documents."""
    out = []
    for path in files("examples/*/*.log", "logs/*.txt"):
        lines = path.read_text(errors="replace").splitlines()
        out.extend(lines[at:at + 60] for at in range(0, len(lines), 60))
    for path in files("logs/*.json", "examples/*/transactions.jsonl"):
        for doc in _documents(path):
            out.extend(_string_lists(doc))
    return out


def _documents(path: Path) -> list:
    text = path.read_text()
    if path.suffix == ".jsonl":
        return [json.loads(line) for line in text.splitlines() if line.strip()]
    return [json.loads(text)]


def transactions() -> list[dict]:
    """Every transaction of the examples and fixtures: the objects with
    "transaction" and "meta" (RPC envelopes and blocks opened)."""
    found = []

    def walk(node):
        if isinstance(node, dict):
            if "transaction" in node and "meta" in node:
                found.append(node)
                return
            for value in node.values():
                walk(value)
        elif isinstance(node, list):
            for value in node:
                walk(value)

    for path in files("examples/*/transactions.jsonl", "logs/*.json"):
        for doc in _documents(path):
            walk(doc)
    return found


def wire_of(tx: dict) -> bytes | None:
    """The wire bytes of a transaction in the "json" shape (None for others)."""
    try:
        return wire_from_json(tx)
    except (KeyError, TypeError, ValueError, AttributeError, AssertionError):
        return None


def logs_seeds():
    for lines in log_lists():
        yield "\n".join(lines).encode("utf-8", "surrogatepass")


def wire_seeds():
    for tx in transactions():
        wire = wire_of(tx)
        if wire is not None:
            yield wire
            yield b58encode(wire).encode()
        encoded = tx["transaction"]
        if isinstance(encoded, list) and len(encoded) == 2 and isinstance(encoded[0], str):
            try:
                yield base64.b64decode(encoded[0]) if encoded[1] == "base64" else b58decode(encoded[0], None)
            except ValueError:
                pass
    for key in ("6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P", "11111111111111111111111111111111"):
        yield key.encode()


def tx_seeds():
    for tx in transactions():
        yield json.dumps(tx, separators=(",", ":")).encode()
        yield json.dumps({"jsonrpc": "2.0", "result": tx, "id": 1}).encode()
        wire = wire_of(tx)
        if wire is not None:
            for encoding, text in (("base64", base64.b64encode(wire).decode()), ("base58", b58encode(wire))):
                yield json.dumps({**tx, "transaction": [text, encoding]}, separators=(",", ":")).encode()


# The IDLs of the columnar target, in its order: those of the decode target
# that declare events.
def columnar_seeds():
    registries = []
    for path in DECODE_IDLS:
        doc = json.loads((REPO / path).read_text())
        events = doc.get("events") or []
        if events:
            registries.append(events)
    payloads = logged_payloads()
    patterns = [b"\x00" * 64, b"\x01\x02\x00\x00\x00" * 16, bytes(range(256))]
    for selector, events in enumerate(registries):
        # Records: event byte, u16 length, data. The logged events of the
        # example logs against the IDL whose discriminator they carry.
        discs = [bytes(e["discriminator"]) if isinstance(e.get("discriminator"), list) else
                 hashlib.sha256(f"event:{e.get('name')}".encode()).digest()[:8] for e in events]
        records = b""
        for payload in payloads[:400]:
            if payload[:8] in discs:
                data = payload[8:]
                records += bytes([discs.index(payload[:8])]) + len(data).to_bytes(2, "little") + data
        if records:
            yield bytes([selector]) + records
        for index in range(min(len(events), 24)):
            yield bytes([selector]) + b"".join(bytes([index]) + len(p).to_bytes(2, "little") + p for p in patterns)


SEEDS = {
    "fuzz_json": json_seeds,
    "fuzz_idl": idl_seeds,
    "fuzz_payload": line_seeds,
    "fuzz_decode": decode_seeds,
    "fuzz_logs": logs_seeds,
    "fuzz_wire": wire_seeds,
    "fuzz_tx": tx_seeds,
    "fuzz_columnar": columnar_seeds,
}


def write(out: Path, target: str) -> int:
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    written = set()
    sources = [SEEDS[target]()] if target in SEEDS else []
    regressions = REPO / "fuzz" / "regressions" / target
    if regressions.is_dir():
        sources.append(p.read_bytes() for p in sorted(regressions.iterdir()) if p.is_file())
    for source in sources:
        for data in source:
            if len(data) > MAX_SEED:
                continue
            name = hashlib.sha1(data).hexdigest()
            if name not in written:
                (folder / name).write_bytes(data)
                written.add(name)
    return len(written)


def main(argv: list[str]) -> int:
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = Path(argv[0])
    for target in argv[1:] or sorted(SEEDS):
        print(f"seeds: {target}: {write(out, target)} inputs", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
