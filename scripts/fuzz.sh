#!/usr/bin/env bash
# Fuzzes the decoder for SECONDS per target (default 60), everything built
# with AddressSanitizer + UndefinedBehaviorSanitizer:
#   - every fuzz target of fuzz/ (fuzz_json, fuzz_idl, fuzz_payload,
#     fuzz_decode, ...): libFuzzer with clang (installed from Debian's archive
#     when missing), or, where that fails, the same targets with g++ and the
#     engine of fuzz/driver.cpp;
#   - "python": the Python test suite once on the sanitizer build of the
#     package (scripts/sanitize.sh), then the Python fuzz and stress script
#     fuzz/python_fuzz.py on it.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET ...]     TARGET: fuzz_json ... or python
#
# Crashing inputs go to fuzz-findings/<target>/ and the script ends with
# status 1 when any target found something; a summary line per target gives
# runs, runs per second and corpus size. Corpora grow across runs in
# build/fuzz-corpus/<target>/ (seeded from the repository, fuzz/seeds.py);
# the logs are in build/fuzz-logs/. FUZZ_JOBS targets run at once (default 2).
# VARKEL_FUZZ_CXX=g++ forces the driver.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-60}
shift || true
JOBS=${FUZZ_JOBS:-2}
VENV=$PWD/.venv
LLVM_VERSIONS="19 20 21 22"  # older clang cannot compile the core against libstdc++ 12 (std::expected)
log() { echo "fuzz: $*" >&2; }

bash scripts/setup.sh >/dev/null 2>&1 || bash scripts/setup.sh
PATH="$VENV/bin:$PATH"

# --- the compiler: clang with libFuzzer, else g++ with the driver -------------
links_libfuzzer() {
  local cxx=$1 dir
  dir=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' '#include <expected>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t n) {' \
    '  std::expected<int, int> e(static_cast<int>(n)); return *e > 0 ? 0 : 0; }' >"$dir/probe.cpp"
  "$cxx" -std=c++23 -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
  local status=$?
  rm -rf "$dir"
  return $status
}

find_clang() {
  local v
  for v in $LLVM_VERSIONS; do
    if command -v "clang++-$v" >/dev/null 2>&1 && links_libfuzzer "clang++-$v"; then
      echo "clang++-$v"
      return 0
    fi
  done
  return 1
}

install_clang() {
  command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ] || return 1
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null 2>&1 || return 1
  local v
  for v in $LLVM_VERSIONS; do
    # The compiler, its sanitizer and libFuzzer runtimes, and llvm-symbolizer
    # for readable reports.
    if apt-cache show "clang-$v" "libclang-rt-$v-dev" "llvm-$v" >/dev/null 2>&1; then
      log "installing clang-$v with libFuzzer from the archive"
      apt-get install -y -qq --no-install-recommends "clang-$v" "libclang-rt-$v-dev" "llvm-$v" >/dev/null && return 0
    fi
  done
  return 1
}

if [ -n "${VARKEL_FUZZ_CXX:-}" ]; then
  CXX=$VARKEL_FUZZ_CXX
elif CXX=$(find_clang); then
  :
elif install_clang && CXX=$(find_clang); then
  :
else
  log "no clang with libFuzzer could be found or installed: the targets run with g++ and fuzz/driver.cpp"
  CXX=g++
fi
symbolizer=""
for candidate in "/usr/lib/llvm-${CXX##*-}/bin/llvm-symbolizer" "$(command -v llvm-symbolizer || true)"; do
  if [ -x "$candidate" ]; then symbolizer=$candidate; break; fi
done

# --- builds --------------------------------------------------------------------
BUILD=build/fuzz-$(basename "$CXX")
log "building the fuzz targets with $CXX into $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CXX" \
  -DVARKEL_SANITIZE=ON -DVARKEL_BUILD_FUZZERS=ON -DPython_EXECUTABLE="$VENV/bin/python" >"$BUILD.configure.log" 2>&1 ||
  { cat "$BUILD.configure.log"; exit 1; }
cmake --build "$BUILD" -j2
want() {  # whether target $1 was asked for
  [ ${#REQUESTED[@]} -eq 0 ] && return 0
  local t
  for t in "${REQUESTED[@]}"; do [ "$t" = "$1" ] && return 0; done
  return 1
}
REQUESTED=("$@")
targets=()
while read -r name; do
  [ -n "$name" ] && want "$name" && targets+=("$name")
done <"$BUILD/fuzzers/targets.txt"
# The Python side runs on a sanitizer build of the package: with clang, the
# extension joins the fuzz build (the core is compiled once); with g++, whose
# coverage hooks only the driver provides, it is scripts/sanitize.sh's own.
sanitize_env=()
case "$("$CXX" --version | head -n 1)" in
  *clang*) sanitize_env=(VARKEL_SANITIZE_CXX="$CXX" VARKEL_SANITIZE_BUILD="$BUILD") ;;
esac
if want python; then
  log "building the sanitizer build of the package"
  env "${sanitize_env[@]}" bash scripts/sanitize.sh --package -- true
  targets+=(python)
fi

rm -rf build/fuzz-seeds
native=()
for name in "${targets[@]}"; do [ "$name" != python ] && native+=("$name"); done
[ ${#native[@]} -gt 0 ] && python fuzz/seeds.py build/fuzz-seeds "${native[@]}"

# --- runs ----------------------------------------------------------------------
mkdir -p build/fuzz-logs build/fuzz-corpus fuzz-findings
start_mark=$(mktemp)
export ASAN_OPTIONS="max_allocation_size_mb=2048:allocator_may_return_null=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer

run_target() {
  local name=$1 logfile=build/fuzz-logs/$1.log
  mkdir -p "fuzz-findings/$name"
  if [ "$name" = python ]; then
    env "${sanitize_env[@]}" bash scripts/sanitize.sh --package -- bash -c \
      'cd tests && python -m pytest -q -x -p no:cacheprovider python' >"$logfile" 2>&1 || return
    env "${sanitize_env[@]}" bash scripts/sanitize.sh --package -- python fuzz/python_fuzz.py --seconds "$SECONDS_PER_TARGET" \
      --out fuzz-findings/python >>"$logfile" 2>&1
    return
  fi
  local dict="fuzz/dict/${name#fuzz_}.dict"
  local options=(-max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=3072 -max_len=65536
                 -print_final_stats=1 -artifact_prefix="fuzz-findings/$name/")
  [ -f "$dict" ] && options+=(-dict="$dict")
  mkdir -p "build/fuzz-corpus/$name" "build/fuzz-seeds/$name"
  "$BUILD/fuzzers/$name" "${options[@]}" "build/fuzz-corpus/$name" "build/fuzz-seeds/$name" >"$logfile" 2>&1
}

log "${#targets[@]} targets, ${SECONDS_PER_TARGET} s each, $JOBS at a time: ${targets[*]}"
declare -A status
pids=()
names=()
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do sleep 1; done
  run_target "$name" &
  pids+=($!)
  names+=("$name")
done
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then status[${names[$i]}]=0; else status[${names[$i]}]=$?; fi
done

# --- summary -------------------------------------------------------------------
found=0
for name in "${targets[@]}"; do
  logfile=build/fuzz-logs/$name.log
  saved=$(find "fuzz-findings/$name" -type f -newer "$start_mark" 2>/dev/null | wc -l)
  if [ "$name" = python ]; then
    line=$(grep -E '^python_fuzz: [0-9]+ cases' "$logfile" | tail -n 1 || true)
    tests=$(grep -E '^[0-9]+ passed' "$logfile" | tail -n 1 || true)
    summary="suite: ${tests:-?}; fuzz: ${line#python_fuzz: }"
  else
    runs=$(grep -E 'stat::number_of_executed_units' "$logfile" | awk '{print $2}' | tail -n 1)
    rate=$(grep -E 'stat::average_exec_per_sec' "$logfile" | awk '{print $2}' | tail -n 1)
    corpus=$(find "build/fuzz-corpus/$name" -type f | wc -l)
    summary="${runs:-?} runs, ${rate:-?}/s, corpus $corpus"
  fi
  if [ "${status[$name]}" != 0 ] || [ "$saved" -gt 0 ]; then
    found=1
    log "$name: FINDING (status ${status[$name]}, $saved input(s) in fuzz-findings/$name/); log: $logfile"
    tail -n 40 "$logfile" >&2
  else
    log "$name: clean: $summary"
  fi
done
rm -f "$start_mark"
exit $found
