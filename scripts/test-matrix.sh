#!/usr/bin/env bash
# Runs the Python tests on every other supported interpreter this machine has,
# after scripts/test.sh has run them on the free-threaded one: the GIL builds
# of CPython 3.11, 3.12, 3.13 and 3.14 found on PATH or among pyenv's versions
# (PYENV_ROOT, default ~/.pyenv), and CPython 3.14 from Debian sid's binary
# packages (tools/sid-python.sh; fetched into the cache once, skipped with a
# message when it cannot be fetched). Also runs the typing checks (mypy
# --strict, stubtest) and the Dask example on one GIL interpreter.
#
# Each interpreter gets its own virtual environment in the cache
# (VARKEL_CACHE, default ~/.cache/varkel) and its own build folder
# build/matrix/<label>, both reused by later runs; the extension and the
# test-only module are compiled once per interpreter, warnings as errors.
# Arguments are passed to pytest. VARKEL_MATRIX="3.12 sid-3.14" limits the
# run to those labels' series; VARKEL_MATRIX=none skips it.
#
# Prints one summary line per interpreter and a final line naming those that
# ran; exits non-zero when a build or a test run failed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
ONLY=${VARKEL_MATRIX:-all}
source scripts/pythons.sh
TOOLS=("scikit-build-core>=0.10" cmake ninja pytest hypothesis tqdm)
TYPING_TOOLS=(mypy)
DASK_EXTRA=("dask[distributed]>=2024.1")
# Arrow readers of parse_logs_arrow's tables (no free-threaded wheels of polars
# and duckdb yet): their round-trip tests run on the checking interpreter.
COLUMNAR_TOOLS=(pyarrow polars duckdb zstandard)
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
log() { echo "test-matrix: $*" >&2; }

[ "$ONLY" = none ] && { log "skipped (VARKEL_MATRIX=none)"; exit 0; }
wanted() { [ "$ONLY" = all ] || [[ " $ONLY " == *" $1 "* ]]; }

SUMMARY=()
RAN=()
FAILED=0

collect_interpreters
SUMMARY+=("${NOTES[@]}")

# mypy and Dask may not install on the free-threaded build: the typing checks
# and the Dask example run on one GIL interpreter, 3.13 where there is one.
TYPING_LABEL=""
for label in "${LABELS[@]}"; do [ "$label" = cp313 ] && TYPING_LABEL=$label; done
[ -n "$TYPING_LABEL" ] || [ ${#LABELS[@]} -eq 0 ] || TYPING_LABEL=${LABELS[0]}

# Builds and installs varkel into the interpreter's venv, then runs pytest
# (on the typing interpreter also mypy, stubtest and the Dask example, which
# must not skip there).
run_one() {
  local label=$1 py=$2 origin=$3; shift 3
  local venv="$CACHE/venvs/$label" build="build/matrix/$label" version cxxflags="" require_dask=0
  version=$("$py" -c 'import sys; print(sys.version.split()[0])')
  log "== $label: CPython $version ($origin: $py)"
  if ! make_venv "$py" "$venv" || ! install_once "$venv" tools "${TOOLS[@]}"; then
    SUMMARY+=("$label $version: environment could not be set up"); FAILED=1; return 0
  fi
  if [ "$label" = "$TYPING_LABEL" ]; then
    if ! install_once "$venv" extras "${TYPING_TOOLS[@]}" "${DASK_EXTRA[@]}" "${COLUMNAR_TOOLS[@]}"; then
      tail -n 5 "$venv/.varkel-extras.log" >&2
      SUMMARY+=("$label $version: mypy or Dask could not be installed"); FAILED=1; return 0
    fi
    require_dask=1
  fi
  cxxflags=$(debian_include_flag "$py")
  if ! CXXFLAGS="$cxxflags ${CXXFLAGS:-}" "$venv/bin/python" -m pip install -q --disable-pip-version-check \
      --no-build-isolation --no-deps --force-reinstall -Cbuild-dir="$build" \
      -Ccmake.define.VARKEL_BUILD_TESTING_MODULE=ON -Ccmake.define.VARKEL_WERROR=ON . >"$venv/.varkel-build.log" 2>&1; then
    tail -n 40 "$venv/.varkel-build.log" >&2
    SUMMARY+=("$label $version: BUILD FAILED"); FAILED=1; return 0
  fi
  RAN+=("$label")
  local result="build ok"
  if (cd tests && VARKEL_REQUIRE_DASK=$require_dask VARKEL_TESTING_DIR="$ROOT/$build" \
      "$venv/bin/python" -m pytest -q -p no:cacheprovider python "$@"); then
    result+=", tests passed"
  else
    result+=", TESTS FAILED"; FAILED=1
  fi
  if [ "$label" = "$TYPING_LABEL" ]; then
    # stubtest against the installed module; mypy with pyproject.toml's settings.
    if (cd tests && "$venv/bin/python" -m mypy.stubtest varkel._varkel) &&
      "$venv/bin/python" -m mypy --strict python/varkel examples/dask/backfill.py; then
      result+=", stubtest and mypy --strict clean"
    else
      result+=", TYPING CHECKS FAILED"; FAILED=1
    fi
  fi
  SUMMARY+=("$label $version ($origin): $result")
}

for i in "${!LABELS[@]}"; do
  run_one "${LABELS[$i]}" "${PYS[$i]}" "${ORIGINS[$i]}" "$@"
done

echo
for line in "${SUMMARY[@]}"; do echo "test-matrix: $line"; done
echo "test-matrix: Python tests ran on: ${VARKEL_MAIN_LABEL:-the free-threaded interpreter (scripts/test.sh)}${RAN[0]:+$(printf ', %s' "${RAN[@]}")}"
exit "$FAILED"
