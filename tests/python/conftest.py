import sys
import threading
from pathlib import Path

import pytest

# Shared helpers importable from every test folder: helpers.py (pytest-side
# builders) here, varkel_support.py (base58, Borsh encoder, random values; also
# used by the benchmark) in tests/support.
HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "support"))
sys.path.insert(0, str(HERE))

# `--parallel-threads=N` runs every test body in N threads at once. The
# pytest-run-parallel plugin provides it where it is installed; otherwise the
# small equivalent below does: the body runs N times concurrently, released
# together by a barrier, and the first failure (or skip) of any thread is the
# test's. Tests marked thread_unsafe run once, as usual.
_FALLBACK = False


def pytest_addoption(parser):
    global _FALLBACK
    try:
        parser.addoption("--parallel-threads", type=int, default=1,
                         help="run every test body in this many threads at once")
    except ValueError:  # the plugin owns the option
        return
    _FALLBACK = True


def pytest_configure(config):
    config.addinivalue_line("markers", "thread_unsafe(reason): run only in one thread under --parallel-threads")


def pytest_collection_modifyitems(config, items):
    if str(config.getoption("--parallel-threads")) == "1":
        return
    for item in items:
        # Hypothesis already runs a test body over many examples; its engine
        # in 4 threads at once only multiplies the time of the pass.
        if getattr(getattr(item, "obj", None), "is_hypothesis_test", False):
            item.add_marker(pytest.mark.thread_unsafe(reason="hypothesis drives its own examples"))


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    if not _FALLBACK:
        return None
    count = int(pyfuncitem.config.getoption("--parallel-threads"))
    if count <= 1 or pyfuncitem.get_closest_marker("thread_unsafe"):
        return None
    arguments = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}
    barrier = threading.Barrier(count)
    failures = []

    def body():
        try:
            barrier.wait()
            pyfuncitem.obj(**arguments)
        except BaseException as failure:  # noqa: BLE001 - re-raised on the test's thread
            failures.append(failure)

    threads = [threading.Thread(target=body) for _ in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        raise failures[0]
    return True
