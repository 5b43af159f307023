#!/usr/bin/env bash
# Sets up this machine, builds the program folder and starts the main job.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
program=build/default/bin
scripts/install-ken-all.sh "$program"  # KEN_ALL.CSV; YS_KEN_ALL=FILE installs a file of your own
exec "$program/yieldscope-cli" dump "$program/samples/demo.sol"
