#!/usr/bin/env bash
# Installs what the project needs from Debian's packages. Idempotent: when
# everything is there it installs nothing and asks no mirror.
#   scripts/setup.sh            to build, run and test
#   scripts/setup.sh --package  also the tools that build and check the
#                               Debian package (scripts/package.sh)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-serialport-dev
  libcanberra-dev sound-theme-freedesktop
  dbus dbus-x11
  qt6-translations-l10n
  libgtest-dev libgmock-dev
  libmodbus-dev
  socat ser2net xvfb xauth x11-utils imagemagick
  fonts-wqy-microhei
  locales
  help2man
)
if [ "${1:-}" = "--package" ]; then
  packages+=(dpkg-dev desktop-file-utils lintian man-db)
fi

echo "==> Checking the ${#packages[@]} Debian packages the project needs" >&2
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "==> Installing ${#missing[@]} missing: ${missing[*]} (a few minutes on a fresh machine)" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  echo "    done" >&2
else
  echo "    all installed" >&2
fi

# The tests check that numbers keep their decimal point under a locale with
# a decimal comma; generate one when the machine has none.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  echo "==> Generating the de_DE.UTF-8 locale for the tests" >&2
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
