#!/usr/bin/env bash
# The native window under Wine: builds zarvik.exe and its driver with MinGW-w64, starts
# the window on COM5 (a native zarvik-sim's terminal, as in wine-test.sh) on a virtual
# display, and works it through its control ids as a user would: connect selects the
# model; erase, write, verify and read flash and EEPROM with the files chosen in the
# file dialogs; «Стоп» during an EEPROM erase; closing during an operation asks first;
# a lost line; a wrong model refused. Then the installer: installed silently, the
# installed programs run, the uninstaller removes them. Screenshots at 96 and 144 dpi
# go to docs/ with ZARVIK_SCREENSHOTS=1.
#
#   scripts/wine-window-test.sh NATIVE_BUILD_DIR
set -uo pipefail
cd "$(dirname "$0")/.."
native=${1:?usage: wine-window-test.sh NATIVE_BUILD_DIR}
native=$(cd "$native" && pwd)
# Wine needs a display: a virtual one unless there is one already.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$native"
fi
build=${ZARVIK_WINE_BUILD:-build-wine}
sim=$native/src/zarvik-sim
hex=$native/examples/blink/blink.hex
eep=$native/examples/blink/blink.eep

failures=0
pass() { echo "wine-window: ok   $1"; }
fail() { echo "wine-window: FAIL $1"; failures=$((failures + 1)); }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DZARVIK_GUI=OFF >/dev/null || exit 1
cmake --build "$build" -j2 --target zarvik-win32 window_driver zarvik-cli >/dev/null \
  || { cmake --build "$build" -j1 --target zarvik-win32 window_driver 2>&1 | grep -E 'error' | head -20; exit 1; }

export WINEPREFIX=$PWD/$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko prompts
export ZARVIK_SERIAL_PORTS="COM5"
work=$(mktemp -d)
link=$WINEPREFIX/zarvik-com5
sim_pid=
app_pid=

stop_sim() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  sim_pid=
}
stop_app() {
  if [ -n "$app_pid" ]; then
    # A window that a failed step left open: ended by its process id.
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null
  fi
  app_pid=
}
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0
  stop_app
  stop_sim
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/.zarvik-ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  setsid wineboot -i >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$link" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  touch "$WINEPREFIX/.zarvik-ready"
fi

set_dpi() {  # Wine's LogPixels; a new wineserver picks it up
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  setsid wineserver -p >/dev/null 2>&1 </dev/null
}

start_sim() {  # args for zarvik-sim
  stop_sim
  rm -f "$link"
  "$sim" --link "$link" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$link" ] && return 0; sleep 0.1; done
  return 1
}

winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }

# Runs the window (args) from folder $run_dir and the driver on script $1; a failing
# step is printed with the driver's reason.
exe=$(cd "$build/src" && pwd)/zarvik.exe
run_dir=$work/run
mkdir -p "$run_dir"
drive() {  # name script [zarvik args...]
  local name=$1 script=$2; shift 2
  (cd "$run_dir" && exec wine "$exe" "$@") >/dev/null 2>&1 &
  app_pid=$!
  if timeout 150 wine "$build/src/window_driver.exe" "$(winpath "$script")" >"$work/$name.log" 2>&1; then
    pass "$name"
  else
    fail "$name"; cat "$work/$name.log"
  fi
  stop_app
}

title="Загрузчик (Zarvik) (Версия 1.0 полная)"
setsid wineserver -p >/dev/null 2>&1 </dev/null
set_dpi 96
shots=$work/shots
mkdir -p "$shots"
cp "$hex" "$work/Прошивка.hex"
cp "$eep" "$work/Данные.eep"

# 1. The whole road on an ATmega328 while ATmega8 is selected: connect selects the
#    model; each memory erased, written from the file chosen in the open dialog,
#    verified and read into a file named in the save dialog.
start_sim --model ATmega328 || fail "zarvik-sim did not start"
cat >"$work/road.txt" <<STEPS
window $title
text 1001 ATmega8
text 1012 Доступно 1 COM порт
select 1000 COM5
text 1012 Открыт порт COM5. Выберите скорость
select 1010 115200
text 1012 Установлена скорость 115200 бод
click 1
text 1012 Соединение установлено успешно!
text 1001 ATmega328
text 1013 в списке МК выбран ATmega328
shot $(winpath "$shots/idle-96.bmp")
click 1049
file $(winpath "$work/Прошивка.hex")
text 1047 Прошивка.hex
click 1074
text 1013 Стирание flash закончено!
click 1024
text 1013 Запись flash закончена!
enabled 1025 1
click 1025
text 1013 flash записан правильно!
click 1026
file $(winpath "$work/Прочитано.hex")
text 1013 Чтение flash закончено!
click 1050
file $(winpath "$work/Данные.eep")
text 1048 Данные.eep
click 1075
text 1013 Стирание EEPROM закончено!
click 1044
text 1013 Запись EEPROM закончена!
enabled 1045 1
click 1045
text 1013 EEPROM записан правильно!
click 1046
file $(winpath "$work/Прочитано.eep")
text 1013 Чтение EEPROM закончено!
set 1076 16
click 2
gone
STEPS
drive "connect selects the model; erase, write, verify, read flash and EEPROM through the file dialogs" "$work/road.txt" --lang ru
# The same chip read by the Linux command line: the oracle for the window's file.
"$native/src/zarvik-cli" -p "$link" -b 115200 -m ATmega328 read flash "$work/expected.hex" >/dev/null 2>&1
if [ -s "$work/Прочитано.hex" ] && cmp -s "$work/Прочитано.hex" "$work/expected.hex"; then
  pass "the flash read through the window is the written program"
else
  fail "the flash read through the window differs from the written program"
fi
[ -s "$work/Прочитано.eep" ] && pass "the EEPROM read was saved" || fail "no EEPROM file saved"
# Zarvik.ini: none anywhere, so it was made beside the program (a build folder is no
# installation), and exit wrote what was typed.
ini=$(dirname "$exe")/Zarvik.ini
if grep -q "Fosc	 = 16" "$ini" 2>/dev/null && [ ! -e "$run_dir/Zarvik.ini" ]; then
  pass "Zarvik.ini made beside the program, the typed clock saved"
else
  fail "Zarvik.ini not where expected"; ls -la "$(dirname "$exe")" "$run_dir"; cat "$ini" 2>/dev/null
fi
rm -f "$ini"
stop_sim

# 2. «Стоп» during an EEPROM erase, on a line as slow as a real one at 4800 baud;
#    closing the window meanwhile asks first, and No goes on.
start_sim --model ATmega328 --wire || fail "zarvik-sim did not start"
cat >"$work/stop.txt" <<STEPS
window $title
select 1000 COM5
select 1010 4800
text 1012 Установлена скорость 4800 бод
select 1001 ATmega328
click 1075
text 1013 Стираем EEPROM
enabled 1079 1
enabled 1074 0
progress 1060 1
shot $(winpath "$shots/busy-96.bmp")
close
answer no Операция ещё не закончена
text 1013 Стираем EEPROM
click 1079
text 1013 Прервано при стирании EEPROM
enabled 1079 0
enabled 1074 1
click 1075
progress 1060 1
key ESC
text 1013 Прервано при стирании EEPROM
close
gone
STEPS
drive "«Стоп» and Esc stop an EEPROM erase; closing during it asks, No is the default" "$work/stop.txt" --lang ru
stop_sim

# 3. The line goes away during a write: the status line names it.
start_sim --model ATmega328 --line-gone-after 300 || fail "zarvik-sim did not start"
cat >"$work/gone.txt" <<STEPS
window $title
select 1000 COM5
select 1010 115200
select 1001 ATmega328
drop $(winpath "$work/Прошивка.hex")
text 1047 Прошивка.hex
click 1024
text 1013 Связь с портом потеряна при записи flash
enabled 1024 1
close
gone
STEPS
drive "a lost line is reported, the window stays usable" "$work/gone.txt" --lang ru
stop_sim

# 4. An ATmega168 while ATmega328 is selected: refused, nothing written.
start_sim --model ATmega168 || fail "zarvik-sim did not start"
cat >"$work/wrong.txt" <<STEPS
window $title
select 1000 COM5
select 1010 115200
select 1001 ATmega328
click 1074
answer ok Подключён ATmega168 (загрузчик с адреса 3C00), а выбран ATmega328
not-text 1013 закончено
close
gone
STEPS
drive "a wrong model is refused with a message" "$work/wrong.txt" --lang ru
stop_sim

# 5. Without --lang the window speaks the Windows UI language: English in this prefix,
#    which runs under the C locale. A flash file given on the command line fills its path.
cat >"$work/english.txt" <<STEPS
window Loader (Zarvik) (Version 1.0, full)
text 1 Connect
text 1047 Прошивка.hex
close
gone
STEPS
drive "the Windows UI language, and a file named on the command line" "$work/english.txt" "$(winpath "$work/Прошивка.hex")"

# 6. At 144 dpi: the same window, larger, and nothing cut off.
set_dpi 144
start_sim --model ATmega328 --wire || fail "zarvik-sim did not start"
cat >"$work/dpi.txt" <<STEPS
window $title
select 1000 COM5
select 1010 4800
text 1012 Установлена скорость 4800 бод
shot $(winpath "$shots/idle-144.bmp")
select 1001 ATmega328
click 1075
progress 1060 1
shot $(winpath "$shots/busy-144.bmp")
click 1079
text 1013 Прервано
close
gone
STEPS
drive "at 144 dpi" "$work/dpi.txt" --lang ru
stop_sim
set_dpi 96
width_of() { python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); print(struct.unpack_from('<i', d, 18)[0])" "$1"; }
if [ -s "$shots/idle-96.bmp" ] && [ -s "$shots/idle-144.bmp" ]; then
  w96=$(width_of "$shots/idle-96.bmp"); w144=$(width_of "$shots/idle-144.bmp")
  # Dialog units follow the font: 1.5 times the pixels, give or take the frame.
  if [ $((w144 * 100 / w96)) -ge 135 ] && [ $((w144 * 100 / w96)) -le 165 ]; then
    pass "144 dpi: the window is ${w144} px wide against ${w96} px at 96 dpi"
  else
    fail "144 dpi: ${w144} px against ${w96} px at 96 dpi"
  fi
fi
if [ "${ZARVIK_SCREENSHOTS:-0}" = 1 ]; then
  for s in idle-96 busy-96 idle-144 busy-144; do
    [ -s "$shots/$s.bmp" ] && python3 scripts/bmp_to_png.py "$shots/$s.bmp" "docs/win32-$s.png"
  done
fi

echo "wine-window: $failures failed"
[ "$failures" -eq 0 ]
