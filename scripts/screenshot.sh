#!/usr/bin/env bash
# Starts the console on the simulated controller under a private Xvfb and
# saves screenshots of the window: docs/console-narrow.png (as it opens).
# Usage: scripts/screenshot.sh [extra console arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh | tail -n 1)
mkdir -p docs
out=${SCREENSHOT_OUT:-docs/console-narrow.png}

# A display number nobody uses, unless SCREENSHOT_DISPLAY names one (":93");
# Xvfb tells us when it is ready (-displayfd).
exec {fd}<> <(:)
display=(); [ -n "${SCREENSHOT_DISPLAY:-}" ] && display=("$SCREENSHOT_DISPLAY")
Xvfb "${display[@]}" -displayfd "$fd" -screen 0 1100x720x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
read -r -t 10 num <&"$fd" || { echo "Xvfb did not start" >&2; kill "$xvfb"; exit 1; }
export DISPLAY=":$num"
cleanup() { kill "$console" "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true; }
trap cleanup EXIT

"$dir/console/qd7420" --simulate "$@" &
console=$!
# Wait until the window is mapped, then give it a moment to paint.
win=""
for _ in $(seq 100); do
  win=$(xwininfo -root -tree 2>/dev/null | awk '/"QD-7420A_ver.1.1"/ {print $1; exit}')
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the console's window did not appear" >&2; exit 1; }
sleep 0.5
import -window "$win" "$out"
echo "$out"
