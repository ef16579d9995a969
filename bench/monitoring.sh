#!/usr/bin/env bash
# Builds the monitoring benchmark (optimised, no sanitizers) and runs it; it
# takes a little over a minute. Arguments go to the benchmark: --polls N,
# --sim PATH, --traffic M (M more polls with the traffic window open),
# --leak (an unacknowledged alarm flashing all along), --window journal (the
# M polls with the monitoring journal open instead).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench-console}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON -DQD_BUILD_TESTS=OFF >/dev/null
# BENCH_TARGET: another benchmark of the console window (search.sh).
target=${BENCH_TARGET:-bench_monitoring}
cmake --build "$dir" -j "$(nproc)" --target "$target" >/dev/null
exec "$dir/bench/$target" "$@"
