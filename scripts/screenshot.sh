#!/usr/bin/env bash
# Pictures of the window under Xvfb, before and during an operation (an EEPROM erase on
# a simulated board), on screens of 96 and 144 dpi, and idle in English too:
# docs/window*.png. docs/window.png is the window at 96 dpi during the erase.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-run --target zarvik
mkdir -p docs
docs=$(pwd)/docs
program=$(pwd)/build-run/src/zarvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp res/Help.txt res/Help_en.txt "$work"/
cd "$work"
for dpi in 96 144; do
  # Qt takes the screen's scale from the X server's dpi.
  args=(-a -s "-screen 0 1600x1200x24 -dpi $dpi")
  ZARVIK_SERIAL_PORTS= QT_SCALE_FACTOR=$(awk "BEGIN{print $dpi/96}") \
    xvfb-run "${args[@]}" "$program" --simulate --screenshot "$docs/window-$dpi-idle.png"
  ZARVIK_SERIAL_PORTS= QT_SCALE_FACTOR=$(awk "BEGIN{print $dpi/96}") \
    xvfb-run "${args[@]}" "$program" --simulate --screenshot-busy "$docs/window-$dpi-busy.png"
  ZARVIK_SERIAL_PORTS= QT_SCALE_FACTOR=$(awk "BEGIN{print $dpi/96}") \
    xvfb-run "${args[@]}" "$program" --lang en --simulate --screenshot "$docs/window-$dpi-idle-en.png"
done
cp "$docs/window-96-busy.png" "$docs/window.png"
ls -1 "$docs"/window*.png
