#!/usr/bin/env bash
# Builds a benchmark (optimised, no sanitizers) and runs it.
#   bench/run.sh [--iterations N] [--paced]    the round trip against libmodbus
#   bench/run.sh soak [--exchanges N] [--seed S] [--baud B] [--fault-every K]
#                     [--timeout MS] [--alternate] [--verbose]
#                                              the exchange under random faults
#   bench/run.sh open [--processes N] [--iterations N]
#                                              what an open pays to keep the line ours
#   bench/run.sh remote [--rounds N]           a line through ser2net against the pty
set -euo pipefail
cd "$(dirname "$0")/.."
target=bench_roundtrip
case "${1:-}" in
  soak) target=bench_soak; shift ;;
  open) target=bench_open; shift ;;
  remote) target=bench_remote; shift ;;
esac
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_BENCH=ON \
  -DQD_BUILD_TESTS=OFF -DQD_BUILD_CONSOLE=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "$target" >/dev/null
exec "$dir/bench/$target" "$@"
