#!/usr/bin/env bash
# Installs every Debian package Zarvik needs to build, test, fuzz and run.
# Safe to run again: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev
  libgl-dev libxkbcommon-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  gcc-avr avr-libc binutils-avr srecord
  clang libclang-rt-14-dev clang-tidy cppcheck
  xvfb xauth fonts-dejavu-core
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libelf-dev simavr libsimavr-dev
  mingw-w64 wine wine64 locales
  dpkg-dev file lintian help2man appstream desktop-file-utils unzip
)

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
