#!/usr/bin/env bash
# Checks that the C++ sources follow .clang-format (prints the files that do
# not). Without clang-format it fails in CI (CI set: .ci/run installs it), and
# elsewhere is skipped with a message.
# `bash scripts/check-format.sh --fix` rewrites them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null 2>&1; then
  if [ -n "${CI:-}" ]; then
    echo "check-format: clang-format is not installed (Debian's package clang-format), so nothing was checked" >&2
    exit 1
  fi
  echo "check-format: clang-format is not installed; format check skipped" >&2
  exit 0
fi
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
  'fuzz/*.cpp' 'fuzz/*.h' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then bad+=("$f"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: not formatted as .clang-format says ($(clang-format --version | head -1)):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  echo "check-format: run 'bash scripts/check-format.sh --fix'" >&2
  exit 1
fi
echo "check-format: ${#files[@]} C++ files formatted" >&2
