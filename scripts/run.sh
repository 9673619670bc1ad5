#!/usr/bin/env bash
# Builds the window and what its demo needs, and opens it on a simulated ATmega328 board
# on a virtual port, in a folder that holds the example program (blink.hex, blink.eep)
# and Help.txt. The board runs our loader firmware on a real AVR core (zarvik-avr-sim),
# so «Старт программы» really starts blink; `kill -USR1` on the board presses its reset
# button. The tests are built by scripts/test.sh, not here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
# No tests here: GoogleTest belongs to the test list.
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_TESTS=OFF >/dev/null
targets=(zarvik zarvik-cli example_blink)
if cmake --build build-run --target help | grep -q '^zarvik-avr-sim:'; then targets+=(zarvik-avr-sim); fi
cmake --build build-run --target "${targets[@]}"
demo=build-run/demo
mkdir -p "$demo"
cp build-run/examples/blink/blink.hex build-run/examples/blink/blink.eep res/Help.txt res/Help_en.txt "$demo"/
cd "$demo"
cli=../src/zarvik-cli

board=
if [ -x ../src/zarvik-avr-sim ]; then
  # The board on the real core; its first line is the terminal's path.
  coproc BOARD { exec ../src/zarvik-avr-sim --model ATmega328; }
  read -r board <&"${BOARD[0]}"
  trap 'kill "$BOARD_PID" 2>/dev/null || true' EXIT
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display here, so the window cannot open; the command line runs the same road."
  echo "(zarvik-cli --help lists every command; the window under a virtual display:"
  echo "  xvfb-run -a $(pwd)/../src/zarvik --simulate --screenshot window.png)"
  if [ -n "$board" ]; then
    echo "Board: $board. Writing blink, starting it, and listening to it for 5 s:"
    "$cli" -p "$board" -b 115200 -m ATmega328 write flash blink.hex write eeprom blink.eep start
    timeout -s INT 5 "$cli" -p "$board" monitor 115200 || true
    exit 0
  fi
  exec "$cli" --simulate=ATmega328 connect erase flash write flash blink.hex write eeprom blink.eep
fi
if [ -n "$board" ]; then
  # The scan lists only the simulated board's port, never the machine's own.
  export ZARVIK_SERIAL_PORTS=$board
  # The board's UART samples the line as a chip's does: at another speed than the
  # loader's it hears only noise.
  echo "Board: $board. Choose the speed 115200 in the window: the loader listens at 115200 baud."
  ../src/zarvik
else
  export ZARVIK_SERIAL_PORTS=${ZARVIK_SERIAL_PORTS-}
  exec ../src/zarvik --simulate=ATmega328
fi
