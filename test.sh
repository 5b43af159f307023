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
