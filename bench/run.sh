#!/usr/bin/env bash
# Builds the round-trip benchmark (optimised, no sanitizers) and runs it.
# Arguments go to the benchmark: --iterations N, --paced.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON \
  -DQD_BUILD_TESTS=OFF -DQD_BUILD_CONSOLE=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target bench_roundtrip >/dev/null
exec "$dir/bench/bench_roundtrip" "$@"
