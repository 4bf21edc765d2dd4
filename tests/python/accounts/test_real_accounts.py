"""Real accounts of eight programs (tests/data/accounts, SOURCES.md there):
values a person can check against the sources, every input form giving the
same value, and accounts of one program refused by another program that
shares their discriminator."""

import base64
import json
import re
import struct

import pytest

import varkel
from accounts.accdata import ACCOUNTS, ZSTD, account, decoder, encoded, raw, text
from helpers import same

WSOL = "So11111111111111111111111111111111111111112"
USDC = "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v"


class Holds:
    """Equal to a decoded value for which `test` holds."""

    def __init__(self, test, what):
        self.test, self.what = test, what

    def __eq__(self, got):
        return self.test(got)

    def __repr__(self):
        return self.what


def near(got, want):  # marginfi's weights were set from f32: 0.65 is kept as 0.64999998
    return abs(got - want) <= 1e-7 * max(1.0, abs(want))


def i80f48(x):  # marginfi's WrappedI80F48 {value: [u8; 16]}
    return Holds(lambda v: near(int.from_bytes(bytes(v["value"]), "little", signed=True) / 2**48, x), f"I80F48 {x}")


def f64(x):  # an f64 kept as [u8; 8]
    return Holds(lambda v: near(struct.unpack("<d", bytes(v))[0], x), f"f64 {x}")


# DLMM bin array 2 of a pair of bin step 10 holds bins 140..209; bin k's price is 1.001^k as Q64.64.
BIN_PRICES = Holds(lambda bins: len(bins) == 70 and all(
    abs(b["price"] / (1.001 ** (140 + k) * 2**64) - 1) < 1e-9 for k, b in enumerate(bins)), "1.001^(140..209)")

VALUES = [
    ("marginfi-Bank-DeyH7QxW.json", "marginfi-v2.json", "Bank", {
        "mint": "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263", "mint_decimals": 5,
        "group": "4qp6Fx6tnZkY5Wropq9wUYgtFxXKwE6viZxFHg3rdAG8",
        "liquidity_vault": "7FdQsXmCW3N5JQbknj3F9Yqq73er9VZJjGhEEMS8Ct2A", "liquidity_vault_bump": 252,
        "config.asset_weight_init": i80f48(0.5), "config.asset_weight_maint": i80f48(0.65),
        "config.liability_weight_init": i80f48(1.3), "config.liability_weight_maint": i80f48(1.2),
        "config.deposit_limit": 10**17, "config.borrow_limit": 2640570785700000,
        "config.operational_state": "Operational", "config.oracle_setup": "PythPushOracle",
        "config.oracle_keys[0]": "8ihFLu5FimgTQ1Unh4dVyEHUGodJ5gJQCrQf4KUVB9bN", "config.risk_tier": "Collateral",
        "config.total_asset_value_init_limit": 38866899, "config.oracle_max_age": 120, "last_update": 1724181535}),
    ("marginfi-MarginfiAccount-7qoe1Xmd.json", "marginfi-v2.json", "MarginfiAccount", {
        "authority": "J5TXjZFLDRHJyivYpxmdu38izekJUvRnDnzvY2PZ2krF",
        "group": "4ksRznjYZiXgZLpyDWi9ndPoi8zJE7XztEQZxAFonffX",
        # the balances table of tests/e05_gappyPositions.spec.ts
        "lending_account.balances[0].bank_pk": "AS6TnrAic2NV4eppLbLwyNj6LYzDV9SdBRjZiJmavYSN",
        "lending_account.balances[0].asset_shares": i80f48(1e7),
        "lending_account.balances[1].active": 0,
        "lending_account.balances[2].bank_pk": "7rw9Bbg3R3vQ3LDApqfrYS1qTV3vFpigWJFUmh7eZfwE",
        "lending_account.balances[2].asset_shares": i80f48(1e9),
        "lending_account.balances[3].active": 0,
        "lending_account.balances[4].bank_pk": "HPAZgpFHTA9Wqx22Gk1C75Wyonxz1L55LJhXom4uZfaL",
        "lending_account.balances[4].asset_shares": i80f48(0), "lending_account.balances[4].liability_shares": i80f48(1e6),
        "health_cache.prices[1]": f64(167.58), "health_cache.timestamp": 1745613451}),
    ("marginfi-MarginfiGroup-4qp6Fx6t.json", "marginfi-v2.json", "MarginfiGroup", {
        "admin": "CYXEgwbPHu2f9cY3mcUkinzDoDcsSan7myh1uBvYRbEw", "banks": 24,
        "fee_state_cache.program_fee_rate": i80f48(0x133333333333 / 2**48),
        "delegate_limit_admin": "BACjgGYJYwVRRpnHJfcjykfkp2Xu118ghx5fYL1wgY7p"}),
    ("orca-Whirlpool-HJPjoWUr.json", "orca-whirlpool.json", "Whirlpool", {
        "token_mint_a": WSOL, "token_mint_b": USDC,
        "token_vault_a": "3YQm7ujtXWJU2e9jhp2QGHpnn1ShXn12QjvzMvDgabpX",
        "token_vault_b": "2JTw1fE2wz1SymWUQ7UqpVtrTuKjcd6mWwYwUJUCh2rq",
        "whirlpools_config": "2LecshUwdy9xi7meFgHtFJQNSKk4KdTrcpvaB56dP2NQ",
        "tick_spacing": 64, "fee_rate": 3000, "protocol_fee_rate": 300, "liquidity": 7989639642394,
        "sqrt_price": 2794769106389471563, "tick_current_index": -37745,
        "reward_infos[0].mint": "orcaEKTdK7LKz57vaAYr9QeNsVEPfiu6QeMU1kektZE"}),
    ("orca-Position-CSDCKnh8.json", "orca-whirlpool.json", "Position", {
        "whirlpool": "7qbRF6YsyGuLUVs6Y1q64bdVrfe4ZcUUz1JRdoVNUJnm",
        "position_mint": "GSHnZjUx3zZzWzjGn6miXFDKpMWGyQXBE6RP8aUr15tF",
        "tick_lower_index": -38992, "tick_upper_index": -36512,
        "fee_growth_checkpoint_a": 752011713839301289, "fee_growth_checkpoint_b": 16409575954810835}),
    ("meteora_dlmm-LbPair-6StaAqeV.json", "meteora-dlmm-lb_clmm.json", "LbPair", {
        "token_x_mint": "27G8MtK7VtTcCHkpASjSDdkWWYfoqT6ggEuKidVJidD4",
        "token_y_mint": "HUBsveNpjo5pWqNkH57QzxjQASdTVXcSK7bVKTSZtcSX",
        "reserve_x": "GsFx4ZtbojMJgwfjkse8wu7e1P9KSPA1JaLXKrH8xHP6",
        "reserve_y": "9Xb8K1CKzwERAZL9ezVxpnYtgtpic6ag3fxfUwDqD5wR",
        "bin_step": 8, "active_id": 3774, "bin_array_bitmap[8]": 0x00FF000000000000,  # arrays 48..55, 3774 in 53
        "parameters.base_factor": 6250, "parameters.min_bin_id": -54607, "parameters.max_bin_id": 54607,
        "reward_infos[0].vault": "63fis8tQGp3hFDEkcJD74V3eg8k8SEHwonvCkgt9w1bk",
        "reward_infos[0].reward_rate": 177919985278834409876543}),
    ("meteora_dlmm-LbPair-FJbEo74c.json", "meteora-dlmm-lb_clmm.json", "LbPair", {
        "token_x_mint": "FQuMNJ6UcrkA3xMLsmmLL8sk47RkZYod57mX3a8w1brg", "token_y_mint": WSOL,
        "bin_step": 10, "parameters.base_factor": 10000, "pair_type": 3,
        "bin_array_bitmap[7]": 0xA000000000000000, "bin_array_bitmap[8]": 5}),  # arrays -3, -1, 0, 2
    ("meteora_dlmm-BinArray-6ipV2Sn7.json", "meteora-dlmm-lb_clmm.json", "BinArray", {
        "index": 2, "lb_pair": "FJbEo74c2W4QLBBVUfUvi8VBWXtMdJVPuFpq2f6UV1iB", "bins": BIN_PRICES,
        "bins[1].amount_x": 10**9, "bins[1].liquidity_supply": 10**9 * 21238539429257850993}),
    ("raydium_clmm-PoolState-3ucNos4N.json", "raydium-amm_v3-clmm.json", "PoolState", {
        "amm_config": "3h2e43PunVA5K34vwKCLHWhZF4aZpyaC9RmxvshGAQpL", "token_mint_0": WSOL, "token_mint_1": USDC,
        "token_vault_0": "4ct7br2vTPzfdmY3S5HLtTxcGSBfn6pnw98hsS6v359A",
        "token_vault_1": "5it83u57VRrVgc51oNV19TTmAJuffPx5GtGwQr7gQNUo",
        "mint_decimals_0": 9, "mint_decimals_1": 6, "tick_spacing": 1, "liquidity": 295329867866867,
        "sqrt_price_x64": 9082733951060270080, "tick_current": -14171,
        "reward_infos[0].token_mint": "4k3Dyjzvzp8eMZWUXbBCjEvwSkkk59S5iCNLY3QrkX6R",
        "reward_infos[0].emissions_per_second_x64": 30500568904943041694000,
        "reward_infos[2].authority": "CJKrW95iMGECdjWtdDnWDAx2cBH7pFE9VywnULfwMapf",
        "tick_array_bitmap": [13233894920445562880, 16138067892758380435] + [2**64 - 1] * 3 + [
            337992908638485503, 4516828126648832, 1143210130, 1073840145, 72057594037927936, 0, 0, 0, 2**63, 0, 0],
        "total_fees_token_0": 16624154768112, "recent_epoch": 848}),
    ("raydium_cpswap-PoolState-Q2sPHPdU.json", "raydium-cp_swap.json", "PoolState", {
        "amm_config": "D4FPEruKEHrG5TenZ2mpDGEfu1iUvTiqBxvpU8HLBvC2",
        "token_0_vault": "HgNPDD8bpbSrGyHegiCT5xrYxHTfwLfZydwGkjNCJRKA",
        "token_1_vault": "9xsCiNwYQXM3ZeHFSVj9JQdP1vREJREpN23f6wvxA1ty",
        "token_0_mint": WSOL, "token_1_mint": "Dz9mQ9NzkBcCsuGPFJ3r1bS4wgqKMHBPiVuniW8Mbonk",
        "mint_0_decimals": 9, "mint_1_decimals": 6, "lp_mint_decimals": 9, "lp_supply": 4192510124589,
        "protocol_fees_token_1": 286186090, "open_time": 1746886997, "recent_epoch": 833}),
    ("meteora_damm_v2-Pool-6CXXieC3.json", "meteora-damm_v2-cp_amm.json", "Pool", {
        "token_a_mint": "G1DXVVmqJs8Ei79QbK41dpgk2WtXSGqLtx9of7o8BAGS", "token_b_mint": WSOL,
        "token_a_vault": "9B3KPhHyDhUmNvjY2vk6JYs3vfUgPTzB9u1fWYsfK1s5",
        "token_b_vault": "wAx8Her71ffN9hNyh5nj6WR7m56tAGrkajNiEdoGy4G",
        "liquidity": 2461259741443399418112242871877920, "sqrt_min_price": 4295048016,
        "sqrt_max_price": 79226673521066979257578248091, "sqrt_price": 26122654118776782,
        "pool_fees.dynamic_fee.max_volatility_accumulator": 14460000,
        "pool_fees.dynamic_fee.bin_step_u128": 1844674407370955, "pool_fees.protocol_fee_percent": 20,
        "metrics.total_position": 32, "creator": "FhVo3mqL8PW5pH5U2CN4XE33DokiyZnUwuGpH2hmHLuM"}),
    ("switchboard-PullFeedAccountData-2wJdP1WM.json", "switchboard-sb_on_demand.json", "PullFeedAccountData", {
        "name": list(b"bSOL/USD".ljust(32, b"\0")), "queue": "A43DyUGA7s8eXPxqEjJY6EBu1KKbNgfxF8h17VAHn13w",
        "submissions[0].oracle": "5LD5BjwuNN397r4xDubXhhdxX3SSx9wS4ub33J64pjfW",
        "submissions[0].value": 95122405417700000000, "result.num_samples": 1, "historical_result_idx": 30,
        "historical_results[30]": {"std_dev": 0.0, "mean": 95.22747802734375, "slot": 436428669}}),
    ("pump-BondingCurve-chainstack-getAccountInfo-slot285247740.json", "pump-legacy", "BondingCurve", {
        "real_sol_reserves": 73551852 - (49 + 128) * 6960,  # lamports less the rent of 49 bytes
        "virtual_sol_reserves": 72319932 + 30 * 10**9,  # + pump's 30 initial virtual SOL
        "real_token_reserves": 790519577927421,
        "virtual_token_reserves": 790519577927421 + 279_900_000_000_000,
        "token_total_supply": 10**15, "complete": False}),
    ("pump_amm-Pool-GUXAutvX.json", "pump-fun-pump_amm.json", "Pool", {
        "pool_bump": 255, "creator": "42Y4PfN8eHhZJbp5vfqc59sMhw85g1QSdQ4WNYQgkgcM",
        "base_mint": "3Sf6oKCeEqCuco4aYtKHHDTBYLAWHiL47QjvkW1UYDEG", "quote_mint": WSOL,
        "lp_mint": "bLafbwgNhmVvqLuxQWVrFY7QiwTU5FWNtd21WzAwxAo",
        "pool_base_token_account": "8ou9YbVwLfMRXFq1ejqJcdXX9GM1bSAZUKrYzox3bSvc",
        "pool_quote_token_account": "CLvCQE8qTSPmHJrxDqyrwP5hCvvuoha8tu7jY7bhxHFZ",
        "lp_supply": 4193388308335, "coin_creator": "GeUnv1jmtviRbR7Gu1JnXSGkUMUgFVBHuEVQVpTaUX1W"}),
]
IDL_OF = {file: idl for file, idl, _, _ in VALUES}
FILES = sorted(p.name for p in ACCOUNTS.glob("*.json"))
UNREAD = {"pump_amm-Pool-GUXAutvX.json": 55}  # 300 bytes, Borsh Pool reads 245: the rest is zeros


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


FORMS = {
    "json text": lambda d, f: one(d.decode_accounts(text(f)), f),
    "json bytes": lambda d, f: one(d.decode_accounts(text(f).encode()), f),
    "bytes": lambda d, f: d.decode_account(raw(f)),
    "base64 text": lambda d, f: d.decode_account(base64.b64encode(raw(f)).decode()),
    "base58": lambda d, f: d.decode_account(encoded(f, "base58")),
    "base64+zstd": lambda d, f: d.decode_account(encoded(f, "base64+zstd")),
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


# Same discriminator in two programs: only the owner tells their accounts apart.
COLLISIONS = [
    ("meteora_damm_v2-Pool-6CXXieC3.json", "pump-fun-pump_amm.json"),
    ("pump_amm-Pool-GUXAutvX.json", "meteora-damm_v2-cp_amm.json"),
    ("raydium_clmm-PoolState-3ucNos4N.json", "raydium-cp_swap.json"),
    ("raydium_cpswap-PoolState-Q2sPHPdU.json", "raydium-amm_v3-clmm.json"),
]


@pytest.mark.parametrize("file, other", COLLISIONS)
def test_the_owner_decides_between_programs_sharing_a_discriminator(file, other):
    d = decoder(other)
    owner = account(file)["owner"]
    assert raw(file)[:8] == raw(next(f for f, idl in IDL_OF.items() if idl == other))[:8]
    with pytest.raises(varkel.AccountError) as e:
        d.decode_account(account(file))
    assert e.value.reason == "owner"
    assert owner in str(e.value) and d.program_id in str(e.value)
    [acc] = d.decode_accounts(text(file))
    assert (acc.pubkey, acc.owner, acc.name, acc.value) == (json.loads(text(file))["pubkey"], owner, None, None)
    assert "owned by " + owner in acc.error


def test_a_getmultipleaccounts_result_keeps_order_slot_and_missing_accounts():
    files = ["meteora_dlmm-BinArray-6ipV2Sn7.json", "meteora_dlmm-LbPair-FJbEo74c.json"]
    doc = {"jsonrpc": "2.0", "id": 7,
           "result": {"context": {"slot": 123456789}, "value": [account(files[0]), None, account(files[1])]}}
    got = decoder("meteora-dlmm-lb_clmm.json").decode_accounts(json.dumps(doc))
    assert [(a.name, a.slot, a.lamports, a.error) for a in got] == [
        ("BinArray", 123456789, 71437440, None), (None, 123456789, None, "no such account"),
        ("LbPair", 123456789, 7182720, None)]
