#!/usr/bin/env bash
# Installs the Debian packages Zarvik needs, in two lists:
#   scripts/setup.sh run    what building and running the programs needs (run.sh)
#   scripts/setup.sh        that and everything the tests, fuzzing, lint, packaging
#                           and the Windows build under Wine need (test.sh)
# Safe to run again: when everything is present it only checks and returns.
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
  libgl-dev libxkbcommon-dev libcli11-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  gcc-avr avr-libc binutils-avr
  simavr libsimavr-dev
)
test_packages=(
  git libgtest-dev libgmock-dev libbenchmark-dev srecord
  clang libclang-rt-14-dev clang-tidy cppcheck
  xvfb xauth fonts-dejavu-core python3
  mingw-w64 wine wine64 nsis locales
  dpkg-dev file lintian help2man appstream desktop-file-utils unzip
)

packages=("${run_packages[@]}")
if [ "${1:-test}" != run ]; then packages+=("${test_packages[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
