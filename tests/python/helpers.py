"""Builders shared by the Python tests: IDL documents, event lines, fixtures.

What the benchmark shares with the tests (base58, the Borsh encoder, random
values, discriminators, the fixture folder) is in tests/support/varkel_support.py.
"""

import base64
import importlib
import json
import os
import random
import struct as _struct  # `struct` below builds IDL structs
import sys
import sysconfig
import threading
from pathlib import Path

import pytest

from varkel_support import FIXTURES, event_discriminator

REPO = Path(__file__).resolve().parents[2]
# A free-threaded build (3.13t, 3.14t): the tests that watch the GIL stay off
# run there; GIL builds (3.11 to 3.14) run everything else alike.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def gil_enabled() -> bool:
    """Whether the GIL is on now (always on builds before 3.13)."""
    return getattr(sys, "_is_gil_enabled", lambda: True)()
DATA = REPO / "tests" / "data"

# Set by scripts/sanitize.sh: the package is the AddressSanitizer build.
SANITIZED = os.environ.get("VARKEL_SANITIZED") == "1"


def fixture(*parts: str) -> Path:
    """A file or folder of the shared fixtures; skips the test when absent."""
    path = FIXTURES.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"fixture not available: {path}")
    return path


def current_idl(events=(), types=(), **extra) -> str:
    """A current-format IDL document. `events` holds names, or (name, discriminator)."""
    doc = {
        "address": "Prog111111111111111111111111111111111111111",
        "metadata": {"name": "test", "version": "0.1.0", "spec": "0.1.0"},
        "instructions": [],
        "events": [
            {"name": e, "discriminator": event_discriminator(e)} if isinstance(e, str)
            else {"name": e[0], "discriminator": list(e[1])}
            for e in events
        ],
        "types": list(types),
    }
    doc.update(extra)
    return json.dumps(doc)


def struct(name: str, fields=None) -> dict:
    """A struct type definition; `fields` is a list of (name, type) or of types."""
    body = {"kind": "struct"}
    if fields is not None:
        body["fields"] = [
            {"name": f[0], "type": f[1]} if isinstance(f, tuple) else f for f in fields
        ]
    return {"name": name, "type": body}


def data_line(discriminator, payload: bytes = b"", prefix: str = "Program data: ") -> str:
    return prefix + base64.b64encode(bytes(discriminator) + payload).decode()


def same(a, b) -> bool:
    """Equal values of identical types; floats compared bit for bit."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return _struct.pack("<d", a) == _struct.pack("<d", b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def load_testing_module():
    """The test-only module built with the C++ tests (folder in
    VARKEL_TESTING_DIR), or None when it is not built."""
    folder = os.environ.get("VARKEL_TESTING_DIR")
    if not folder:
        return None
    if folder not in sys.path:
        sys.path.insert(0, folder)
    try:
        return importlib.import_module("_varkel_testing")
    except ImportError:
        return None


def load_testing_decode():
    """decode(idl_json, event_name, data) of the test-only module, or None."""
    module = load_testing_module()
    return None if module is None else module.decode


def log_lists(path):
    """Every list of log lines inside a transaction JSON document."""
    found = []

    def walk(node):
        if isinstance(node, dict):
            for value in node.values():
                walk(value)
        elif isinstance(node, list):
            if node and all(isinstance(x, str) for x in node) and any(x.startswith("Program ") for x in node):
                found.append(node)
            else:
                for value in node:
                    walk(value)

    walk(json.loads(path.read_text()))
    return found


def rss_bytes() -> int:
    """Resident memory of this process."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def results_in_threads(run, jobs, threads=6, rounds=4):
    """Runs run(job) for every job, `rounds` times over, in `threads` threads
    that start together, each in its own shuffled order. Returns each
    thread's list of results in job order, after checking that a job gave
    the same result in every round; an exception in a thread is raised here,
    naming the thread."""
    results = [None] * threads
    errors = []
    barrier = threading.Barrier(threads)

    def work(index):
        order = list(range(len(jobs)))
        random.Random(index).shuffle(order)
        barrier.wait()
        mine = {}
        try:
            for _ in range(rounds):
                for i in order:
                    got = run(jobs[i])
                    assert mine.setdefault(i, got) == got, f"job {i} changed between rounds"
        except BaseException as exc:  # raised below, with the thread's index
            errors.append((index, exc))
        results[index] = [mine.get(i) for i in range(len(jobs))]

    workers = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    if errors:
        index, exc = errors[0]
        raise AssertionError(f"thread {index} failed: {exc!r}") from exc
    return results
