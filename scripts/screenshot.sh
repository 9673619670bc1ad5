#!/usr/bin/env bash
# Takes a picture of the window under Xvfb: docs/window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-run
mkdir -p docs
out=$(pwd)/docs/window.png
work=$(mktemp -d)
cp res/Help.txt "$work"/
(cd "$work" && ZARVIK_SERIAL_PORTS= xvfb-run -a "$OLDPWD/build-run/src/zarvik" --simulate --screenshot "$out")
rm -rf "$work"
echo "$out"
