#!/usr/bin/env bash
# Sets up everything from a fresh clone: a free-threaded CPython (built once
# into ~/.cache/varkel when the machine has none), the virtual environment
# .venv with the build and test tools, and varkel installed into it.
# Idempotent: a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}  # two cores at most
PY=$(bash tools/bootstrap-python.sh | tail -n 1)
VENV=.venv
if [ ! -x "$VENV/bin/python" ] || ! "$VENV/bin/python" -c 'import sys; sys.exit(0 if sys._is_gil_enabled() is False else 1)' 2>/dev/null; then
  rm -rf "$VENV"
  "$PY" -m venv "$VENV"
fi
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: \
  "scikit-build-core>=0.10" cmake ninja pytest hypothesis  # wheels only: nothing to compile
# pyarrow reads the tables of parse_logs_arrow in the tests and the benchmark
# (varkel itself does not depend on it). Where it has no wheel for the
# interpreter, its tests skip.
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: pyarrow \
  || echo "setup: pyarrow has no wheel for this interpreter; its tests will be skipped" >&2
# tqdm draws the command line's progress line (the optional extra
# varkel[cli]); its tests skip without it.
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: tqdm \
  || echo "setup: tqdm not installed; the progress line's test will be skipped" >&2
# Every test body in N threads at once (--parallel-threads); where it does not
# install, tests/python/conftest.py provides the same option.
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: pytest-run-parallel 2>/dev/null ||
  echo "setup: pytest-run-parallel not installed; tests/python/conftest.py provides --parallel-threads" >&2
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation .
echo "varkel installed into $VENV ($("$VENV/bin/python" -c 'import sys; print(sys.version.split()[0])'), free-threaded)" >&2
