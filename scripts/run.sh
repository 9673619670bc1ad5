#!/usr/bin/env bash
# Builds the window and what its demo needs, and opens it with a simulated ATmega328
# board on a virtual port, in a folder that holds the example program (blink.hex,
# blink.eep) and Help.txt. The tests are built by scripts/test.sh, not here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-run --target zarvik zarvik-cli example_blink
demo=build-run/demo
mkdir -p "$demo"
cp build-run/examples/blink/blink.hex build-run/examples/blink/blink.eep res/Help.txt "$demo"/
cd "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat <<MSG
There is no display here, so the window cannot open. What works without one:
  $(pwd)/../src/zarvik-cli --simulate=ATmega328 connect erase flash write flash blink.hex write eeprom blink.eep
  (zarvik-cli --help lists every command), or the window under a virtual display:
  xvfb-run -a $(pwd)/../src/zarvik --simulate --screenshot window.png
Running the command-line demo now:
MSG
  exec ../src/zarvik-cli --simulate=ATmega328 connect erase flash write flash blink.hex write eeprom blink.eep
fi
# The scan lists only the simulated board's port, never the machine's own.
export ZARVIK_SERIAL_PORTS=${ZARVIK_SERIAL_PORTS-}
exec ../src/zarvik --simulate=ATmega328
