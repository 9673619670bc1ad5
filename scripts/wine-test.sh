#!/usr/bin/env bash
# The Windows build under Wine: cross-builds the core's tests and zarvik-cli.exe with
# MinGW-w64, runs the tests, then drives zarvik-cli.exe end to end against the native
# zarvik-sim on a pseudo-terminal that Wine sees as COM5.
#
#   scripts/wine-test.sh NATIVE_BUILD_DIR
#
# NATIVE_BUILD_DIR holds a Linux build with zarvik-sim, zarvik-cli and the example
# files. Wine maps the machine's console /dev/ttyS0 as COM1: every run here names its
# port, and ZARVIK_SERIAL_PORTS keeps the scans away from the system's list.
set -uo pipefail
cd "$(dirname "$0")/.."
native=${1:?usage: wine-test.sh NATIVE_BUILD_DIR}
native=$(cd "$native" && pwd)
build=${ZARVIK_WINE_BUILD:-build-wine}
sim=$native/src/zarvik-sim
linux_cli=$native/src/zarvik-cli
hex=$native/examples/blink/blink.hex
eep=$native/examples/blink/blink.eep

failures=0
pass() { echo "wine: ok   $1"; }
fail() { echo "wine: FAIL $1"; failures=$((failures + 1)); }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DZARVIK_GUI=OFF >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null || { cmake --build "$build" -j1 2>&1 | grep -E 'error' | head -20; exit 1; }

export WINEPREFIX=$PWD/$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko prompts
export ZARVIK_SERIAL_PORTS="COM5"
work=$(mktemp -d)
link=$WINEPREFIX/zarvik-com5  # where every zarvik-sim here puts its terminal
sim_pid=

stop_sim() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  sim_pid=
}
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0  # not from a command substitution
  stop_sim
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A private prefix, made once: COM5 is the simulator's link, through the registry key
# Wine reads its serial ports from.
if [ ! -f "$WINEPREFIX/.zarvik-ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  setsid wineboot -i >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$link" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  touch "$WINEPREFIX/.zarvik-ready"
fi
# One server for the whole run, in its own session so no terminal signal reaches it.
setsid wineserver -p >/dev/null 2>&1 </dev/null

start_sim() {  # args for zarvik-sim; sets sim_pid
  stop_sim
  rm -f "$link"
  "$sim" --link "$link" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$link" ] && return 0; sleep 0.1; done
  return 1
}

wcli() { timeout 120 wine "$build/src/zarvik-cli.exe" "$@" </dev/null; }

# 1. The core's tests.
for t in "$build"/tests/*.exe; do
  name=$(basename "$t" .exe)
  if timeout 120 wine "$t" --gtest_brief=1 >"$work/$name.log" 2>&1; then pass "$name"; else fail "$name"; tail -30 "$work/$name.log"; fi
done

# 2. Every command through COM5, the read-back file against the Linux CLI's.
start_sim --model ATmega328 || fail "zarvik-sim did not start"
readback="$work/Прочитано flash.hex"
if wcli -p COM5 -b 115200 -m ATmega328 --reset dtr connect erase flash write flash "$hex" verify flash "$hex" \
     read flash "$readback" write eeprom "$eep" read eeprom "$work/eeprom.eep" >"$work/chain.out" 2>"$work/chain.err"; then
  pass "connect, erase, write, verify, read over COM5"
else
  fail "connect, erase, write, verify, read over COM5 (exit $?)"; cat "$work/chain.out" "$work/chain.err"
fi
grep -q "Соединение установлено успешно!" "$work/chain.out" && grep -q "Запись flash закончена!" "$work/chain.out" \
  && pass "UTF-8 texts on the output" || fail "UTF-8 texts on the output"
"$linux_cli" -p "$link" -b 115200 -m ATmega328 read flash "$work/linux.hex" >/dev/null 2>&1
if [ -s "$readback" ] && cmp -s "$readback" "$work/linux.hex"; then
  pass "read-back file byte-identical to the Linux CLI's"
else
  fail "read-back file differs from the Linux CLI's"
fi
if wcli -p COM5 -b 115200 -m ATmega328 start >"$work/start.out" 2>&1 && grep -q "Программа запущена" "$work/start.out"; then
  pass "start"
else
  fail "start"; cat "$work/start.out"
fi

# 3. The port list: only what ZARVIK_SERIAL_PORTS names, probed.
wcli ports >"$work/ports.out" 2>/dev/null
out=$(cat "$work/ports.out")
[ "$out" = "COM5" ] && pass "ports lists COM5" || fail "ports lists '$out', not COM5"
stop_sim

# 4. A lost line ends in exit 3, at once rather than after the time-outs.
start_sim --model ATmega328 --line-gone-after 300 || fail "zarvik-sim did not start"
wcli -p COM5 -b 115200 -m ATmega328 write flash "$hex" >"$work/gone.out" 2>&1
code=$?
[ "$code" -eq 3 ] && pass "lost line: exit 3" || { fail "lost line: exit $code, not 3"; cat "$work/gone.out"; }
stop_sim

# 5. Ctrl-C in the middle of an operation: exit 130, the port put back and closed.
#    (Wine does not refuse a second open of a COM port as Windows does, so exclusive
#    opening is checked by the Linux serial tests, not here.)
start_sim --model ATmega328 || fail "zarvik-sim did not start"
wine "$build/src/zarvik-cli.exe" -p COM5 -m ATmega328 --json erase eeprom >"$work/held.out" 2>&1 &
held=$!
for _ in $(seq 100); do grep -q progress "$work/held.out" && break; sleep 0.1; done
kill -INT "$held"
wait "$held"
code=$?
[ "$code" -eq 130 ] && pass "Ctrl-C: exit 130" || { fail "Ctrl-C: exit $code, not 130"; cat "$work/held.out"; }
wcli -p COM5 -m ATmega328 connect >"$work/after.out" 2>&1 && pass "Ctrl-C: the port opens again" \
  || { fail "Ctrl-C: the port stayed held"; cat "$work/after.out"; }
wcli -p COM42 connect >"$work/none.out" 2>&1
code=$?
[ "$code" -eq 3 ] && grep -q "Не удалось открыть порт COM42: такого порта нет" "$work/none.out" \
  && pass "a missing port: exit 3, named" || { fail "a missing port: exit $code"; cat "$work/none.out"; }
stop_sim

# What a Windows user downloads: a .zip with the one static zarvik-cli.exe, runnable as
# it comes out of the archive.
rm -f "$build"/zarvik-*.zip
if (cd "$build" && cpack -G ZIP >/dev/null 2>&1) && unzip -q -o "$build"/zarvik-*.zip -d "$work/zip"; then
  unpacked=$(ls "$work"/zip/*/bin/zarvik-cli.exe 2>/dev/null | head -1)
  if [ -n "$unpacked" ] && wine "$unpacked" --version >"$work/zip.out" 2>&1 && grep -q "^zarvik-cli " "$work/zip.out"; then
    pass "the .zip holds a zarvik-cli.exe that runs"
  else
    fail "the .zip's zarvik-cli.exe"; cat "$work/zip.out" 2>/dev/null
  fi
else
  fail "cpack -G ZIP"
fi

echo "wine: $failures failed"
[ "$failures" -eq 0 ]
