#!/usr/bin/env bash
# Sets up everything (scripts/setup.sh), checks the C++ formatting, then runs
# the C++ unit tests (CTest) and the Python tests (pytest against the
# installed package).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends libgtest-dev >/dev/null
fi
bash scripts/check-format.sh
bash scripts/setup.sh

VENV=.venv
CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
HEADERS314=""
[ -f "$CACHE/python3.14-headers/include/python3.14/Python.h" ] && HEADERS314="$CACHE/python3.14-headers/include"
PATH="$PWD/$VENV/bin:$PATH"
cmake -S . -B build/cpp -G Ninja -DVARKEL_BUILD_TESTS=ON -DVARKEL_WERROR=ON \
  -DVARKEL_PY314_HEADERS="$HEADERS314" -DPython_EXECUTABLE="$PWD/$VENV/bin/python" >/dev/null
cmake --build build/cpp
if ! ctest --test-dir build/cpp --output-on-failure -j2 >build/cpp/ctest.log 2>&1; then
  cat build/cpp/ctest.log
  exit 1
fi
tail -n 3 build/cpp/ctest.log

# Run pytest from outside the source tree so that it imports the installed
# package; the test-only module _varkel_testing comes from the C++ build.
export VARKEL_TESTING_DIR="$PWD/build/cpp"
(cd tests && "../$VENV/bin/python" -m pytest -q -p no:cacheprovider python "$@")
# Once more with every test body in 4 threads at once, sharing the module's
# decoders and the tests' fixtures (tests marked thread_unsafe run once).
(cd tests && "../$VENV/bin/python" -m pytest -q -p no:cacheprovider --parallel-threads=4 python "$@")
