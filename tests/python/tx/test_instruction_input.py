"""One instruction from raw data and keys (decoder.decode_instruction), hostile
input, the depth of old transactions, and why a transaction failed. On an IDL
written here and on the bundled pump transactions: these run everywhere."""

import copy
import json

import pytest

import varkel
from helpers import current_idl, struct
from varkel_support import b58encode
from tx.txdata import decoder, load, result_of

PROGRAM = "Prog111111111111111111111111111111111111111"
K = [b58encode(bytes([n]) * 32) for n in range(1, 8)]  # keys
SWAP = bytes(range(1, 9))
IDL = current_idl(
    instructions=[
        {"name": "swap", "discriminator": list(SWAP),
         "args": [{"name": "amount", "type": "u64"}, {"name": "route", "type": {"vec": "u16"}},
                  {"name": "memo", "type": {"option": "string"}}],
         "accounts": [{"name": "pool", "writable": True},
                      {"name": "owner", "accounts": [{"name": "user", "signer": True}, {"name": "token"}]},
                      {"name": "referrer", "optional": True}]},
        {"name": "ping", "discriminator": [9], "args": [], "accounts": []},
    ],
    errors=[{"code": 6000, "name": "Slippage", "msg": "too much slippage"}],
)
ARGS = (5).to_bytes(8, "little") + (2).to_bytes(4, "little") + b"\x01\x00\x02\x00" + b"\x00"
DECODED = {"amount": 5, "route": [1, 2], "memo": None}


def swap(**expected):
    return {"name": "swap", "args": DECODED, "missing": (), "trailing": 0,
            "accounts": {"pool": K[0], "owner": {"user": K[1], "token": K[2]}, "referrer": K[3]},
            "remaining": []} | expected


@pytest.mark.parametrize("data, accounts, expected", [
    (SWAP + ARGS, K[:4], swap()),
    (SWAP + ARGS + b"xy", K[:6], swap(trailing=2, remaining=K[4:6])),
    (b58encode(SWAP + ARGS), K[:4], swap()),  # data as base58 text
    (SWAP + ARGS, K[:3] + [PROGRAM], swap(accounts={"pool": K[0], "owner": {"user": K[1], "token": K[2]},
                                                    "referrer": None})),
    (SWAP + ARGS, K[:3], swap(accounts={"pool": K[0], "owner": {"user": K[1], "token": K[2]}, "referrer": None})),
    (SWAP + ARGS, None, swap(accounts=None)),
    (SWAP, K[:3], swap(args={"amount": None, "route": None, "memo": None}, missing=("amount", "route", "memo"),
                       accounts={"pool": K[0], "owner": {"user": K[1], "token": K[2]}, "referrer": None})),
    (SWAP + (5).to_bytes(8, "little"), None, swap(args={"amount": 5, "route": None, "memo": None},
                                                  missing=("route", "memo"), accounts=None)),
    (b"\x09zz", [], {"name": "ping", "args": {}, "accounts": {}, "trailing": 2, "missing": ()}),
])
def test_decode_instruction(data, accounts, expected):
    ins = varkel.EventDecoder(IDL).decode_instruction(data, accounts)
    assert {k: getattr(ins, k) for k in expected} == expected
    assert (ins.program_id, ins.instruction, ins.inner, ins.depth, ins.error, ins.data) == (PROGRAM, None, None,
                                                                                           None, None, None)
    assert (ins.signers, ins.writable) == ((None, None) if accounts is not None else ((), ()))


@pytest.mark.parametrize("data, accounts, reason, path, instruction, message", [
    (b"", None, "discriminator", None, None, "unknown discriminator"),
    (bytes(8), None, "discriminator", None, None, "unknown discriminator"),
    (SWAP + b"\x05\x00", None, "arguments", "amount", "swap",
     "arguments do not fit: field 'amount': unexpected end of buffer: need 8 byte(s) at offset 0, have 2"),
    (SWAP + bytes(8) + b"\xff\xff\xff\xff\x01\x00", None, "arguments", "route[1]", "swap",
     "arguments do not fit: field 'route[1]': unexpected end of buffer: need 2 byte(s) at offset 14, have 14"),
    (SWAP + ARGS, K[:1], "accounts", None, "swap", "too few accounts: 1 given, 3 required"),
    ("0OIl", None, "input", "data", None, "argument 'data': invalid base58 character '0' at offset 0"),
    (SWAP, ["x"], "input", "accounts[0]", None,
     "argument 'accounts[0]': base58 text of 1 bytes, not a 32-byte public key"),
])
def test_instructions_that_do_not_decode(data, accounts, reason, path, instruction, message):
    with pytest.raises(varkel.InstructionError) as caught:
        varkel.EventDecoder(IDL).decode_instruction(data, accounts)
    error = caught.value
    assert (error.reason, error.path, error.instruction, str(error)) == (reason, path, instruction, message)


@pytest.mark.parametrize("call, error", [
    (lambda d: d.decode_instruction(5), "argument 'data': 'int' object is not an instance of 'bytes | str'"),
    (lambda d: d.decode_instruction(b"", "key"), "argument 'accounts': 'str' object is not an instance of "
                                                 "'Sequence[str]'"),
    (lambda d: d.decode_instruction(b"", [b"k"]), "argument 'accounts[0]': 'bytes' object is not an instance of "
                                                  "'str'"),
    (lambda d: d.decode_instruction(), "EventDecoder.decode_instruction() missing 1 required positional argument: "
                                       "'data'"),
])
def test_arguments_of_decode_instruction(call, error):
    with pytest.raises(TypeError) as caught:
        call(varkel.EventDecoder(IDL))
    assert str(caught.value) == error


def test_names_and_a_program_without_address():
    d = varkel.EventDecoder(IDL)
    assert d.instruction_names == ["swap", "ping"]
    no_address = json.loads(IDL) | {"address": ""}
    ins = varkel.EventDecoder(json.dumps(no_address)).decode_instruction(SWAP + ARGS, K[:3] + [PROGRAM])
    assert ins.program_id is None and ins.accounts["referrer"] == PROGRAM  # no program id to tell it by


# The bundled pump transactions, changed.
CREATE = "chainstack-pump-create-getTransaction-2024.json"
PUMP = "6EF8rrecthR5Dkzon8Nwu78hRvfCKubJ14M5uBEwF6P"


def failed(err, fail_line=None, drop_logs=False):
    """The create transaction (instruction 3 is pump's create) failed with
    `err`; `fail_line` replaces its top-level success line."""
    doc = copy.deepcopy(load(CREATE))
    meta = result_of(doc)["meta"]
    meta["err"] = err
    logs = meta["logMessages"]
    if fail_line is not None:
        logs[logs.index(f"Program {PUMP} success", 60)] = f"Program {PUMP} failed: {fail_line}"
    if drop_logs:
        del meta["logMessages"]
    return doc


ERROR_KEYS = ("instruction", "program", "inner", "depth", "error", "code", "name", "message", "source")


@pytest.mark.parametrize("doc, expected", [
    (lambda: failed({"InstructionError": [3, {"Custom": 6002}]}, "custom program error: 0x1772"),
     (3, PUMP, None, 1, "Custom", 6002, "TooMuchSolRequired",
      "slippage: Too much SOL required to buy the given amount of tokens.", "idl")),
    (lambda: failed({"InstructionError": [3, {"Custom": 3012}]}, "custom program error: 0xbc4"),
     (3, PUMP, None, 1, "Custom", 3012, "AccountNotInitialized",
      "The program expected this account to be already initialized", "anchor")),
    (lambda: failed({"InstructionError": [3, {"Custom": 7777}]}, "custom program error: 0x1e61"),
     (3, PUMP, None, 1, "Custom", 7777, None, None, None)),
    (lambda: failed({"InstructionError": [3, "InvalidAccountData"]}, "invalid account data for instruction"),
     (3, PUMP, None, 1, "InvalidAccountData", None, "InvalidAccountData", "invalid account data for instruction",
      "runtime")),
    (lambda: failed({"InstructionError": [3, {"Custom": 6002}]}, drop_logs=True),
     (3, PUMP, None, 1, "Custom", 6002, "TooMuchSolRequired",
      "slippage: Too much SOL required to buy the given amount of tokens.", "idl")),
    (lambda: failed("InsufficientFundsForFee"),
     (None, None, None, None, "InsufficientFundsForFee", None, "InsufficientFundsForFee", None, "runtime")),
])
def test_why_it_failed(doc, expected):
    tx = varkel.decode(doc(), [decoder("pump_legacy")])
    assert tx.failed and all(i.failed for i in tx.instructions) and all(e.failed for e in tx.events)
    assert tuple(tx.error[k] for k in ERROR_KEYS) == expected


def test_the_code_named_by_an_anchor_error_line_of_any_program():
    doc = failed({"InstructionError": [3, {"Custom": 6023}]}, "custom program error: 0x1787")
    logs = result_of(doc)["meta"]["logMessages"]
    logs.insert(61, "Program log: AnchorError thrown in src/lib.rs:1. Error Code: Oops. Error Number: 6023. "
                    "Error Message: It went wrong.")
    other = varkel.EventDecoder(current_idl())  # pump is not among the decoders: its IDL is unknown
    error = varkel.decode(doc, [other]).error
    assert (error["name"], error["message"], error["source"]) == ("Oops", "It went wrong", "log")


def test_depth_without_stack_heights():
    # Older transactions carry no stackHeight: an inner instruction's depth is
    # its log frame's, and not known without logs (never guessed).
    doc = copy.deepcopy(result_of(load("agavesim-pump_amm-okx-route-tx-2zNeSn8c.json")))
    for group in doc["meta"]["innerInstructions"]:
        for ins in group["instructions"]:
            ins.pop("stackHeight", None)
    amm = decoder("pump_amm")
    assert [(i.name, i.inner, i.depth) for i in amm.decode_instructions(doc)] == [("buy", 2, 2)]
    del doc["meta"]["logMessages"]
    assert [(i.name, i.inner, i.depth) for i in amm.decode_instructions(doc)] == [("buy", 2, None)]


def test_account_index_out_of_range():
    doc = copy.deepcopy(load(CREATE))
    result_of(doc)["transaction"]["message"]["instructions"][3]["accounts"][0] = K[6]  # not one of its keys
    with pytest.raises(varkel.TransactionError) as caught:
        decoder("pump_legacy").decode_instructions(doc)
    assert caught.value.path == "result.transaction.message.instructions[3].accounts[0]"
