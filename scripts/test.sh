#!/usr/bin/env bash
# Sets up everything (scripts/setup.sh), checks the C++ formatting, then runs
# the C++ unit tests (CTest) and the Python tests (pytest against the
# installed package) on the free-threaded interpreter, then the Python tests
# on every other supported interpreter found, with the typing checks and the
# Dask example (scripts/test-matrix.sh; VARKEL_MATRIX=none skips it).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends libgtest-dev >/dev/null
fi
bash scripts/check-format.sh
python3 scripts/check-layers.py
bash scripts/setup.sh

VENV=.venv
CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
HEADERS314=""
[ -f "$CACHE/python3.14-headers/include/python3.14/Python.h" ] && HEADERS314="$CACHE/python3.14-headers/include"
PATH="$PWD/$VENV/bin:$PATH"
# VARKEL_FIXTURES moves the shared real-data fixtures (default: ../shared/fixtures).
FIXTURES=${VARKEL_FIXTURES:-$(cd .. && pwd)/shared/fixtures}
cmake -S . -B build/cpp -G Ninja -DVARKEL_BUILD_TESTS=ON -DVARKEL_WERROR=ON \
  -DVARKEL_PY314_HEADERS="$HEADERS314" -DPython_EXECUTABLE="$PWD/$VENV/bin/python" \
  -DVARKEL_FIXTURES_DIR="$FIXTURES" >/dev/null
cmake --build build/cpp
if ! ctest --test-dir build/cpp --output-on-failure -j2 >build/cpp/ctest.log 2>&1; then
  cat build/cpp/ctest.log
  exit 1
fi
tail -n 3 build/cpp/ctest.log

# Dask does not install on every interpreter (no free-threaded wheels of its
# dependencies yet): where it does not, its test skips here and runs in the
# matrix below. Tried once per interpreter version.
dask_stamp="$VENV/.varkel-dask-$("$VENV/bin/python" -c 'import sys; print(sys.version.split()[0])')"
if [ ! -f "$dask_stamp" ]; then
  if "$VENV/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: "dask[distributed]>=2024.1" \
      >"$dask_stamp.log" 2>&1; then
    echo installed >"$dask_stamp"
  else
    echo "dask[distributed] does not install on this interpreter (wheels only)" | tee "$dask_stamp" >&2
  fi
fi

# Run pytest from outside the source tree so that it imports the installed
# package; the test-only module _varkel_testing comes from the C++ build.
export VARKEL_TESTING_DIR="$PWD/build/cpp"
(cd tests && "../$VENV/bin/python" -m pytest -q -p no:cacheprovider python "$@")
# Once more with every test body in 4 threads at once, sharing the module's
# decoders and the tests' fixtures (tests marked thread_unsafe run once).
(cd tests && "../$VENV/bin/python" -m pytest -q -p no:cacheprovider --parallel-threads=4 python "$@")

VARKEL_MAIN_LABEL="$("$VENV/bin/python" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}t {sys.version.split()[0]}")') (free-threaded)" \
  bash scripts/test-matrix.sh "$@"
