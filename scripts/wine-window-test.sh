#!/usr/bin/env bash
# The native window under Wine: builds zarvik.exe and its driver with MinGW-w64, starts
# the window on COM5 (a native zarvik-sim's terminal, as in wine-test.sh) on a virtual
# display, and works it through its control ids as a user would: connect selects the
# model; erase, write, verify and read flash and EEPROM with the files chosen in the
# file dialogs, an ELF file too; «Стоп» during an EEPROM erase; closing during an
# operation asks first, and the question left unanswered outlives the operation; the
# reset through DTR remembered;
# a lost line; a wrong model refused; Esc with nothing running and Esc in an open
# drop-down list, neither of which ends the program; a board unplugged and plugged
# back in, which Connect opens again at the chosen speed; Help in either language
# opens at its top. Then
# the .zip and the installer: what each carries (both helps, the licence, the portable
# marker in the .zip only), the installer in the system's language, installed silently,
# the installed programs run; neither the uninstaller nor the installer goes on while
# the installed zarvik.exe runs; the unpacked .zip keeps its own settings beside itself
# while an installed copy's are in %APPDATA%; the uninstaller asks about the settings
# and removes the rest. Screenshots at 96 and 144 dpi, idle in both languages and busy,
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
elf=$native/examples/blink/blink.elf

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

# The window remembers the last port, speed and model in %APPDATA%\Zarvik\Zarvik.ini;
# a step that starts from nothing chosen forgets what the run before it chose.
forget_choices() { rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Zarvik/Zarvik.ini; }

winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }

# Runs the window (args) from folder $run_dir and the driver on script $1; a failing
# step is printed with the driver's reason.
exe=$(cd "$build/src" && pwd)/zarvik.exe
run_dir=$work/run
mkdir -p "$run_dir"
drive() {  # name script [zarvik args...]
  local name=$1 script=$2; shift 2
  # APP_LC: the locale Wine takes the Windows user interface language from.
  (cd "$run_dir" && exec env ${APP_LC:+LC_ALL=$APP_LC} wine "$exe" "$@") >/dev/null 2>&1 &
  app_pid=$!
  if timeout 150 wine "$build/src/window_driver.exe" "$(winpath "$script")" >"$work/$name.log" 2>&1; then
    pass "$name"
  else
    fail "$name"; cat "$work/$name.log"
  fi
  stop_app
}

# A Russian and an English Windows need both locales, built from Debian's locale sources
# as in wine-test.sh.
export LOCPATH=$PWD/$build/locale
mkdir -p "$LOCPATH"
for l in ru_RU en_US; do
  [ -d "$LOCPATH/$l.UTF-8" ] || localedef -i $l -f UTF-8 "$LOCPATH/$l.UTF-8" 2>/dev/null \
    || { echo "wine-window: localedef $l failed (Debian package locales)"; exit 1; }
done

title="Загрузчик (Zarvik) (Версия 1.0 полная)"
# No settings from an earlier run: where Zarvik.ini is made is part of what is checked.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Zarvik "$(dirname "$exe")/Zarvik.ini"
setsid wineserver -p >/dev/null 2>&1 </dev/null
set_dpi 96
shots=$work/shots
mkdir -p "$shots"
cp "$hex" "$work/Прошивка.hex"
cp "$eep" "$work/Данные.eep"
cp "$elf" "$work/Прошивка.elf"

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
click 1049
file $(winpath "$work/Прошивка.elf")
text 1047 Прошивка.elf
click 1024
text 1013 Запись flash закончена!
enabled 1025 1
click 1025
text 1013 flash записан правильно!
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
drive "connect selects the model; erase, write, verify, read flash and EEPROM through the file dialogs; an ELF file written and verified" "$work/road.txt" --lang ru
# The same chip read by the Linux command line: the oracle for the window's file.
"$native/src/zarvik-cli" -p "$link" -b 115200 -m ATmega328 read flash "$work/expected.hex" >/dev/null 2>&1
if [ -s "$work/Прочитано.hex" ] && cmp -s "$work/Прочитано.hex" "$work/expected.hex"; then
  pass "the flash read through the window is the written program"
else
  fail "the flash read through the window differs from the written program"
fi
[ -s "$work/Прочитано.eep" ] && pass "the EEPROM read was saved" || fail "no EEPROM file saved"
# Zarvik.ini: none anywhere, and a build folder carries no portable marker, so it was
# made per user, and exit wrote what was typed.
ini=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Roaming/Zarvik/Zarvik.ini' 2>/dev/null | head -1)
if [ -n "$ini" ] && grep -q "Fosc	 = 16" "$ini" && [ ! -e "$(dirname "$exe")/Zarvik.ini" ] && [ ! -e "$run_dir/Zarvik.ini" ]; then
  pass "Zarvik.ini made in %APPDATA%\\Zarvik, the typed clock saved"
else
  fail "Zarvik.ini not where expected"; ls -la "$(dirname "$exe")" "$run_dir"; cat "$ini" 2>/dev/null
fi
rm -f "$ini"
stop_sim

# 2. «Стоп» during an EEPROM erase, on a line as slow as a real one at 4800 baud;
#    closing the window meanwhile asks first, and No goes on.
start_sim --model ATmega328 --wire --plain-loader || fail "zarvik-sim did not start"
cat >"$work/stop.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
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
forget_choices
drive "«Стоп» and Esc stop an EEPROM erase; closing during it asks, No is the default" "$work/stop.txt" --lang ru
stop_sim

# 2b. The question whether to stop and close, left unanswered while the operation ends:
#     it stays, centred on the window; No keeps the window, and the next time Yes,
#     given after the end, closes it at once.
start_sim --model ATmega328 --wire --plain-loader || fail "zarvik-sim did not start"
cat >"$work/question.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
select 1010 4800
text 1012 Установлена скорость 4800 бод
select 1001 ATmega328
click 1075
text 1013 Стираем EEPROM
close
asked Операция ещё не закончена
text 1013 Стирание EEPROM закончено!
enabled 1075 1
asked Операция ещё не закончена
answer no Операция ещё не закончена
text 1013 Стирание EEPROM закончено!
click 1075
text 1013 Стираем EEPROM
close
asked Операция ещё не закончена
text 1013 Стирание EEPROM закончено!
answer yes Операция ещё не закончена
gone
STEPS
forget_choices
drive "the close question outlives the operation's end: No keeps the window, Yes then closes it" "$work/question.txt" --lang ru
stop_sim

# 2c. «Сброс по DTR»: ticked, Connect pulses DTR before the sync (the terminal of the
#     simulated board has no modem lines, and the window says so), and it is remembered.
start_sim --model ATmega328 || fail "zarvik-sim did not start"
cat >"$work/dtr.txt" <<STEPS
window $title
select 1000 COM5
select 1010 115200
text 1012 Установлена скорость 115200 бод
click 1080
click 1
text 1012 Соединение установлено успешно!
print 1013
click 2
gone
STEPS
forget_choices
drive "«Сброс по DTR» before Connect" "$work/dtr.txt" --lang ru
if grep -q "reset = dtr" "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Zarvik/Zarvik.ini 2>/dev/null; then
  pass "«Сброс по DTR» remembered in Zarvik.ini"
else
  fail "«Сброс по DTR» not in Zarvik.ini"
fi
stop_sim

# 3. The line goes away during a write: the status line names it.
start_sim --model ATmega328 --line-gone-after 300 || fail "zarvik-sim did not start"
cat >"$work/gone.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
select 1010 115200
select 1001 ATmega328
click 1049
file $(winpath "$work/Прошивка.hex")
text 1047 Прошивка.hex
click 1024
text 1013 Связь с портом потеряна при записи flash
enabled 1024 1
close
gone
STEPS
forget_choices
drive "a lost line is reported, the window stays usable" "$work/gone.txt" --lang ru
stop_sim

# 4. An ATmega168 while ATmega328 is selected: refused, nothing written.
start_sim --model ATmega168 || fail "zarvik-sim did not start"
cat >"$work/wrong.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
select 1010 115200
select 1001 ATmega328
click 1074
answer ok Подключён ATmega168 (загрузчик с адреса 3C00), а выбран ATmega328
not-text 1013 закончено
close
gone
STEPS
forget_choices
drive "a wrong model is refused with a message" "$work/wrong.txt" --lang ru
stop_sim

# 5. Esc never ends the program: with nothing running it does nothing, and in an open
#    drop-down list it closes the list and leaves its choice alone. Each later step
#    is posted after the Esc, so the window that takes it has taken the Esc first.
start_sim --model ATmega8 || fail "zarvik-sim did not start"
cat >"$work/esc.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
key ESC
key ESC 1000
select 1010 9600
text 1012 Установлена скорость 9600 бод
drop 1001
key ESC 1001
dropped 1001 0
text 1001 ATmega8
drop 1010
key ESC 1010
dropped 1010 0
text 1010 9600
select 1010 115200
text 1012 Установлена скорость 115200 бод
click 1
text 1012 Соединение установлено успешно!
key ESC
click 1074
text 1013 Стирание flash закончено!
close
gone
STEPS
forget_choices
drive "Esc closes an open drop-down list and never ends the program" "$work/esc.txt" --lang ru
stop_sim

# 6. The board is unplugged and plugged back in: its terminal goes away (the simulated
#    board ends) and a new one comes under the same COM5. The operation under way names
#    the lost line; «Соединить» alone opens COM5 again at the speed still chosen.
start_sim --model ATmega328 || fail "zarvik-sim did not start"
rm -f "$work/unplug" "$work/unplugged" "$work/plug" "$work/plugged" "$work/replugged.pid"
(
  for _ in $(seq 1500); do [ -e "$work/unplug" ] && break; sleep 0.1; done
  kill -TERM "$sim_pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$link"
  touch "$work/unplugged"
  for _ in $(seq 1500); do [ -e "$work/plug" ] && break; sleep 0.1; done
  "$sim" --link "$link" --model ATmega328 >"$work/sim2.out" 2>"$work/sim2.err" &
  echo $! >"$work/replugged.pid"
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  touch "$work/plugged"
) &
plugger=$!
cat >"$work/replug.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
select 1010 115200
text 1012 Установлена скорость 115200 бод
click 1
text 1012 Соединение установлено успешно!
signal $(winpath "$work/unplug")
await $(winpath "$work/unplugged")
click 1074
text 1012 Связь с портом потеряна
enabled 1 1
signal $(winpath "$work/plug")
await $(winpath "$work/plugged")
text 1010 115200
click 1
text 1012 Соединение установлено успешно!
click 1074
text 1013 Стирание flash закончено!
close
gone
STEPS
forget_choices
drive "a replugged port: the lost line named, Connect opens it again at the chosen speed" "$work/replug.txt" --lang ru
touch "$work/unplug" "$work/plug"  # a run that failed early leaves the helper waiting
wait "$plugger" 2>/dev/null
[ -s "$work/replugged.pid" ] && { kill -TERM "$(cat "$work/replugged.pid")" 2>/dev/null; }
stop_sim

# 7. Without --lang the window speaks the Windows UI language: English on an English
#    Windows, Russian on a Russian one. A flash file given on the command line fills its path.
cat >"$work/english.txt" <<STEPS
window Loader (Zarvik) (Version 1.0, full)
text 1 Connect
text 1047 Прошивка.hex
shot $(winpath "$shots/idle-en-96.bmp")
menu 57670
help Loader (Zarvik) is a programmer
select 1000 COM5
select 1010 115200
click 3
text 1012 the loader is not listening
shot $(winpath "$shots/started-en-96.bmp")
close
gone
STEPS
start_sim --model ATmega328 || fail "zarvik-sim did not start"
forget_choices
APP_LC=en_US.UTF-8 drive "an English Windows: English; a file named on the command line; Help in English opens at its top" "$work/english.txt" "$(winpath "$work/Прошивка.hex")"
stop_sim
cat >"$work/russian.txt" <<STEPS
window $title
text 1 Соединить
menu 57670
help с резидентным загрузчиком
close
gone
STEPS
forget_choices
APP_LC=ru_RU.UTF-8 drive "a Russian Windows: Russian; Help in Russian opens at its top" "$work/russian.txt"

# 8. At 144 dpi: the same window, larger, and nothing cut off.
set_dpi 144
start_sim --model ATmega328 --wire --plain-loader || fail "zarvik-sim did not start"
cat >"$work/dpi.txt" <<STEPS
window $title
select 1000 COM5
text 1012 Открыт порт COM5
select 1010 4800
text 1012 Установлена скорость 4800 бод
shot $(winpath "$shots/idle-144.bmp")
select 1010 115200
click 1
text 1012 Соединение
shot $(winpath "$shots/connect-144.bmp")
select 1010 4800
select 1001 ATmega328
click 1075
progress 1060 1
shot $(winpath "$shots/busy-144.bmp")
click 1079
text 1013 Прервано
close
gone
STEPS
forget_choices
drive "at 144 dpi" "$work/dpi.txt" --lang ru
stop_sim
start_sim --model ATmega328 || fail "zarvik-sim did not start"
cat >"$work/dpi-en.txt" <<STEPS
window Loader (Zarvik) (Version 1.0, full)
shot $(winpath "$shots/idle-en-144.bmp")
select 1000 COM5
select 1010 115200
click 3
text 1012 the loader is not listening
shot $(winpath "$shots/started-en-144.bmp")
close
gone
STEPS
forget_choices
drive "at 144 dpi in English" "$work/dpi-en.txt" --lang en
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
  for s in idle-96 busy-96 idle-144 busy-144 idle-en-96 idle-en-144 connect-144 started-en-96 started-en-144; do
    [ -s "$shots/$s.bmp" ] && python3 scripts/bmp_to_png.py "$shots/$s.bmp" "docs/win32-$s.png"
  done
fi

# 9. What a Windows user downloads: the portable .zip and the installer. The installer
#    runs silently (/S), the installed programs run, the window keeps its settings per
#    user (an installation's folder is not written to), the uninstaller removes it all.
rm -f "$build"/zarvik-*-win64.*
if (cd "$build" && cpack -G "ZIP;NSIS" >"$work/cpack.log" 2>&1); then
  pass "cpack makes the .zip and the installer"
else
  fail "cpack"; tail -20 "$work/cpack.log"
fi
if unzip -q -o "$build"/zarvik-*-win64.zip -d "$work/zip" 2>/dev/null; then
  top=$(ls -d "$work"/zip/*/ | head -1)
  missing=
  for f in bin/zarvik.exe bin/zarvik-cli.exe bin/Help.txt bin/Help_en.txt bin/portable.txt LICENSE.txt COPYING; do
    [ -f "$top/$f" ] || missing="$missing $f"
  done
  [ -z "$missing" ] && pass "the .zip holds both programs, both helps, the portable marker and the licence" || fail "the .zip lacks$missing"
  if grep -q "GNU GENERAL PUBLIC LICENSE" "$top/COPYING" && grep -q "either version 3 of the License, or" "$top/LICENSE.txt" \
    && grep -q "GNU GENERAL PUBLIC LICENSE" "$top/LICENSE.txt"; then
    pass "the licence is the GNU GPL, version 3 or later"
  else
    fail "the licence files do not name the GNU GPL version 3 or later"
  fi
  # One exe each, no DLL beside them: only Windows' own libraries are imported.
  foreign=$(x86_64-w64-mingw32-objdump -p "$top/bin/zarvik.exe" | sed -n 's/.*DLL Name: //p' \
    | grep -viE '^(advapi32|comctl32|comdlg32|gdi32|kernel32|msvcrt|setupapi|shell32|user32|ole32)\.dll$')
  [ -z "$foreign" ] && [ -z "$(find "$top" -iname '*.dll')" ] && pass "zarvik.exe imports only Windows' own DLLs" \
    || fail "zarvik.exe needs $foreign"
else
  fail "the .zip does not unpack"
fi
installer=$(ls "$build"/zarvik-*-win64.exe 2>/dev/null | head -1)
# What CPack asked of NSIS: the licence page shows our licence, the last page has the
# "Run Zarvik" box, and the installer carries a Russian language table.
nsi=$build/_CPack_Packages/win64/NSIS/project.nsi
if grep -q 'MUI_FINISHPAGE_RUN .*zarvik.exe' "$nsi" && grep -q 'MUI_LANGUAGE "Russian"' "$nsi" \
  && grep -q 'MUI_PAGE_LICENSE .*LICENSE.txt' "$nsi"; then
  pass "the installer's script: the licence page, the Run box, Russian"
else
  fail "the installer's script lacks the licence page, the Run box or Russian"
fi
# The installer speaks the system's language: its first page, shown and left.
installer_language() {  # locale title
  (exec env LC_ALL=$1 wine "$installer") >/dev/null 2>&1 &
  local pid=$!
  printf 'window %s\nshot %s\n' "$2" "$(winpath "$shots/installer-${1%%_*}.bmp")" >"$work/installer.txt"
  if timeout 120 wine "$build/src/window_driver.exe" "$(winpath "$work/installer.txt")" >"$work/installer.log" 2>&1; then
    pass "the installer on a ${1%%.*} Windows: $2"
  else
    fail "the installer on a ${1%%.*} Windows"; cat "$work/installer.log"
  fi
  kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  setsid wineserver -p >/dev/null 2>&1 </dev/null
}
if [ -n "$installer" ]; then
  installer_language ru_RU.UTF-8 "Установка Zarvik"
  installer_language en_US.UTF-8 "Zarvik Setup"
fi
programs="$WINEPREFIX/drive_c/Program Files/Zarvik"
appdata_ini=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Roaming/Zarvik/Zarvik.ini' 2>/dev/null | head -1)
[ -n "$appdata_ini" ] && rm -f "$appdata_ini"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zarvik'
apps_entry() {
  wine reg query "$uninstall_key" /v DisplayName 2>/dev/null | grep -q Zarvik && return 0
  wine reg query "${uninstall_key/Software/Software\\Wow6432Node}" /v DisplayName 2>/dev/null | grep -q Zarvik
}
start_menu_entry() { find "$WINEPREFIX/drive_c" -path '*Start Menu*' -iname 'Zarvik.lnk' 2>/dev/null | grep -q .; }
if [ -n "$installer" ] && timeout 120 wine "$installer" /S >/dev/null 2>&1 && [ -f "$programs/bin/zarvik.exe" ]; then
  pass "the installer installs silently"
  start_menu_entry && pass "a Start-menu entry" || fail "no Start-menu entry"
  apps_entry && pass "an entry among the installed apps" || fail "no entry under the Uninstall key"
  [ -f "$programs/Uninstall.exe" ] && pass "an uninstaller" || fail "no uninstaller"
  if [ -f "$programs/bin/Help_en.txt" ] && [ -f "$programs/COPYING" ] && [ ! -e "$programs/bin/portable.txt" ]; then
    pass "installed: both helps and the licence, no portable marker"
  else
    fail "installed: $(ls "$programs" "$programs/bin" | tr '\n' ' ')"
  fi
  if timeout 60 wine "$programs/bin/zarvik-cli.exe" --version </dev/null 2>/dev/null | grep -q '^zarvik-cli '; then
    pass "the installed zarvik-cli.exe runs"
  else
    fail "the installed zarvik-cli.exe"
  fi
  cat >"$work/installed.txt" <<STEPS
window $title
text 1012 Доступно 1 COM порт
set 1077 7
click 2
gone
STEPS
  saved=$exe
  exe=$programs/bin/zarvik.exe
  drive "the installed zarvik.exe runs" "$work/installed.txt" --lang ru
  exe=$saved
  appdata_ini=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Roaming/Zarvik/Zarvik.ini' 2>/dev/null | head -1)
  if [ -n "$appdata_ini" ] && grep -q "time_out = 7" "$appdata_ini" && [ ! -e "$programs/bin/Zarvik.ini" ] && [ ! -e "$run_dir/Zarvik.ini" ]; then
    pass "an installed window keeps Zarvik.ini in %APPDATA%\\Zarvik"
  else
    fail "the installed window's Zarvik.ini: ${appdata_ini:-none in AppData}"; ls "$programs/bin"
  fi
  # The unpacked .zip beside that installed copy: its window keeps its own settings,
  # made beside it, and leaves the installed copy's in %APPDATA% as they were.
  if [ -n "${top:-}" ] && [ -n "$appdata_ini" ]; then
    cat >"$work/portable.txt" <<STEPS
window Loader (Zarvik) (Version 1.0, full)
text 1077 5
set 1077 9
click 2
gone
STEPS
    saved=$exe
    exe=$top/bin/zarvik.exe
    APP_LC=en_US.UTF-8 drive "the unpacked .zip's window runs" "$work/portable.txt"
    exe=$saved
    if grep -q "time_out = 9" "$top/bin/Zarvik.ini" 2>/dev/null && grep -q "time_out = 7" "$appdata_ini"; then
      pass "a portable copy keeps its settings beside itself, not the installed copy's"
    else
      fail "the portable copy's settings: $(cat "$top/bin/Zarvik.ini" 2>/dev/null | tr '\r\n' '  ') / AppData: $(tr '\r\n' '  ' <"$appdata_ini")"
    fi
  fi
  # While the installed zarvik.exe runs, neither the installer nor the uninstaller goes
  # on. Silently (run in place, so that its exit code is its own) each refuses and
  # leaves everything as it was.
  (cd "$run_dir" && exec env LC_ALL=en_US.UTF-8 wine "$programs/bin/zarvik.exe") >/dev/null 2>&1 &
  app_pid=$!
  cat >"$work/running.txt" <<STEPS
window Loader (Zarvik) (Version 1.0, full)
await $(winpath "$work/close-zarvik")
close
gone
STEPS
  rm -f "$work/close-zarvik" "$work/zarvik-closed"
  (
    timeout 300 wine "$build/src/window_driver.exe" "$(winpath "$work/running.txt")" >"$work/running.log" 2>&1
    echo "driver $?" >>"$work/running.log"
    for _ in $(seq 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
    touch "$work/zarvik-closed"
  ) &
  running_driver=$!
  for _ in $(seq 300); do grep -q . "$work/running.log" 2>/dev/null && break; sleep 0.2; done
  sleep 3  # the window is up once the driver has found it
  # _?= takes the rest of the command line unquoted: a batch file passes it so.
  printf '@start /wait "" "C:\\Program Files\\Zarvik\\Uninstall.exe" /S _?=C:\\Program Files\\Zarvik\r\n@exit /b %%ERRORLEVEL%%\r\n' \
    >"$work/uninstall-in-place.bat"
  timeout 120 wine cmd /c "$(winpath "$work/uninstall-in-place.bat")" >/dev/null 2>&1
  un_status=$?
  timeout 120 wine "$installer" /S >/dev/null 2>&1
  in_status=$?
  if [ "$un_status" -ne 0 ] && [ "$in_status" -ne 0 ] && [ -f "$programs/bin/zarvik.exe" ] && [ -f "$programs/bin/zarvik-cli.exe" ] \
    && apps_entry; then
    pass "while zarvik.exe runs, the silent uninstaller ($un_status) and installer ($in_status) refuse and change nothing"
  else
    fail "with zarvik.exe running: uninstaller $un_status, installer $in_status; $(ls "$programs/bin" 2>/dev/null | tr '\n' ' ')"
  fi
  # The uninstaller, as a user runs it while Zarvik is open: it asks to close Zarvik
  # and asks again on Retry while it still runs; once it is closed, Retry goes on, and
  # the question whether the settings go too comes; Yes.
  cat >"$work/uninstall.txt" <<STEPS
window Zarvik Uninstall
click 1
answer retry Zarvik is running
answer retry Zarvik is running
signal $(winpath "$work/close-zarvik")
await $(winpath "$work/zarvik-closed")
answer retry Zarvik is running
answer yes Also remove the Zarvik settings
enabled 1 1
click 1
gone
STEPS
  (exec env LC_ALL=en_US.UTF-8 wine "$programs/Uninstall.exe") >/dev/null 2>&1 &
  if timeout 200 wine "$build/src/window_driver.exe" "$(winpath "$work/uninstall.txt")" >"$work/uninstall.log" 2>&1; then
    pass "the uninstaller waits while Zarvik runs, then asks whether to remove the settings"
  else
    fail "the uninstaller with Zarvik running"; cat "$work/uninstall.log" "$work/running.log"
  fi
  touch "$work/close-zarvik"  # a run that failed early leaves the window waiting
  wait "$running_driver" 2>/dev/null
  grep -q '^driver 0$' "$work/running.log" || { fail "the running window did not close"; cat "$work/running.log"; }
  stop_app
  [ -n "$appdata_ini" ] && [ ! -e "$appdata_ini" ] && pass "Yes removes %APPDATA%\\Zarvik" || fail "the settings stayed after Yes"
  # The uninstaller runs a copy of itself and returns at once: wait for its work.
  for _ in $(seq 300); do [ -e "$programs/bin/zarvik.exe" ] || break; sleep 0.2; done
  if [ ! -e "$programs/bin/zarvik.exe" ] && [ ! -e "$programs/bin/zarvik-cli.exe" ]; then
    pass "the uninstaller removes the programs"
  else
    fail "the uninstaller left $(ls "$programs/bin" 2>/dev/null | tr '\n' ' ')"
  fi
  for _ in $(seq 100); do start_menu_entry || break; sleep 0.2; done
  start_menu_entry && fail "the Start-menu entry stayed" || pass "the Start-menu entry is gone"
  apps_entry && fail "the Apps entry stayed" || pass "the Apps entry is gone"
else
  fail "the installer ($installer) did not install"
fi

echo "wine-window: $failures failed"
[ "$failures" -eq 0 ]
