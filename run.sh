#!/usr/bin/env bash
# Sets up this machine, builds the program folder and starts the program: the GUI, yieldscope,
# with a simulated monitor unit on COM3 so that the import works without the hardware: the driver
# host runs both drivers above the simulated unit and publishes their port.
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

# A simulated monitor unit with a demo history of the sample household (4.5 kW, installed April
# 2023), behind qtxvcom64 and qtxusb64 in the driver host, on COM3 (PortName in monitor_unit.ini).
# It runs in the background until the main job ends.
if [[ -z "${NORVANE_PORT_DIR:-}" && -z "${XDG_RUNTIME_DIR:-}" ]]; then
  export NORVANE_PORT_DIR="${TMPDIR:-/tmp}/norvane-$(id -u)/ports"
fi
coproc SIM { exec "$program/qtxportd" --simulate --demo --capacity 4.5 --install 2023-04 --quiet; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
# Its first line says that the port is published (nothing comes if it could not start).
read -r -t 10 ready <&"${SIM[0]}" && echo "$ready" >&2 || true

"$program/yieldscope"
