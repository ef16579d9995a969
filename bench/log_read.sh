#!/usr/bin/env bash
# Builds the alarm-log read benchmark (optimised, no sanitizers) and runs it.
# Arguments go to the benchmark: --case ENTRIES:BAUD (repeatable).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench-console}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON \
  -DQD_BUILD_TESTS=OFF -DQD_BUILD_CONSOLE=ON >/dev/null
cmake --build "$dir" -j 2 --target bench_log_read >/dev/null
exec "$dir/bench/bench_log_read" "$@"
