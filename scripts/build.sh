#!/usr/bin/env bash
# Configures and builds into build/ (build-sanitize/ with --sanitize for
# ASan + UBSan; build-tsan/ with --tsan, ThreadSanitizer, the console's tests).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build; extra=(); targets=()
case "${1:-}" in
  --sanitize) dir=build-sanitize; extra=(-DQD_SANITIZE=ON -DQD_BUILD_BENCH=OFF) ;;
  --tsan) dir=build-tsan; extra=(-DQD_TSAN=ON -DQD_BUILD_BENCH=OFF); targets=(--target test_console) ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
echo "$dir"
