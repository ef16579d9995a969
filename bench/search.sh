#!/usr/bin/env bash
# Builds the parameter-search benchmark (optimised, no sanitizers) and runs
# it; it takes about six minutes, the full quick search alone two and a half.
# Arguments go to the benchmark: --seed S, --skip-full.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench-console}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON -DQD_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target bench_search >/dev/null
exec "$dir/bench/bench_search" "$@"
