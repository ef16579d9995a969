#!/usr/bin/env bash
# Builds the Debian package from build/ and prints its path.
#   scripts/package.sh          build/qd7420_<version>_amd64.deb
#   scripts/package.sh --check  and check it as installed: unpacked into a
#                               scratch folder, its programs run from there,
#                               the menu entry and manual pages validated,
#                               lintian with no errors
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package
dir=$(scripts/build.sh | tail -n 1)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
changelog=$(dpkg-parsechangelog -l packaging/changelog -S Version)
if [ "$changelog" != "$version" ]; then
  echo "packaging/changelog is at $changelog, the project at $version: add an entry" >&2
  exit 1
fi
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
deb="$dir/qd7420_${version}_$(dpkg --print-architecture).deb"
[ "${1:-}" = "--check" ] || { echo "$deb"; exit 0; }

checkout=$PWD
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin"
passed=0 failed=0
check() {  # check NAME COMMAND...: one line per check, all run
  local name=$1; shift
  if "$@" >"$scratch/out" 2>&1; then
    passed=$((passed + 1)); echo "ok    $name"
  else
    failed=$((failed + 1)); echo "FAIL  $name"; sed 's/^/      /' "$scratch/out"
  fi
}

# The unpacked programs may use the system and nothing of this checkout.
only_system_libraries() {
  local program=$1
  ! readelf -d "$program" | grep -E 'RPATH|RUNPATH' &&
    ! ldd "$program" | grep -E "not found|$checkout" &&
    ! grep -aq "$checkout" "$program"
}
reports_version() { [ "$("$bin/qd7420" --version)" = "QD7420 $version" ]; }
sim_helps() { "$bin/qd7420-sim" --help | grep -q '^Usage: qd7420-sim'; }
# Starts the console on its simulated controller without a display and waits
# for the start-up exchange to be traced as accepted: window up, link working.
console_starts() {
  local log="$scratch/console.log" pid up=1
  QT_QPA_PLATFORM=offscreen "$bin/qd7420" --simulate --trace 2>"$log" &
  pid=$!
  for _ in $(seq 300); do
    grep -q ' accepted ' "$log" && { up=0; break; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  cat "$log"
  return "$up"
}
# Renders without a troff warning, also in a fresh system's C locale, and
# carries the sections of its .h2m file.
man_page_renders() {
  local page="$scratch/root/usr/share/man/man1/$1.1.gz"
  LC_ALL=C MANWIDTH=80 man -l --warnings "$page" >"$scratch/page" 2>"$scratch/warnings" &&
    cat "$scratch/warnings" && [ ! -s "$scratch/warnings" ] &&
    grep -q '^PERMISSIONS' "$scratch/page" && grep -q '^OPTIONS' "$scratch/page"
}

cd "$scratch"  # nothing is found relative to the checkout either
check "qd7420 uses only system libraries" only_system_libraries "$bin/qd7420"
check "qd7420-sim uses only system libraries" only_system_libraries "$bin/qd7420-sim"
check "qd7420 --version is the package's" reports_version
check "qd7420-sim --help" sim_helps
check "qd7420 --simulate starts offscreen" console_starts
check "menu entry valid" desktop-file-validate "$scratch/root/usr/share/applications/qd7420.desktop"
check "qd7420(1) renders" man_page_renders qd7420
check "qd7420-sim(1) renders" man_page_renders qd7420-sim
cd - >/dev/null
# Its errors fail; what else it says is listed.
lintian_no_errors() { lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1; }
check "lintian: no errors" lintian_no_errors
sed -e '/running with root privileges/d' -e 's/^/      /' "$scratch/lintian"

echo "$deb: $(du -k "$deb" | cut -f1) KiB"
dpkg-deb -f "$deb" Depends
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
