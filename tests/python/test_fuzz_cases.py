"""The Python fuzz script (fuzz/python_fuzz.py) against the installed package:
the first case of every kind of seed 0, and every saved case under
fuzz/regressions/python/, each run with the script's own outcome checks (a
batch equals its lines, a transaction gives the same events as a dict, as
text and alone or with other decoders, the Arrow tables hold parse_logs'
events...). Keeps the script runnable as the package and the tests' support
modules change, and replays what it once found."""

import importlib.util
import sys
from pathlib import Path

import pytest

FUZZ = Path(__file__).resolve().parents[2] / "fuzz"
KINDS = ["idl", "lines", "hostile", "sequence", "threads", "tx", "arrow"]

pytestmark = pytest.mark.thread_unsafe(reason="a case is a batch of checks; the threads kind starts its own threads")


@pytest.fixture(scope="module")
def fuzz():
    spec = importlib.util.spec_from_file_location("python_fuzz", FUZZ / "python_fuzz.py")
    module = importlib.util.module_from_spec(spec)
    sys.modules.setdefault("python_fuzz", module)
    spec.loader.exec_module(module)
    corpus = module.Corpus()
    return module, corpus, module.Runner(corpus)


@pytest.fixture(scope="module")
def first_cases(fuzz):
    module, corpus, _ = fuzz
    found = {}
    for index in range(2000):
        case = module.make_case(corpus, 0, index)
        found.setdefault(case["kind"], case)
        if len(found) == len(KINDS):
            break
    return found


@pytest.mark.parametrize("kind", KINDS)
def test_first_case_of_each_kind(fuzz, first_cases, kind):
    module, _, runner = fuzz
    # As a finding would be replayed: from the JSON form it is saved in.
    runner.run(module.from_json(module.to_json(first_cases[kind])))


REGRESSIONS = sorted((FUZZ / "regressions" / "python").glob("case-*.json"))


@pytest.mark.parametrize("path", REGRESSIONS, ids=[p.stem for p in REGRESSIONS])
def test_saved_case(fuzz, path):
    module, corpus, runner = fuzz
    case = module.from_json(path.read_text())
    if case.get("corpus", corpus.fingerprint) != corpus.fingerprint:
        pytest.skip("saved against the reference IDLs of the fixtures, which are not all present")
    runner.run(case)
