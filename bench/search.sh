#!/usr/bin/env bash
# Builds the parameter-search benchmark (optimised, no sanitizers) and runs
# it; it takes about nine minutes: the full quick search and the survey about
# three each (--skip-full leaves both out).
# Arguments go to the benchmark: --seed S, --skip-full.
BENCH_TARGET=bench_search exec "$(dirname "$0")/monitoring.sh" "$@"
