"""Account input that does not decode: a clear AccountError naming the cause, or in a list that account's own
`error`, in its place; never a crash. Sizes up to and past the 10 MiB an account can hold."""

import base64
import functools
import tracemalloc

import pytest

import varkel
from accounts.test_real_accounts import ZSTD, account, decoder, raw, zstd_compress

ORCA, DLMM = "whirLbMiicVdio4qvUfM5KAg6Ct8VwpYzGff3uctyCc", "LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo"
BANK, POOL = "marginfi-Bank-DeyH7QxW.json", "orca-Whirlpool-HJPjoWUr.json"
MIB10, ZSTANDARD = 10 << 20, getattr(ZSTD, "__name__", None) == "zstandard"


def b64(data):
    return base64.b64encode(data).decode()


def data(file, text, encoding="base64"):  # the file's account with other data
    return lambda: {**account(file), "data": [text() if callable(text) else text, encoding]}


# (case, IDL, input, reason, words of the message, scope): an "item" is one account of a list given to
# decode_accounts, and alone to decode_account when a dict; a "document" is a whole decode_accounts argument.
HOSTILE = [
    ("zero-copy one byte short", "marginfi-v2.json", data(BANK, lambda: b64(raw(BANK)[:-1])), "data",
     ["1863 bytes", "1864 of 'Bank'", "1856 of its memory layout"], "item"),
    ("Borsh data ends before the current layout", "pump-fun-pump.json",
     lambda: account("pump-BondingCurve-chainstack-getAccountInfo-slot285247740.json"), "data",
     ["'BondingCurve'", "'creator'", "offset 41"], "item"),
    ("owned by another program", "orca-whirlpool.json", lambda: {**account(POOL), "owner": DLMM}, "owner",
     [DLMM, ORCA], "item"),
    ("unknown discriminator", "orca-whirlpool.json", data(POOL, lambda: b64(b"\xff" * 8 + raw(POOL)[8:])),
     "discriminator", ["unknown discriminator"], "item"),
    ("no data at all", "orca-whirlpool.json", data(POOL, ""), "discriminator", ["unknown"], "item"),
    ("garbage base64", "orca-whirlpool.json", data(POOL, "P0!!x=="), "input", ["not valid base64"], "item"),
    ("garbage base58", "orca-whirlpool.json", data(POOL, "3yZe0OIl", "base58"), "input", ["base58", "'0'"], "item"),
    ("base58 longer than the RPC serves", "orca-whirlpool.json", data(POOL, "2" * 20000, "base58"), "input",
     ["20000 base58 characters"], "item"),
    ("garbage zstd", "orca-whirlpool.json", data(POOL, b64(b"not a zstd frame"), "base64+zstd"), "input",
     ["zstd"], "item"),
    ("unknown encoding", "orca-whirlpool.json", data(POOL, "AAAA", "base85"), "input", ['"base85"'], "item"),
    ("data parsed by the node", "orca-whirlpool.json", lambda: {"data": {"parsed": {}}}, "input", ["jsonParsed"],
     "item"),
    ("data not a pair", "orca-whirlpool.json", lambda: {"data": ["AAAA"]}, "input", ["<encoding>"], "item"),
    ("no data member", "orca-whirlpool.json", lambda: {"owner": ORCA, "lamports": 1}, "input",
     ["data", "missing"], "item"),
    ("an owner that is not text", "orca-whirlpool.json", lambda: {"data": ["", "base64"], "owner": 5}, "input",
     ["owner", "base58"], "item"),
    ("an account that is a number", "orca-whirlpool.json", lambda: 7, "input", ["account object", "7"], "item"),
    ("an account that is null", "orca-whirlpool.json", lambda: None, "missing", ["no such account"], "item"),
    ("deeply nested JSON text", "orca-whirlpool.json", lambda: "[" * 100000 + "]" * 100000, "input",
     ["recursion limit"], "document"),
    ("deeply nested Python data", "orca-whirlpool.json",
     lambda: functools.reduce(lambda doc, _: [doc], range(100000), []), "input", ["nested deeper"], "document"),
    ("an RPC error", "orca-whirlpool.json", lambda: {"jsonrpc": "2.0", "id": 1, "error": {"code": -32602}},
     "input", ["RPC error", "-32602"], "document"),
    ("not accounts", "orca-whirlpool.json", lambda: '"hello"', "input", ["expected accounts", "hello"], "document"),
]
NEIGHBOUR = {"marginfi-v2.json": BANK, "orca-whirlpool.json": POOL}  # an account that decodes, around the item


def check(error, reason, words):
    assert isinstance(error, varkel.AccountError) and error.reason == reason
    assert all(word in str(error) for word in words), str(error)


@pytest.mark.parametrize("case, idl, make, reason, words, scope", HOSTILE,
                         ids=[getattr(row, "values", row)[0] for row in HOSTILE])
def test_hostile_input_gives_a_clear_error(case, idl, make, reason, words, scope):
    d = decoder(idl)
    if scope == "document":
        with pytest.raises(varkel.AccountError) as e:
            d.decode_accounts(make())
        return check(e.value, reason, words)
    neighbour = account(NEIGHBOUR[idl]) if idl in NEIGHBOUR else None
    got = d.decode_accounts([{"pubkey": key, "account": item} for key, item in
                             [("Before", neighbour), ("Hostile", make()), ("After", neighbour)]])
    alone = d.decode_accounts([{"pubkey": "Before", "account": neighbour}])[0]
    assert [a.pubkey for a in got] == ["Before", "Hostile", "After"]
    assert got[0] == alone and got[2][1:] == alone[1:]
    assert got[1].value is None and got[1].unread is None
    assert all(word in got[1].error for word in words), got[1].error
    if isinstance(make(), dict):
        with pytest.raises(varkel.AccountError) as e:
            d.decode_account(make())
        check(e.value, reason, words)


def test_a_short_zero_copy_account_keeps_its_type_name():
    item, d = data(BANK, lambda: b64(raw(BANK)[:-1]))(), decoder("marginfi-v2.json")
    assert d.decode_accounts([item])[0].name == "Bank"
    with pytest.raises(varkel.AccountError) as e:
        d.decode_account(item)
    assert e.value.account == "Bank"


@pytest.mark.parametrize("encoding", ["base64", "base64+zstd"])
def test_a_ten_mib_account_decodes_and_one_byte_more_is_refused_when_compressed(encoding):
    if encoding == "base64+zstd" and ZSTD is None:
        pytest.skip("no zstd module")
    pack = zstd_compress if encoding == "base64+zstd" else bytes
    full, d = raw(BANK) + bytes(MIB10 - len(raw(BANK))), decoder("marginfi-v2.json")
    fits, over = d.decode_accounts([{"data": [b64(pack(x)), encoding]} for x in (full, full + b"\0")])
    assert (fits.name, fits.unread, fits.error) == ("Bank", MIB10 - len(raw(BANK)), None)
    assert fits.value == d.decode_account(raw(BANK))[1]
    if encoding == "base64":  # data not compressed takes no more memory than its text: accepted
        assert over.unread == fits.unread + 1
    else:
        assert over.value is None and "more than 10 MiB" in over.error


@pytest.mark.parametrize("content_size", [True, False])
@pytest.mark.thread_unsafe(reason="tracemalloc is process-wide")
def test_a_compressed_account_past_ten_mib_is_refused_within_bounded_memory(content_size):
    if ZSTD is None:
        pytest.skip("no zstd module")
    item = {"data": [b64(zstd_compress(bytes(64 << 20), content_size)), "base64+zstd"]}
    tracemalloc.start()
    try:
        [acc] = decoder("marginfi-v2.json").decode_accounts([item])
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert acc.value is None and "more than 10 MiB" in acc.error
    assert peak < 2 * MIB10 + (1 << 20)
