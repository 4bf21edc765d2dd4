#!/usr/bin/env bash
# The sanitizer build: the core, the extension, the test-only module and the
# C++ tests built with AddressSanitizer + UndefinedBehaviorSanitizer
# (-DVARKEL_SANITIZE=ON) into build/asan, then run under the sanitizer.
#
#   bash scripts/sanitize.sh                     C++ tests (CTest) and the Python suite
#                                                (also with 4 threads per test body)
#   bash scripts/sanitize.sh --package -- CMD    build the extension only; run CMD
#                                                (e.g. python fuzz/python_fuzz.py)
#
# The interpreter is not instrumented, so the sanitizer runtime is preloaded
# (LD_PRELOAD), behind tests/support/atomic_memmove.cpp: the runtime's own
# memmove copies bytewise, which tears the pointers that the free-threaded
# interpreter's lists let other threads read without a lock. The free-threaded interpreter refuses PYTHONMALLOC=malloc, so
# Python's allocator runs with its debug hooks (mimalloc_debug). Leak detection
# is off: the interpreter keeps memory at exit that LeakSanitizer cannot tell
# from a leak (the tests that repeat batches watch memory growth instead).
# The sanitized package is imported from build/asan/site (PYTHONPATH), ahead
# of the one installed in .venv. VARKEL_SANITIZED=1 tells the tests.
# VARKEL_SANITIZE_CXX (default g++) and VARKEL_SANITIZE_BUILD (default
# build/asan) choose the compiler and the build folder (scripts/fuzz.sh puts
# the package into its clang tree).
set -euo pipefail
cd "$(dirname "$0")/.."

package_only=0
if [ "${1:-}" = --package ]; then
  package_only=1
  shift
fi
[ "${1:-}" = -- ] && shift

bash scripts/setup.sh >/dev/null 2>&1 || bash scripts/setup.sh
VENV=$PWD/.venv
PATH="$VENV/bin:$PATH"
CXX=${VARKEL_SANITIZE_CXX:-g++}
BUILD=${VARKEL_SANITIZE_BUILD:-build/asan}
tests=ON
if [ $package_only = 1 ]; then
  tests=OFF
elif ! dpkg -s libgtest-dev >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libgtest-dev >/dev/null
fi
cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX" \
  -DVARKEL_SANITIZE=ON -DVARKEL_BUILD_EXTENSION=ON -DVARKEL_BUILD_TESTS=$tests \
  -DPython_EXECUTABLE="$VENV/bin/python" >/dev/null
if [ $package_only = 1 ]; then
  cmake --build $BUILD -j2 --target _varkel varkel_atomic_memmove
else
  cmake --build $BUILD -j2
fi

# The package as the interpreter will import it: the sources of python/varkel
# with the sanitized extension beside them.
rm -rf $BUILD/site/varkel
mkdir -p $BUILD/site/varkel
cp python/varkel/*.py python/varkel/py.typed $BUILD/site/varkel/
cp $BUILD/_varkel.*.so $BUILD/site/varkel/

# The shared sanitizer runtime of the compiler (g++: libasan.so; clang: the
# asan runtime, which carries UBSan's handlers too).
case "$("$CXX" --version | head -n 1)" in
  *clang*) runtime=$("$CXX" -print-file-name=libclang_rt.asan-x86_64.so) ;;
  *) runtime=$("$CXX" -print-file-name=libasan.so) ;;
esac
if [ ! -f "$runtime" ]; then
  echo "sanitize: $CXX does not show its shared AddressSanitizer runtime ($runtime)" >&2
  exit 1
fi
# libstdc++ is preloaded as well: the interpreter does not link it, and the
# sanitizer's __cxa_throw interceptor finds the real one only when libstdc++ is
# loaded at startup (a C++ exception would otherwise abort the process).
cxx_library=$("$CXX" -print-file-name=libstdc++.so.6)
export LD_PRELOAD="$PWD/$BUILD/libvarkel_atomic_memmove.so:$runtime:$cxx_library${LD_PRELOAD:+:$LD_PRELOAD}"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export PYTHONMALLOC=mimalloc_debug
export PYTHONPATH="$PWD/$BUILD/site${PYTHONPATH:+:$PYTHONPATH}"
export VARKEL_SANITIZED=1
export VARKEL_TESTING_DIR="$PWD/$BUILD"

if [ $# -gt 0 ]; then
  exec "$@"
fi

# CTest's programs are sanitized executables: no preload needed there.
if ! LD_PRELOAD= ctest --test-dir $BUILD --output-on-failure -j2 >$BUILD/ctest.log 2>&1; then
  cat $BUILD/ctest.log
  exit 1
fi
tail -n 3 $BUILD/ctest.log
python -c 'import sys, varkel; sys.exit(0 if sys.argv[1] in varkel.__file__ else varkel.__file__)' "$BUILD/site"
(cd tests && python -m pytest -q -p no:cacheprovider python)
(cd tests && python -m pytest -q -p no:cacheprovider --parallel-threads=4 python)
