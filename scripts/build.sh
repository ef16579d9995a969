#!/usr/bin/env bash
# Configures and builds into build/ (build-sanitize/ with --sanitize for
# ASan + UBSan; build-tsan/ with --tsan, ThreadSanitizer, the console's tests).
# Progress goes to standard error; the last line on standard output is the
# build folder, for the scripts that call this one.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build; extra=(); targets=()
case "${1:-}" in
  --sanitize) dir=build-sanitize; extra=(-DQD_SANITIZE=ON -DQD_BUILD_BENCH=OFF) ;;
  --tsan) dir=build-tsan; extra=(-DQD_TSAN=ON -DQD_BUILD_BENCH=OFF); targets=(--target test_console) ;;
esac
if [ -f "$dir/CMakeCache.txt" ]; then
  echo "==> Building into $dir/ (only what changed)" >&2
else
  echo "==> Configuring and building into $dir/ (the first build takes a few minutes)" >&2
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >&2
echo "$dir"
