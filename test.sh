#!/usr/bin/env bash
# Sets up this machine, builds and runs the whole suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the threaded parts under ThreadSanitizer. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
export TZ=Asia/Tokyo
for preset in default asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
# The libFuzzer targets (clang): built, and each run once over its seeds and regression inputs.
# scripts/fuzz.sh fuzzes them for longer.
echo "== fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
replayed=0
for target in build/fuzz/fuzz/fuzz_*; do
  name=${target##*/fuzz_}
  "$target" -runs=0 "tests/fuzz/corpus/$name" "tests/fuzz/regression/$name" 2>/dev/null
  replayed=$((replayed + 1))
done
# A failing target has ended the script above (set -e).
echo "fuzz: $replayed passed, 0 failed"
