"""python -m varkel accounts on the real accounts (tests/data/accounts): one
record per account with decode_accounts' values, or one Parquet table per
account type with decode_accounts_arrow's rows; one document per line or a
file that is one document; accounts and documents that do not decode."""

import json
import subprocess
import sys

import pytest

import varkel
from helpers import DATA, REPO, fixture
from varkel._output import to_json

ACCOUNTS = DATA / "accounts"
MARGINFI_OWNER = "2jGhuVUuy3umdzByFx8sNWUAaf5vaeuDm78RDPEnhrMr"  # the localnet id the dumps carry (SOURCES.md)


def idl(name):
    if name == "pump-legacy":
        return str(REPO / "examples" / "pump-legacy" / "idl.json")
    if name == "marginfi-v2.json":  # its IDL has no address
        return f"{fixture('idl', 'current', name)}={MARGINFI_OWNER}"
    return str(fixture("idl", "current", name))


# IDL -> its program's files: pretty-printed documents (marginfi, Switchboard,
# the normalised ones), one-line dumps (Orca, DLMM) and a getAccountInfo response (pump).
PROGRAMS = {
    "marginfi-v2.json": "marginfi-*.json", "orca-whirlpool.json": "orca-*.json",
    "meteora-dlmm-lb_clmm.json": "meteora_dlmm-*.json", "pump-legacy": "pump-BondingCurve-*.json",
    "switchboard-sb_on_demand.json": "switchboard-*.json", "raydium-cp_swap.json": "raydium_cpswap-*.json",
}


def run(*args, stdin=""):
    return subprocess.run([sys.executable, "-m", "varkel", "accounts", *map(str, args)], input=stdin,
                          capture_output=True, text=True, timeout=60)


def records(accounts):
    return [json.loads(to_json({"pubkey": a.pubkey, "name": a.name, "owner": a.owner, "lamports": a.lamports,
                                "slot": a.slot, "unread": a.unread, "error": a.error, "value": a.value}))
            for a in accounts]


def decoder_of(argument):
    path, _, program_id = argument.partition("=")
    decoder = varkel.EventDecoder(open(path).read())
    return decoder.with_program_id(program_id) if program_id else decoder


@pytest.mark.parametrize("name", PROGRAMS)
def test_one_record_per_account(name):
    files = sorted(ACCOUNTS.glob(PROGRAMS[name]))
    decoder = decoder_of(idl(name))
    result = run("--idl", idl(name), "--stats", *files)
    assert result.returncode == 0, result.stderr
    expected = [r for f in files for r in records(decoder.decode_accounts(f.read_text()))]
    assert [json.loads(line) for line in result.stdout.splitlines()] == expected
    assert all(r["error"] is None for r in expected)
    lines = sum(len(f.read_text().splitlines()) for f in files)
    assert result.stderr == (f"varkel: {lines} lines, {len(files)} documents, {len(files)} accounts, "
                             f"{len(files)} decoded, 0 did not decode\n")


def test_documents_one_a_line_and_a_document_on_standard_input(tmp_path):
    dumps = sorted(ACCOUNTS.glob("meteora_dlmm-*.json"))
    path = tmp_path / "dumps.jsonl"
    path.write_text("\n".join(f.read_text().strip() + "\n" for f in dumps))  # blank lines between
    result = run("--idl", idl("meteora-dlmm-lb_clmm.json"), path)
    assert result.returncode == 0, result.stderr
    got = [json.loads(line) for line in result.stdout.splitlines()]
    decoder = decoder_of(idl("meteora-dlmm-lb_clmm.json"))
    assert got == [r for f in dumps for r in records(decoder.decode_accounts(f.read_text()))]
    bank = (ACCOUNTS / "marginfi-Bank-DeyH7QxW.json").read_text()
    assert bank.count("\n") > 5  # pretty-printed
    stdin = run("--idl", idl("marginfi-v2.json"), stdin=bank)
    assert [json.loads(line)["name"] for line in stdin.stdout.splitlines()] == ["Bank"]


def test_accounts_that_do_not_decode_and_documents_that_are_none(tmp_path):
    orca = ACCOUNTS / "orca-Position-CSDCKnh8.json"
    path = tmp_path / "mixed.jsonl"
    # A broken first line is not the start of a pretty-printed document: the lines after it are read.
    path.write_text("{not json\n" + orca.read_text().strip() + "\n" + (ACCOUNTS / "meteora_dlmm-LbPair-6StaAqeV.json")
                    .read_text().strip() + "\n")
    result = run("--idl", idl("orca-whirlpool.json"), path)
    assert result.returncode == 1
    got = [json.loads(line) for line in result.stdout.splitlines()]
    assert [(r["name"], r["error"]) for r in got] == [
        ("Position", None),
        (None, "owned by LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo, not by the program "
               "whirLbMiicVdio4qvUfM5KAg6Ct8VwpYzGff3uctyCc")]
    assert result.stderr == f"varkel: {path}:1: accounts JSON: key must be a string at line 1 column 2\n"
    # Nothing decoded: the summary says why.
    other = run("--idl", idl("orca-whirlpool.json"), ACCOUNTS / "meteora_dlmm-LbPair-6StaAqeV.json")
    assert other.returncode == 0
    assert other.stderr.endswith("1 accounts, 0 decoded, 1 did not decode: the first says: owned by "
                                 "LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo, not by the program "
                                 "whirLbMiicVdio4qvUfM5KAg6Ct8VwpYzGff3uctyCc\n")


def test_parquet_tables_per_account_type(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet", reason="pyarrow is not installed for this interpreter")
    pa = pytest.importorskip("pyarrow")
    argument = idl("orca-whirlpool.json")
    files = sorted(ACCOUNTS.glob("orca-*.json")) + [ACCOUNTS / "meteora_dlmm-LbPair-6StaAqeV.json"] + \
        sorted(ACCOUNTS.glob("orca-*.json"))
    result = run("--idl", argument, "--format", "parquet", "--output", tmp_path / "d", *files)
    assert (result.returncode, result.stdout) == (0, "")
    assert result.stderr == (f"varkel: {files[2]}:1: 6StaAqeVjKUPTgMLmcLmdpmUjoYHRcZ6uViLdWNdUghM: owned by "
                             "LBUZKhRxPF3XUpBCjp4YzTKgLccjZhTSDM9YuVaPwxo, not by the program "
                             "whirLbMiicVdio4qvUfM5KAg6Ct8VwpYzGff3uctyCc\n")
    decoder = decoder_of(argument)
    program = tmp_path / "d" / decoder.program_id / "account"
    assert sorted(p.name for p in program.iterdir()) == ["Position", "Whirlpool"]
    for name in ("Position", "Whirlpool"):
        expected = [row for f in files for row in pa.table(decoder.decode_accounts_arrow(f.read_text())[name])
                    .to_pylist()]
        assert len(expected) == 2
        assert pq.read_table(program / name).to_pylist() == expected
