#!/usr/bin/env bash
# Installs what is missing, builds, and starts the console on the simulated
# controller. Extra arguments go to the console (e.g. --trace,
# --sim-scenario leak:12.5). Needs a desktop session (DISPLAY or WAYLAND_DISPLAY).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
No display: the console is a desktop program and needs a desktop session.
  - On a machine with a desktop, run this script from a terminal inside it.
  - Over ssh, use 'ssh -X' (X11 forwarding).
  - Headless, take a picture of the window instead:  scripts/screenshot.sh
The build is ready: $dir/console/qd7420 --simulate
MSG
  exit 1
fi
exec "$dir/console/qd7420" --simulate "$@"
