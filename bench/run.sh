#!/usr/bin/env bash
# Builds the benchmarks (optimised, no sanitizers) and runs one.
#   bench/run.sh [--iterations N] [--paced]          round trip, ours and libmodbus
#   bench/run.sh open [--processes N] [--iterations N]  what an open pays to keep the line ours
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON \
  -DQD_BUILD_TESTS=OFF -DQD_BUILD_CONSOLE=OFF >/dev/null
bench=bench_roundtrip
if [ "${1:-}" = "open" ]; then bench=bench_open; shift; fi
cmake --build "$dir" -j "$(nproc)" --target "$bench" >/dev/null
exec "$dir/bench/$bench" "$@"
