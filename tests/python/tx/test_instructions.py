"""Instructions of real transactions against a twin written here from the
IDLs' JSON: which instructions are the programs' (by program id and
discriminator, top-level and inner), their places, their arguments (encoded
back by the test support's Borsh encoder, they give the instruction's data)
and their accounts (the IDL's names in order, optional accounts that carry
the program id absent)."""

import copy
import hashlib
import json
import re

import pytest

import varkel
from helpers import FIXTURES
from varkel_support import b58decode, encode_fields
from tx.txdata import BUNDLED_IDLS, EVENT_TAG, IDLS, as_json, decoder, load, result_of

CASES = [
    ("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", ["okx", "pump_amm"],
     [("swap_v3", 7, None, 1), ("buy", 7, 2, 2)]),
    ("pump_amm-sell-buy-tx-slot387020561.json", ["pump_amm"], [("sell", 5, None, 1), ("buy", 8, None, 1)]),
    ("agavesim-pump_amm-buy-tx-5bvyp1no.json", ["pump_amm"], [("buy", 1, None, 1)]),
    ("agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json", ["clmm"], [("swap_v2", 4, None, 1)]),
    ("chainstack-pump-create-blockSubscribe-2025.json", ["pump_2025"], [("buy", 4, 1, 2)]),
    ("chainstack-pump-buy-getTransaction-2024.json", ["pump_legacy"], [("buy", 2, None, 1), ("sell", 3, None, 1)]),
    ("chainstack-pump-create-getTransaction-2024.json", ["pump_legacy"],
     [("create", 3, None, 1), ("buy", 5, None, 1)]),
]
IDS = [c[0].split(".")[0] for c in CASES]


def snake(name):
    return re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", name).lower()


def current_form(t):
    """A legacy type expression in the current form (the encoder reads that)."""
    if isinstance(t, str):
        return "pubkey" if t == "publicKey" else t
    ((key, payload),) = t.items()
    if key == "defined":
        return {"defined": {"name": payload if isinstance(payload, str) else payload["name"]}}
    if key == "array":
        return {"array": [current_form(payload[0]), payload[1]]}
    return {key: current_form(payload)}


class Program:
    """What the twin needs of an IDL: each instruction's discriminator,
    arguments and flattened account list, and the types."""

    def __init__(self, doc, address):
        legacy = "metadata" not in doc or "spec" not in doc.get("metadata", {})
        self.address = address
        self.types = {t["name"]: t["type"] for t in doc.get("types", [])}
        self.instructions = []
        for ix in doc["instructions"]:
            name = snake(ix["name"]) if legacy else ix["name"]
            disc = (hashlib.sha256(f"global:{name}".encode()).digest()[:8] if legacy
                    else bytes(ix["discriminator"]))
            args = [{"name": snake(a["name"]) if legacy else a["name"], "type": current_form(a["type"])}
                    for a in ix["args"]]
            self.instructions.append((name, disc, args, list(self.flatten(ix["accounts"], legacy))))

    def flatten(self, items, legacy):
        for item in items:
            if "accounts" in item:  # a group: (path, optional) of each account inside
                for path, optional in self.flatten(item["accounts"], legacy):
                    yield ((snake(item["name"]) if legacy else item["name"]),) + path, optional
            else:
                optional = item.get("isOptional" if legacy else "optional", False)
                yield ((snake(item["name"]) if legacy else item["name"]),), optional

    def match(self, data):
        return next((ix for ix in self.instructions if data.startswith(ix[1])), None)


def twin(result, programs):
    """(name, instruction, inner, data, keys, Program entry) of every
    instruction of `programs`, in execution order, from the "json" form."""
    doc = as_json(result)
    message = doc["transaction"]["message"]
    loaded = doc["meta"].get("loadedAddresses") or {"writable": [], "readonly": []}
    keys = message["accountKeys"] + loaded["writable"] + loaded["readonly"]
    inner = {g["index"]: g["instructions"] for g in doc["meta"].get("innerInstructions") or []}
    for i, top in enumerate(message["instructions"]):
        for j, ins in [(None, top)] + list(enumerate(inner.get(i, []))):
            program = keys[ins["programIdIndex"]]
            if program not in programs:
                continue
            data = b58decode(ins["data"], size=None)
            if data.startswith(EVENT_TAG):
                continue  # an event, not an instruction
            yield i, j, data, [keys[a] for a in ins["accounts"]], programs[program]


def idl_program(key):
    """(program id, Program) of an IDL of txdata.IDLS."""
    kind, name, _ = IDLS[key]
    path = FIXTURES / "idl" / kind / name
    doc = json.loads((path if path.exists() else BUNDLED_IDLS[key]).read_text())
    program_id = decoder(key).program_id
    return program_id, Program(doc, program_id)


@pytest.mark.parametrize("name, keys, expected", CASES, ids=IDS)
def test_real_transactions_against_the_twin(name, keys, expected):
    decoders = [decoder(k) for k in keys]
    doc = load(name)
    got = varkel.decode_instructions(doc, decoders)
    assert [(i.name, i.instruction, i.inner, i.depth) for i in got] == expected
    assert varkel.decode(json.dumps(doc), decoders).instructions == got  # text and dict alike
    programs = dict(idl_program(k) for k in keys)
    expected_sites = list(twin(result_of(doc), programs))
    assert len(expected_sites) == len(got)
    for ins, (i, j, data, account_keys, program) in zip(got, expected_sites):
        assert (ins.instruction, ins.inner, ins.program_id) == (i, j, program.address)
        name_, disc, args, accounts = program.match(data)
        assert ins.name == name_ and ins.error is None
        # The arguments encode back to the data (up to the trailing bytes
        # and the arguments the data leaves out).
        present = [a for a in args if a["name"] not in ins.missing]
        assert encode_fields(present, ins.args, program.types) == data[len(disc):len(data) - ins.trailing]
        assert all(ins.args[m] is None for m in ins.missing)
        # The accounts: the IDL's names in order, then the remaining ones.
        flat = {}
        for (path, optional), key in zip(accounts, account_keys):
            flat[path] = None if optional and key == program.address else key
        for path, optional in accounts[len(account_keys):]:
            assert optional
            flat[path] = None
        got_flat = {}

        def walk(d, prefix=()):
            for k, v in d.items():
                if isinstance(v, dict):
                    walk(v, prefix + (k,))
                else:
                    got_flat[prefix + (k,)] = v
        walk(ins.accounts)
        assert list(got_flat.items()) == list(flat.items())
        assert ins.remaining == account_keys[len(accounts):]
        assert set(ins.signers) | set(ins.writable) <= set(account_keys)


def test_optional_account_given_as_the_program_id_is_absent():
    okx = decoder("okx")
    (swap,) = okx.decode_instructions(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json"))
    assert swap.accounts["commission_account"] is None
    assert "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma" not in swap.writable  # sent read-only


def test_signer_and_writable_flags_from_the_message():
    (create, buy) = decoder("pump_legacy").decode_instructions(load("chainstack-pump-create-getTransaction-2024.json"))
    # From the message: the fee payer and the new mint sign; programs are read-only.
    assert create.signers == (create.accounts["mint"], create.accounts["user"])
    assert create.accounts["user"] in create.writable and create.accounts["system_program"] not in create.writable


# Spoofing: another program's instruction with our discriminator is not ours;
# our program invoked by another program is ours (pump_amm inside the router).
def test_the_program_decides_not_the_discriminator():
    doc = as_json(result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json")))
    keys = doc["transaction"]["message"]["accountKeys"]
    okx = decoder("okx")
    top = doc["transaction"]["message"]["instructions"][7]
    other = next(i for i, k in enumerate(keys) if k not in (okx.program_id,) and i > 0)
    forged = copy.deepcopy(doc)
    forged["transaction"]["message"]["instructions"][7]["programIdIndex"] = other
    assert okx.decode_instructions(doc)[0].name == "swap_v3"
    assert okx.decode_instructions(forged) == []
    assert top["programIdIndex"] != other
