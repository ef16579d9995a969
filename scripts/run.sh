#!/usr/bin/env bash
# Installs what is missing, builds, and starts the console on the simulated
# controller. Extra arguments go to the console (e.g. --trace,
# --sim-scenario leak:12.5). Needs a desktop session (DISPLAY or
# WAYLAND_DISPLAY); without one the console says so (exit code 3) and
# scripts/screenshot.sh shows it as a picture instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
echo "==> Starting the console on the simulated controller: $dir/console/qd7420 --simulate $*" >&2
exec "$dir/console/qd7420" --simulate "$@"
