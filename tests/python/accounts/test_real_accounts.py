"""Real accounts of eight programs (tests/data/accounts, SOURCES.md there): values a person can check against
the sources, the same value from every input form, and the owner deciding between programs that share a
discriminator. The other encodings are written here, independently of the package."""

import base64
import functools
import importlib
import json
import re
import struct

import pytest

import varkel
from helpers import DATA, REPO, fixture, same
from varkel_support import b58encode

ACCOUNTS = DATA / "accounts"
FILES = sorted(p.name for p in ACCOUNTS.glob("*.json"))
UNREAD = {"pump_amm-Pool-GUXAutvX.json": 55}  # 300 bytes; the Borsh Pool reads 245, the rest is zeros


@functools.cache
def decoder(idl):  # a shared IDL fixture (skips when absent), or the pump example's legacy IDL
    path = REPO / "examples" / "pump-legacy" / "idl.json" if idl == "pump-legacy" else fixture("idl", "current", idl)
    return varkel.EventDecoder(path.read_text())


def text(file):
    return (ACCOUNTS / file).read_text()


def account(file):  # of a `solana account` dump, or of a getAccountInfo response
    doc = json.loads(text(file))
    return doc["account"] if "account" in doc else doc["result"]["value"]


def raw(file):
    return base64.b64decode(account(file)["data"][0], validate=True)


ZSTD = None  # the zstd module the decoder uses: compression.zstd (3.14), else zstandard
for _name in ("compression.zstd", "zstandard"):
    try:
        ZSTD = importlib.import_module(_name)
        break
    except ImportError:
        pass


def zstd_compress(data, content_size=True):
    if ZSTD.__name__ == "zstandard":
        return ZSTD.ZstdCompressor(write_content_size=content_size).compress(data)
    return ZSTD.compress(data, options={ZSTD.CompressionParameter.content_size_flag: content_size})


class Holds:
    def __init__(self, test, what):
        self.test, self.what = test, what

    def __eq__(self, got):
        return self.test(got)

    def __repr__(self):
        return self.what


def fixed(v):  # marginfi's WrappedI80F48 {value: [u8; 16]}
    return int.from_bytes(bytes(v["value"]), "little", signed=True) / 2**48


def near(x, read=fixed):  # marginfi's weights were set from f32: 0.65 is kept as 0.64999998
    return Holds(lambda v: abs(read(v) - x) <= 1e-7 * max(1.0, abs(x)), f"about {x}")


WSOL, USDC = "So11111111111111111111111111111111111111112", "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v"
NONE = "1" * 32
# marginfi's tests/e05_gappyPositions.spec.ts: (bank, asset shares, liability shares) of balances 0..5.
GAPPY = [("AS6TnrAic2NV4eppLbLwyNj6LYzDV9SdBRjZiJmavYSN", 1e7, 0), (NONE, 0, 0),
         ("7rw9Bbg3R3vQ3LDApqfrYS1qTV3vFpigWJFUmh7eZfwE", 1e9, 0), (NONE, 0, 0),
         ("HPAZgpFHTA9Wqx22Gk1C75Wyonxz1L55LJhXom4uZfaL", 0, 1e6), (NONE, 0, 0)]
BALANCES = Holds(lambda balances: GAPPY == [
    (b["bank_pk"], fixed(b["asset_shares"]), fixed(b["liability_shares"])) for b in balances[:6]], repr(GAPPY))
# Bin array 2 of a DLMM pair of bin step 10: bins 140..209, bin k's price 1.001^k as Q64.64.
BIN_PRICES = Holds(lambda bins: len(bins) == 70 and all(
    abs(b["price"] / (1.001 ** (140 + k) * 2**64) - 1) < 1e-9 for k, b in enumerate(bins)), "1.001^(140..209)")

VALUES = [
    ("marginfi-Bank-DeyH7QxW.json", "marginfi-v2.json", "Bank", {
        "mint": "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263", "mint_decimals": 5,  # BONK
        "liquidity_vault": "7FdQsXmCW3N5JQbknj3F9Yqq73er9VZJjGhEEMS8Ct2A", "config.asset_weight_init": near(0.5),
        "config.asset_weight_maint": near(0.65), "config.liability_weight_init": near(1.3),
        "config.oracle_setup": "PythPushOracle", "config.risk_tier": "Collateral", "config.oracle_max_age": 120}),
    ("marginfi-MarginfiAccount-7qoe1Xmd.json", "marginfi-v2.json", "MarginfiAccount", {
        "authority": "J5TXjZFLDRHJyivYpxmdu38izekJUvRnDnzvY2PZ2krF", "lending_account.balances": BALANCES,
        "health_cache.prices[1]": near(167.58, lambda v: struct.unpack("<d", bytes(v))[0])}),  # f64 as [u8; 8]
    ("marginfi-MarginfiGroup-4qp6Fx6t.json", "marginfi-v2.json", "MarginfiGroup", {
        "admin": "CYXEgwbPHu2f9cY3mcUkinzDoDcsSan7myh1uBvYRbEw", "fee_state_cache.program_fee_rate": near(0.075)}),
    ("orca-Whirlpool-HJPjoWUr.json", "orca-whirlpool.json", "Whirlpool", {
        "token_mint_a": WSOL, "token_mint_b": USDC, "tick_spacing": 64, "fee_rate": 3000,
        "token_vault_a": "3YQm7ujtXWJU2e9jhp2QGHpnn1ShXn12QjvzMvDgabpX",
        "token_vault_b": "2JTw1fE2wz1SymWUQ7UqpVtrTuKjcd6mWwYwUJUCh2rq",
        "reward_infos[0].mint": "orcaEKTdK7LKz57vaAYr9QeNsVEPfiu6QeMU1kektZE"}),
    ("orca-Position-CSDCKnh8.json", "orca-whirlpool.json", "Position", {
        "whirlpool": "7qbRF6YsyGuLUVs6Y1q64bdVrfe4ZcUUz1JRdoVNUJnm", "tick_lower_index": -38992,
        "tick_upper_index": -36512}),
    ("meteora_dlmm-LbPair-6StaAqeV.json", "meteora-dlmm-lb_clmm.json", "LbPair", {
        "token_x_mint": "27G8MtK7VtTcCHkpASjSDdkWWYfoqT6ggEuKidVJidD4", "bin_step": 8, "active_id": 3774,
        "reserve_y": "9Xb8K1CKzwERAZL9ezVxpnYtgtpic6ag3fxfUwDqD5wR",
        "reward_infos[0].vault": "63fis8tQGp3hFDEkcJD74V3eg8k8SEHwonvCkgt9w1bk",
        "bin_array_bitmap[8]": 0x00FF000000000000}),  # bin arrays 48..55: bin 3774 is in 53
    ("meteora_dlmm-LbPair-FJbEo74c.json", "meteora-dlmm-lb_clmm.json", "LbPair", {
        "token_x_mint": "FQuMNJ6UcrkA3xMLsmmLL8sk47RkZYod57mX3a8w1brg", "token_y_mint": WSOL, "bin_step": 10,
        "bin_array_bitmap[7]": 0xA000000000000000, "bin_array_bitmap[8]": 5}),  # bin arrays -3, -1, 0, 2
    ("meteora_dlmm-BinArray-6ipV2Sn7.json", "meteora-dlmm-lb_clmm.json", "BinArray", {
        "index": 2, "lb_pair": "FJbEo74c2W4QLBBVUfUvi8VBWXtMdJVPuFpq2f6UV1iB", "bins": BIN_PRICES,
        "bins[1].liquidity_supply": 10**9 * 21238539429257850993}),  # amount_x × price
    ("raydium_clmm-PoolState-3ucNos4N.json", "raydium-amm_v3-clmm.json", "PoolState", {
        "token_mint_0": WSOL, "token_mint_1": USDC, "tick_spacing": 1, "mint_decimals_1": 6,
        "token_vault_1": "5it83u57VRrVgc51oNV19TTmAJuffPx5GtGwQr7gQNUo",
        "reward_infos[0].token_mint": "4k3Dyjzvzp8eMZWUXbBCjEvwSkkk59S5iCNLY3QrkX6R",  # RAY
        "tick_array_bitmap": [13233894920445562880, 16138067892758380435] + [2**64 - 1] * 3 + [337992908638485503,
                              4516828126648832, 1143210130, 1073840145, 2**56, 0, 0, 0, 2**63, 0, 0]}),
    ("raydium_cpswap-PoolState-Q2sPHPdU.json", "raydium-cp_swap.json", "PoolState", {
        "token_0_vault": "HgNPDD8bpbSrGyHegiCT5xrYxHTfwLfZydwGkjNCJRKA", "token_0_mint": WSOL,
        "token_1_mint": "Dz9mQ9NzkBcCsuGPFJ3r1bS4wgqKMHBPiVuniW8Mbonk", "mint_1_decimals": 6,
        "lp_supply": 4192510124589, "recent_epoch": 833}),
    ("meteora_damm_v2-Pool-6CXXieC3.json", "meteora-damm_v2-cp_amm.json", "Pool", {
        "token_a_mint": "G1DXVVmqJs8Ei79QbK41dpgk2WtXSGqLtx9of7o8BAGS", "token_b_mint": WSOL,
        "token_b_vault": "wAx8Her71ffN9hNyh5nj6WR7m56tAGrkajNiEdoGy4G", "sqrt_price": 26122654118776782,
        "liquidity": 2461259741443399418112242871877920, "metrics.total_position": 32}),
    ("switchboard-PullFeedAccountData-2wJdP1WM.json", "switchboard-sb_on_demand.json", "PullFeedAccountData", {
        "name": list(b"bSOL/USD".ljust(32, b"\0")), "submissions[0].value": 95122405417700000000,  # 1e18 scale
        "historical_results[30]": {"std_dev": 0.0, "mean": 95.22747802734375, "slot": 436428669}}),
    ("pump-BondingCurve-chainstack-getAccountInfo-slot285247740.json", "pump-legacy", "BondingCurve", {
        "real_sol_reserves": 73551852 - (49 + 128) * 6960,  # lamports less the rent of 49 bytes
        "virtual_sol_reserves": 72319932 + 30 * 10**9,  # pump's 30 initial virtual SOL
        "real_token_reserves": 790519577927421, "virtual_token_reserves": 790519577927421 + 279_900_000_000_000,
        "token_total_supply": 10**15, "complete": False}),
    ("pump_amm-Pool-GUXAutvX.json", "pump-fun-pump_amm.json", "Pool", {
        "base_mint": "3Sf6oKCeEqCuco4aYtKHHDTBYLAWHiL47QjvkW1UYDEG", "quote_mint": WSOL,
        "lp_supply": 4193388308335, "coin_creator": "GeUnv1jmtviRbR7Gu1JnXSGkUMUgFVBHuEVQVpTaUX1W"}),
]
IDL_OF = {file: idl for file, idl, _, _ in VALUES}


def pick(value, path):
    for step in re.findall(r"[^.\[\]]+", path):
        value = value[int(step)] if step.isdigit() else value[step]
    return value


@pytest.mark.parametrize("file, idl, name, expected", VALUES, ids=[row[0].split(".")[0] for row in VALUES])
def test_values_a_person_can_check(file, idl, name, expected):
    got_name, value = decoder(idl).decode_account(json.loads(text(file)))
    assert got_name == name
    for path, want in expected.items():
        assert pick(value, path) == want, path


def one(accounts, file):
    [acc] = accounts
    assert (acc.error, acc.unread) == (None, UNREAD.get(file, 0))
    return acc.name, acc.value


def with_data(file, text_, encoding):
    return {**account(file), "data": [text_, encoding]}


FORMS = {
    "json text": lambda d, f: one(d.decode_accounts(text(f)), f),
    "json bytes": lambda d, f: one(d.decode_accounts(text(f).encode()), f),
    "bytes": lambda d, f: d.decode_account(raw(f)),
    "base64 text": lambda d, f: d.decode_account(base64.b64encode(raw(f)).decode()),
    "base58": lambda d, f: d.decode_account(with_data(f, b58encode(raw(f)), "base58")),
    "base64+zstd": lambda d, f: d.decode_account(
        with_data(f, base64.b64encode(zstd_compress(raw(f))).decode(), "base64+zstd")),
}


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("file", FILES)
def test_every_input_form_gives_the_same_value(file, form):
    if form == "base64+zstd" and ZSTD is None:
        pytest.skip("no zstd module (compression.zstd or zstandard)")
    d = decoder(IDL_OF[file])
    name, value = FORMS[form](d, file)
    expected = d.decode_account(json.loads(text(file)))  # the dump object
    assert name == expected[0] and same(value, expected[1])


@pytest.mark.parametrize("file, other", [  # same discriminator, other program
    ("meteora_damm_v2-Pool-6CXXieC3.json", "pump-fun-pump_amm.json"),
    ("pump_amm-Pool-GUXAutvX.json", "meteora-damm_v2-cp_amm.json"),
    ("raydium_clmm-PoolState-3ucNos4N.json", "raydium-cp_swap.json"),
    ("raydium_cpswap-PoolState-Q2sPHPdU.json", "raydium-amm_v3-clmm.json")])
def test_the_owner_decides_between_programs_sharing_a_discriminator(file, other):
    d, owner = decoder(other), account(file)["owner"]
    assert raw(file)[:8] == raw(next(f for f, idl in IDL_OF.items() if idl == other))[:8]
    with pytest.raises(varkel.AccountError) as e:
        d.decode_account(account(file))
    assert e.value.reason == "owner" and owner in str(e.value) and d.program_id in str(e.value)
    [acc] = d.decode_accounts(text(file))
    assert (acc.pubkey, acc.owner, acc.name, acc.value) == (json.loads(text(file))["pubkey"], owner, None, None)
    assert "owned by " + owner in acc.error


def test_a_getmultipleaccounts_result_keeps_order_slot_and_missing_accounts():
    bins, pair = account("meteora_dlmm-BinArray-6ipV2Sn7.json"), account("meteora_dlmm-LbPair-FJbEo74c.json")
    doc = {"jsonrpc": "2.0", "id": 7, "result": {"context": {"slot": 123456789}, "value": [bins, None, pair]}}
    got = decoder("meteora-dlmm-lb_clmm.json").decode_accounts(json.dumps(doc))
    assert [(a.name, a.slot, a.lamports, a.error) for a in got] == [
        ("BinArray", 123456789, 71437440, None), (None, 123456789, None, "no such account"),
        ("LbPair", 123456789, 7182720, None)]


@pytest.mark.parametrize("pubkey", ["base58", "binary"])
def test_the_tables_hold_the_values_of_decode_accounts(pubkey):
    pa = pytest.importorskip("pyarrow")
    from columnar.arrow_values import rows_as_values

    for idl in sorted(set(IDL_OF.values()) - {"pump-legacy"}):  # the reader takes current-format types
        d = decoder(idl)
        doc = json.loads(fixture("idl", "current", idl).read_text())
        types = {t["name"]: t["type"] for t in doc.get("types", [])}
        files = [f for f, i in IDL_OF.items() if i == idl]
        records = [a for f in files for a in d.decode_accounts(text(f)) if a.error is None]
        tables = d.decode_accounts_arrow([json.loads(text(f)) for f in files], pubkey=pubkey)
        assert list(tables) == d.account_names and all(t.kind == "account" for t in tables.values())
        for name, table in tables.items():
            rows = pa.table(table).to_pylist()
            mine = [a for a in records if a.name == name]
            keys = [r["pubkey"] if pubkey == "base58" else b58encode(r["pubkey"]) for r in rows]
            assert keys == [a.pubkey for a in mine], name
            if pubkey == "base58":
                assert rows_as_values(types[name]["fields"], rows, types) == [a.value for a in mine], name
