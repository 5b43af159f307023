#!/usr/bin/env bash
# Sets up this machine, builds the program folder and starts the program: the GUI, yieldscope.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
program=build/default/bin
scripts/install-ken-all.sh "$program"  # KEN_ALL.CSV; YS_KEN_ALL=FILE installs a file of your own
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "run.sh: there is no display to show the program's window on." >&2
  echo "Start it on a virtual display instead:  xvfb-run ./run.sh" >&2
  echo "(The user data file can be read without a window: $program/yieldscope-cli dump FILE.sol)" >&2
  exit 1
fi
exec "$program/yieldscope"
