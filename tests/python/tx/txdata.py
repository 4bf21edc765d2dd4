"""Shared by the transaction tests: the real transactions of the fixtures with
their decoders, builders of the other encodings of a transaction (written
here, independently of the package), and small log-line builders.

- `wire_from_json(result)`: the wire bytes of a "json"-encoded transaction
  (from the test support module, shared with the fuzz seeds).
- `json_from_wire(result)`: a "json"-encoded transaction from a binary one.
- `json_parsed(result)`: the "jsonParsed" shape of a "json"-encoded one.
- `with_encoding(result, name)`: the same transaction in "json", "jsonParsed",
  "base64" or "base58".
"""

import base64
import copy
import json
from functools import partial

from helpers import REPO, fixture
from varkel_support import FIXTURES, b58encode, wire_from_json
from varkel_support import b58decode as _b58decode

from varkel import EventDecoder

b58decode = partial(_b58decode, size=None)  # texts of any length

EVENT_TAG = bytes.fromhex("e445a52e51cb9a1d")

PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"
PUMP_AMM = "pAMMBay6oceH9fJKBRHGP5D4bD4sWpmSwMn52FMfXEA"
OKX = "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma"
CLMM = "CAMMCzo5YL8w4VFF8KVHrK22GGUsp5VTaW7grrKgrWqK"
DRIFT = "dRiftyHA39MWEi3m9aunc5MzRF1JYuBsbn6VPcn33UH"


# --------------------------------------------------------------------------
# Decoders and fixtures.

IDLS = {
    "okx": ("current", "okx-dex_solana.json", None),
    "pump_amm": ("current", "pump-fun-pump_amm-2026-01-10.json", None),
    "clmm": ("current", "raydium-amm_v3-clmm.json", None),
    "pump_2025": ("current", "pump-fun-pump-2025-05-08.json", None),
    "pump_legacy": ("legacy", "pumpfun-legacy.json", PUMP),
    "drift": ("legacy", "drift-v2.json", DRIFT),
    "marginfi": ("current", "marginfi-v2.json", None),
}


# Copies that the repository bundles (examples/README.md), read when the
# shared fixtures are absent, so that the tests of those transactions run on
# a fresh clone and against an installed wheel too.
EXAMPLES = REPO / "examples"
BUNDLED_IDLS = {"okx": EXAMPLES / "okx-dex" / "idl.json", "pump_legacy": EXAMPLES / "pump-legacy" / "idl.json"}
BUNDLED_TRANSACTIONS = {  # line of examples/pump-legacy/transactions.jsonl
    "chainstack-pump-create-getTransaction-2024.json": 0,
    "chainstack-pump-buy-getTransaction-2024.json": 1,
}


def decoder(key: str) -> EventDecoder:
    """The decoder of an IDL fixture; legacy IDLs get their program's address."""
    kind, name, address = IDLS[key]
    path = FIXTURES / "idl" / kind / name
    if not path.exists() and key in BUNDLED_IDLS:
        path = BUNDLED_IDLS[key]
    doc = json.loads((path if path.exists() else fixture("idl", kind, name)).read_text())
    if address is not None:
        doc.setdefault("metadata", {})["address"] = address
    return EventDecoder(json.dumps(doc))


def load(name: str) -> dict:
    if not (FIXTURES / "logs" / name).exists() and name in BUNDLED_TRANSACTIONS:
        lines = (EXAMPLES / "pump-legacy" / "transactions.jsonl").read_text().splitlines()
        return json.loads(lines[BUNDLED_TRANSACTIONS[name]])
    return json.loads(fixture("logs", name).read_text())


def result_of(doc: dict) -> dict:
    """The transaction inside an RPC envelope (or the document itself)."""
    return doc["result"] if "jsonrpc" in doc else doc


# --------------------------------------------------------------------------
# Wire form.


class _Reader:
    def __init__(self, data: bytes):
        self.data, self.pos = data, 0

    def take(self, n: int) -> bytes:
        assert self.pos + n <= len(self.data)
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def compact(self) -> int:
        value = shift = 0
        while True:
            b = self.take(1)[0]
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value


def json_from_wire(result: dict) -> dict:
    """A "json"-encoded copy of a transaction given in a binary encoding."""
    text, encoding = result["transaction"]
    raw = base64.b64decode(text) if encoding == "base64" else b58decode(text)
    r = _Reader(raw)
    signatures = [b58encode(r.take(64)) for _ in range(r.compact())]
    first = r.take(1)[0]
    versioned = bool(first & 0x80)
    header = r.take(3) if versioned else bytes([first]) + r.take(2)
    keys = [b58encode(r.take(32)) for _ in range(r.compact())]
    blockhash = b58encode(r.take(32))
    instructions = []
    for _ in range(r.compact()):
        program = r.take(1)[0]
        accounts = list(r.take(r.compact()))
        data = r.take(r.compact())
        instructions.append({"programIdIndex": program, "accounts": accounts, "data": b58encode(data),
                             "stackHeight": None})
    message = {
        "header": {"numRequiredSignatures": header[0], "numReadonlySignedAccounts": header[1],
                   "numReadonlyUnsignedAccounts": header[2]},
        "accountKeys": keys, "recentBlockhash": blockhash, "instructions": instructions,
    }
    if versioned:
        lookups = []
        for _ in range(r.compact()):
            table = b58encode(r.take(32))
            writable = list(r.take(r.compact()))
            readonly = list(r.take(r.compact()))
            lookups.append({"accountKey": table, "writableIndexes": writable, "readonlyIndexes": readonly})
        message["addressTableLookups"] = lookups
    assert r.pos == len(raw)
    out = copy.deepcopy(result)
    out["transaction"] = {"signatures": signatures, "message": message}
    return out


# --------------------------------------------------------------------------
# "jsonParsed": keys as objects, programs by id, the node's own parsing of
# the programs it knows.

PARSED_PROGRAMS = {
    "11111111111111111111111111111111": "system",
    "TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA": "spl-token",
    "ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL": "spl-associated-token-account",
    "ComputeBudget111111111111111111111111111111": "compute-budget",
}


def _parsed_instruction(ins: dict, keys: list) -> dict:
    program = keys[ins["programIdIndex"]]
    accounts = [keys[a] for a in ins["accounts"]]
    if program in PARSED_PROGRAMS:
        return {"program": PARSED_PROGRAMS[program], "programId": program,
                "parsed": {"type": "something", "info": {"accounts": accounts}},
                "stackHeight": ins.get("stackHeight")}
    return {"accounts": accounts, "data": ins["data"], "programId": program, "stackHeight": ins.get("stackHeight")}


def json_parsed(result: dict) -> dict:
    out = copy.deepcopy(result)
    message = out["transaction"]["message"]
    loaded = out["meta"].pop("loadedAddresses", None) or {"writable": [], "readonly": []}
    keys = message["accountKeys"] + loaded["writable"] + loaded["readonly"]
    message["accountKeys"] = (
        [{"pubkey": k, "signer": i == 0, "writable": True, "source": "transaction"}
         for i, k in enumerate(message["accountKeys"])]
        + [{"pubkey": k, "signer": False, "writable": True, "source": "lookupTable"} for k in loaded["writable"]]
        + [{"pubkey": k, "signer": False, "writable": False, "source": "lookupTable"} for k in loaded["readonly"]]
    )
    message["instructions"] = [_parsed_instruction(i, keys) for i in message["instructions"]]
    for group in out["meta"].get("innerInstructions") or []:
        group["instructions"] = [_parsed_instruction(i, keys) for i in group["instructions"]]
    return out


def json_from_parsed(result: dict) -> dict:
    """A "json"-encoded copy of a "jsonParsed" transaction whose keys all come
    from the message. The node's parsed instructions (system, token, ...) lose
    their data: they get a placeholder, which no event decoder reads."""
    out = copy.deepcopy(result)
    message = out["transaction"]["message"]
    objects = message["accountKeys"]
    assert all(k.get("source", "transaction") == "transaction" for k in objects)
    keys = [k["pubkey"] for k in objects]
    index = {k: i for i, k in reversed(list(enumerate(keys)))}

    def compiled(ins):
        data = ins["data"] if "data" in ins else b58encode(b"parsed by the node")
        accounts = ins.get("accounts") or []
        return {"programIdIndex": index[ins["programId"]], "accounts": [index[a] for a in accounts], "data": data,
                "stackHeight": ins.get("stackHeight")}

    message["accountKeys"] = keys
    message["header"] = {
        "numRequiredSignatures": sum(k["signer"] for k in objects),
        "numReadonlySignedAccounts": sum(k["signer"] and not k["writable"] for k in objects),
        "numReadonlyUnsignedAccounts": sum(not k["signer"] and not k["writable"] for k in objects),
    }
    message["instructions"] = [compiled(i) for i in message["instructions"]]
    for group in out["meta"].get("innerInstructions") or []:
        group["instructions"] = [compiled(i) for i in group["instructions"]]
    out["meta"]["loadedAddresses"] = {"writable": [], "readonly": []}
    return out


def as_json(result: dict) -> dict:
    """`result` (any encoding) as "json"."""
    if isinstance(result["transaction"], list):
        return json_from_wire(result)
    keys = result["transaction"]["message"]["accountKeys"]
    if keys and isinstance(keys[0], dict):
        return json_from_parsed(result)
    return copy.deepcopy(result)


def with_encoding(result: dict, encoding: str) -> dict:
    """`result` (any encoding) in the given one."""
    result = as_json(result)
    if encoding == "json":
        return copy.deepcopy(result)
    if encoding == "jsonParsed":
        return json_parsed(result)
    wire = wire_from_json(result)
    out = copy.deepcopy(result)
    out["transaction"] = [base64.b64encode(wire).decode() if encoding == "base64" else b58encode(wire), encoding]
    return out


# --------------------------------------------------------------------------
# Log lines.


def invoke(program: str, depth: int) -> str:
    return f"Program {program} invoke [{depth}]"


def success(program: str) -> str:
    return f"Program {program} success"


def failed(program: str, why: str = "custom program error: 0x1") -> str:
    return f"Program {program} failed: {why}"


def data_line(payload: bytes) -> str:
    return "Program data: " + base64.b64encode(payload).decode()


def event_tuple(event) -> tuple:
    """The attribution of an event (its value aside)."""
    return (event.name, event.program_id, event.instruction, event.inner, event.depth, event.source,
            event.log_index, event.truncated)
