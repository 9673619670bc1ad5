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
elf=$native/examples/blink/blink.elf
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
extra_pids=()  # boards on COM3 and COM12, for the port list's order

stop_sim() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  sim_pid=
}
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0  # not from a command substitution
  stop_sim
  for p in "${extra_pids[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A private prefix, made once: COM5 (and COM3, COM12) are simulators' links, through
# the registry key Wine reads its serial ports from.
if [ ! -f "$WINEPREFIX/.zarvik-ready-2" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  setsid wineboot -i >/dev/null 2>&1
  for com in COM3 COM5 COM12; do
    wine reg add 'HKLM\Software\Wine\Ports' /v $com /d "$WINEPREFIX/zarvik-${com,,}" /f >/dev/null 2>&1
  done
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  touch "$WINEPREFIX/.zarvik-ready-2"
fi

# Wine takes the Windows user interface language from the locale, and its file names'
# encoding too: a Russian and an English Windows need both locales, built here from
# Debian's locale sources rather than installed on the machine.
export LOCPATH=$PWD/$build/locale
mkdir -p "$LOCPATH"
for l in ru_RU en_US; do
  [ -d "$LOCPATH/$l.UTF-8" ] || localedef -i $l -f UTF-8 "$LOCPATH/$l.UTF-8" 2>/dev/null \
    || { echo "wine: localedef $l failed (Debian package locales)"; exit 1; }
done
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

# A Russian Windows unless the caller says otherwise with LC_ALL.
wcli() { LC_ALL=${LC_ALL:-ru_RU.UTF-8} timeout 120 wine "$build/src/zarvik-cli.exe" "$@" </dev/null; }

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
# The ELF file avr-gcc made, read by the same reader as on Linux: its flash and EEPROM
# written, and verified against the HEX files avr-objcopy made of it.
if wcli -p COM5 -b 115200 -m ATmega328 write flash "$elf" write eeprom "$elf" verify flash "$hex" verify eeprom "$eep" \
     >"$work/elf.out" 2>&1; then
  pass "an ELF file written over COM5, verified against its HEX files"
else
  fail "an ELF file over COM5"; cat "$work/elf.out"
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
#    opening is checked by the Linux serial tests, not here.) The board runs a loader of
#    the original kind: on ours a blank EEPROM's erase ends before a Ctrl-C could land.
start_sim --model ATmega328 --plain-loader || fail "zarvik-sim did not start"
LC_ALL=ru_RU.UTF-8 wine "$build/src/zarvik-cli.exe" -p COM5 -m ATmega328 --json erase eeprom >"$work/held.out" 2>&1 &
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

# 6. The line as the loader needs it, whatever the port held: at 4800 baud an answer is
#    awaited from when the question has left the line; a speed the driver does not
#    make (Wine 8 runs 76800, 100000, 125000 and 250000 at 38400) is refused, naming
#    both; XON/XOFF left on by another program swallows nothing.
start_sim --model ATmega328 --wire || fail "zarvik-sim did not start"
wcli -p COM5 -b 4800 -m ATmega328 write eeprom "$eep" >"$work/slow.out" 2>&1 \
  && pass "4800 baud: write eeprom" || { fail "4800 baud: write eeprom (exit $?)"; cat "$work/slow.out"; }
for b in 9600 115200 230400; do
  wcli -p COM5 -b $b connect >"$work/speed.out" 2>&1 && pass "$b baud: connect" \
    || { fail "$b baud: connect"; cat "$work/speed.out"; }
done
for b in 76800 100000 125000 250000; do
  wcli -p COM5 -b $b -m ATmega328 erase eeprom >"$work/speed.out" 2>&1
  code=$?
  if [ "$code" -eq 3 ] && grep -q "порт COM5 работает на 38400 бод, а не на $b" "$work/speed.out"; then
    pass "$b baud: refused, naming both speeds"
  else
    fail "$b baud: exit $code"; cat "$work/speed.out"
  fi
done
stop_sim
start_sim --model ATmega328 || fail "zarvik-sim did not start"
wcli -p COM5 -m ATmega328 write flash "$hex" >"$work/ixon.out" 2>&1 || { fail "write flash before XON/XOFF"; cat "$work/ixon.out"; }
stty -F "$link" ixon ixoff 2>/dev/null || fail "stty ixon on the terminal"
wcli -p COM5 -m ATmega328 verify flash "$hex" >"$work/ixon.out" 2>&1 \
  && pass "XON/XOFF left on the port: verify flash" || { fail "XON/XOFF left on the port: exit $?"; cat "$work/ixon.out"; }
stop_sim

# 7. A stop in the middle of a configuration never leaves the loader blank, nor is the
#    loader's block cut in two: at each step, the block afterwards still identifies the
#    chip (the Linux CLI reads it).
for moment in '"connect"' '"position":1,' '"position":2,' '"position":3,'; do
  start_sim --model ATmega328 --wire || fail "zarvik-sim did not start"
  : >"$work/conf.out"
  LC_ALL=ru_RU.UTF-8 wine "$build/src/zarvik-cli.exe" -p COM5 -b 19200 --json configure 16 2 >"$work/conf.out" 2>&1 </dev/null &
  conf=$!
  for _ in $(seq 300); do grep -qF "$moment" "$work/conf.out" && break; kill -0 $conf 2>/dev/null || break; sleep 0.05; done
  kill -INT $conf 2>/dev/null
  wait $conf
  code=$?
  # The board may still be sending the rest of the answer the stop cut short: a second
  # try, after the line has been quiet, reads what the loader holds.
  for _ in 1 2 3; do
    sleep 1
    LANG=C.UTF-8 "$linux_cli" -p "$link" read eeprom "$work/conf.eep" >"$work/conf-check.out" 2>&1
    check=$?
    [ "$check" -ne 3 ] && break
  done
  if { [ "$code" -eq 0 ] || [ "$code" -eq 130 ]; } && [ "$check" -eq 0 ] && grep -q "7C00" "$work/conf-check.out"; then
    pass "Ctrl-C after $moment of a configuration: exit $code, the loader intact"
  else
    fail "Ctrl-C after $moment of a configuration: exit $code, check $check"; cat "$work/conf.out" "$work/conf-check.out"
  fi
  stop_sim
done

# 8. A console: Russian reaches it through WriteConsoleW, readable whatever its code
#    page, and the progress bar redraws in place. `script` gives Wine a terminal, which
#    Wine makes the program's console.
if LC_ALL=C.UTF-8 script -qfec "wine $build/src/zarvik-cli.exe --lang ru --simulate=ATmega328 erase eeprom start" \
     "$work/console.txt" </dev/null >/dev/null 2>&1; then
  if grep -q "Стирание EEPROM закончено" "$work/console.txt" && grep -q "Программа запущена" "$work/console.txt" \
     && ! grep -q $'\xEF\xBF\xBD' "$work/console.txt"; then
    pass "console: Russian readable"
  else
    fail "console: Russian unreadable"; cat -v "$work/console.txt" | head -20
  fi
  # The bar names its operation in the language of the messages.
  if grep -a "стирание eeprom \[" "$work/console.txt" | grep -q "100%"; then
    pass "console: the progress bar"
  else
    fail "console: no progress bar"; cat -v "$work/console.txt" | head -20
  fi
else
  fail "console: the run under script failed"; cat -v "$work/console.txt" 2>/dev/null | head -20
fi

LC_ALL=C.UTF-8 script -qfec "wine $build/src/zarvik-cli.exe --lang ru --help" "$work/help.txt" </dev/null >/dev/null 2>&1
if grep -q "Команды выполняются по порядку" "$work/help.txt" && ! grep -q $'\xEF\xBF\xBD' "$work/help.txt"; then
  pass "console: the help in Russian"
else
  fail "console: the help"; cat -v "$work/help.txt" | head -20
fi

# 9. The language follows the Windows user interface language unless --lang says.
out=$(LC_ALL=en_US.UTF-8 wcli --simulate start 2>&1)
[[ "$out" == *"Program started."* ]] && pass "an English Windows: English" || fail "an English Windows: '$out'"
out=$(LC_ALL=en_US.UTF-8 wcli --lang ru --simulate start 2>&1)
[[ "$out" == *"Программа запущена"* ]] && pass "an English Windows, --lang ru: Russian" || fail "--lang ru: '$out'"
out=$(wcli --simulate start 2>&1)
[[ "$out" == *"Программа запущена"* ]] && pass "a Russian Windows: Russian" || fail "a Russian Windows: '$out'"

# 10. ports lists COM3 before COM12.
start_sim --model ATmega328 || fail "zarvik-sim did not start"
for com in com3 com12; do
  rm -f "$WINEPREFIX/zarvik-$com"
  "$sim" --link "$WINEPREFIX/zarvik-$com" --model ATmega8 >/dev/null 2>&1 &
  extra_pids+=($!)
  for _ in $(seq 50); do [ -e "$WINEPREFIX/zarvik-$com" ] && break; sleep 0.1; done
done
ZARVIK_SERIAL_PORTS="COM12;COM5;COM3" wcli ports >"$work/ports3.out" 2>/dev/null
out=$(tr -d '\r' <"$work/ports3.out" | tr '\n' ' ')
[ "$out" = "COM3 COM5 COM12 " ] && pass "ports sorts as numbers" || fail "ports lists '$out'"

# 11. Three boards at once (threads, one port each), a serial number each from a counter
# under a Cyrillic name, and the log a line a board.
counter="$work/Счётчик.txt"
if wcli --ports COM3,COM5,COM12 --serial-at eeprom:0x40 --serial-format ascii:4 --serial-file "$counter" \
     --serial-start 7 --log "$work/boards.jsonl" write eeprom "$eep" >"$work/batch.out" 2>"$work/batch.err"; then
  pass "three boards at once"
else
  fail "three boards at once (exit $?)"; cat "$work/batch.out" "$work/batch.err"
fi
numbers=$(grep -o '"serial":[0-9]*' "$work/boards.jsonl" 2>/dev/null | sort | tr '\n' ' ')
[ "$numbers" = '"serial":7 "serial":8 "serial":9 ' ] && [ "$(tr -d '\r\n' <"$counter")" = 10 ] \
  && pass "numbers 7, 8, 9 given once each" || fail "numbers given: '$numbers'"
for p in "${extra_pids[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
extra_pids=()
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
