#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh             the ordinary build
#   scripts/test.sh --sanitize  the same tests under ASan + UBSan
#   scripts/test.sh --tsan      the threaded tests under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=$(scripts/build.sh "$@" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's own caches allocate once per process and never free; not ours to fix.
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
# die_after_fork=0: the alarm tests start a private D-Bus daemon from a process with threads.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp"
labels=()
[ "${1:-}" = "--tsan" ] && labels=(-L threads)
echo "==> Running the tests of $dir/ on $(nproc) cores" >&2
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 "${labels[@]}"
