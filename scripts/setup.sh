#!/usr/bin/env bash
# Sets up everything from a fresh clone: a free-threaded CPython (built once
# into ~/.cache/varkel when the machine has none), the virtual environment
# .venv with the build and test tools, and varkel installed into it.
# Idempotent, and cheap when nothing changed: a stamp in .venv records the
# sources it installed (the commit, the uncommitted changes and the untracked
# files), so that the scripts that call it one after another (the test
# command, then the fuzz command and the sanitizer build) set up only once.
# VARKEL_SETUP=always runs it whatever the stamp says.
set -euo pipefail
cd "$(dirname "$0")/.."

VENV=.venv
STAMP=$VENV/.varkel-setup
fingerprint() {
  git rev-parse --is-inside-work-tree >/dev/null 2>&1 || return 0
  { git rev-parse HEAD; git diff HEAD; git ls-files -z -o --exclude-standard | xargs -0 -r sha256sum; } |
    sha256sum | cut -d' ' -f1
}
SOURCES=$(fingerprint)
if [ -n "$SOURCES" ] && [ "${VARKEL_SETUP:-}" != always ] && [ -f "$STAMP" ] &&
  [ "$(cat "$STAMP")" = "$SOURCES" ] && [ -x "$VENV/bin/python" ]; then
  echo "setup: .venv is up to date with these sources" >&2
  exit 0
fi

export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}  # two cores at most
PY=$(bash tools/bootstrap-python.sh | tail -n 1)
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
# zstandard decompresses "base64+zstd" account data before Python 3.14 (whose
# compression.zstd does it); those tests skip without it.
"$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: zstandard \
  || echo "setup: zstandard has no wheel for this interpreter; the base64+zstd tests will be skipped" >&2
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
[ -n "$SOURCES" ] && echo "$SOURCES" >"$STAMP"
exit 0
