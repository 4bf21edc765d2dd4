#!/usr/bin/env bash
# Find or build a free-threaded CPython (3.14t preferred, 3.13t as fallback) and
# print its path as the last line of standard output.
#
# Order of search: $PYTHON, python3.14t / python3.13t on PATH, then the cache
# (default ~/.cache/varkel; VARKEL_CACHE overrides). When none works, the newest
# python3.X source that Debian's archive serves (sid, forky, trixie) is fetched
# through a private apt configuration (deb-src lines only; the system's apt
# setup is not touched), configured with --disable-gil and installed into the
# cache. Running it again finds the cached interpreter and does nothing else.
#
# Also fetches, when missing, the development headers of CPython 3.14 from
# sid's libpython3.14-dev into the cache (used by the build to compile the
# extension once against 3.14). Failure to fetch them is reported, not fatal.
set -euo pipefail

SERIES_LIST=${PY_SERIES:-3.14 3.13}
CACHE=${VARKEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varkel}
JOBS=${JOBS:-$(nproc)}
log() { echo "bootstrap-python: $*" >&2; }

works() {
  [ -n "$1" ] && command -v "$1" >/dev/null 2>&1 &&
    "$1" -c 'import sys, ssl, zlib, ctypes; sys.exit(0 if sys._is_gil_enabled() is False else 1)' 2>/dev/null
}

find_python() {
  if [ -n "${PYTHON:-}" ] && works "$PYTHON"; then command -v "$PYTHON"; return 0; fi
  local s
  for s in $SERIES_LIST; do
    if works "python${s}t"; then command -v "python${s}t"; return 0; fi
  done
  for s in $SERIES_LIST; do
    if works "$CACHE/cpython-${s}t/bin/python${s}t"; then echo "$CACHE/cpython-${s}t/bin/python${s}t"; return 0; fi
  done
  return 1
}

# private_apt_setup: apt with a private source list and private state.
source "$(dirname "${BASH_SOURCE[0]}")/private-apt.sh"

build_python() {
  export DEBIAN_FRONTEND=noninteractive
  log "no free-threaded interpreter found; building one into $CACHE"
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends \
    build-essential pkg-config xz-utils debian-archive-keyring \
    libssl-dev zlib1g-dev libffi-dev liblzma-dev libbz2-dev libzstd-dev \
    libsqlite3-dev libreadline-dev libncurses-dev uuid-dev \
    libgdbm-dev libgdbm-compat-dev >/dev/null

  local work; work=$(mktemp -d /tmp/varkel-cpython.XXXXXX)
  trap 'rm -rf "$work"' RETURN
  private_apt_setup deb-src "$work/apt"
  mkdir -p "$work/dl" "$work/src"

  local s v series=""
  for s in $SERIES_LIST; do
    for v in $(apt-cache "${APT_OPTS[@]}" showsrc --only-source "python$s" 2>/dev/null | sed -n 's/^Version: //p' | sort -urV); do
      rm -f "$work/dl"/*
      if (cd "$work/dl" && apt-get "${APT_OPTS[@]}" source -qq --download-only --tar-only "python$s=$v" >/dev/null 2>&1); then
        series=$s; break 2
      fi
    done
  done
  [ -n "$series" ] || { log "no python source package of '$SERIES_LIST' could be downloaded"; return 1; }

  local tarball prefix
  tarball=$(ls "$work/dl"/python"${series}"_*.orig.tar.* | head -1)
  prefix="$CACHE/cpython-${series}t"
  log "building $(basename "$tarball") into $prefix"
  tar -xf "$tarball" -C "$work/src" --strip-components=1
  (
    cd "$work/src"
    ./configure --prefix="$prefix" --disable-gil --with-ensurepip=install --disable-test-modules >"$work/configure.log" 2>&1 ||
      { tail -30 "$work/configure.log" >&2; exit 1; }
    make -j"$JOBS" >"$work/make.log" 2>&1 || { tail -40 "$work/make.log" >&2; exit 1; }
    make install >"$work/install.log" 2>&1 || { tail -40 "$work/install.log" >&2; exit 1; }
  )
}

fetch_headers_314() {
  local dest="$CACHE/python3.14-headers"
  [ -f "$dest/include/python3.14/Python.h" ] && [ -f "$dest/include/python3.14/pyconfig.h" ] &&
    ! grep -q 'include <' "$dest/include/python3.14/pyconfig.h" && return 0
  local work; work=$(mktemp -d /tmp/varkel-py314h.XXXXXX)
  trap 'rm -rf "$work"' RETURN
  private_apt_setup deb "$work/apt" || return 1
  mkdir -p "$work/dl"
  (cd "$work/dl" && apt-get "${APT_OPTS[@]}" download -qq libpython3.14-dev >/dev/null 2>&1) || return 1
  dpkg-deb -x "$work"/dl/libpython3.14-dev_*.deb "$work/x"
  # Debian keeps the real pyconfig.h under the multiarch folder; put it in place
  # of the wrapper that includes it.
  local cfg; cfg=$(find "$work/x/usr/include" -path '*-linux-gnu/python3.14/pyconfig.h' | head -1)
  [ -n "$cfg" ] && [ -f "$work/x/usr/include/python3.14/Python.h" ] || return 1
  rm -rf "$dest"; mkdir -p "$dest/include"
  cp -r "$work/x/usr/include/python3.14" "$dest/include/"
  cp "$cfg" "$dest/include/python3.14/pyconfig.h"
}

mkdir -p "$CACHE"
if ! py=$(find_python); then
  build_python
  py=$(find_python) || { log "the interpreter that was built does not work"; exit 1; }
fi
if [ "${VARKEL_SKIP_314_HEADERS:-0}" != 1 ] && ! fetch_headers_314; then
  log "could not fetch CPython 3.14 headers (libpython3.14-dev from sid); the 3.14 compile check is skipped"
fi
echo "$py"
