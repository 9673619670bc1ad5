<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Загрузчик (Zarvik)</source>
        <translation>Loader (Zarvik)</translation>
    </message>
    <message>
        <source>Версия 1.0 полная</source>
        <translation>Version 1.0, full</translation>
    </message>
    <message>
        <source>01.04.2024</source>
        <translation>01.04.2024</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Свободная программа: GNU GPL версии 3 или более поздней (GPL-3.0-or-later)</source>
        <translation>Free software under the GNU GPL, version 3 or later (GPL-3.0-or-later)</translation>
    </message>
</context>
<context>
    <name>CHelpDlg</name>
    <message>
        <source>Помощь</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CVelborDlg</name>
    <message>
        <source>Загрузчик (Zarvik) (Версия 1.0 полная)</source>
        <translation>Loader (Zarvik) (Version 1.0, full)</translation>
    </message>
    <message>
        <source>Flash</source>
        <translation>Flash</translation>
    </message>
    <message>
        <source>EEPROM</source>
        <translation>EEPROM</translation>
    </message>
    <message>
        <source>Настройка прошивки загрузчика</source>
        <translation>Loader settings</translation>
    </message>
    <message>
        <source>Соединить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>МК:</source>
        <translation>MCU:</translation>
    </message>
    <message>
        <source>Скорость COM порта</source>
        <translation>Port speed</translation>
    </message>
    <message>
        <source>бод</source>
        <translation>baud</translation>
    </message>
    <message>
        <source>f</source>
        <translation>f</translation>
    </message>
    <message>
        <source>Стереть</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>Записать</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Сравнить</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>Прочитать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>e</source>
        <translation>e</translation>
    </message>
    <message>
        <source>Соединение не удалось установить</source>
        <translation>No answer from the loader</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Старт программы</source>
        <translation>Start program</translation>
    </message>
    <message>
        <source>Время ожидания</source>
        <translation>Start-up wait</translation>
    </message>
    <message>
        <source>сек</source>
        <translation>s</translation>
    </message>
    <message>
        <source>Настроить прошивку</source>
        <translation>Configure loader</translation>
    </message>
    <message>
        <source>МГц</source>
        <translation>MHz</translation>
    </message>
    <message>
        <source>Частота МК</source>
        <translation>MCU clock</translation>
    </message>
    <message>
        <source>Выбрать файл flash…</source>
        <translation>Choose the flash file…</translation>
    </message>
    <message>
        <source>Выбрать файл EEPROM…</source>
        <translation>Choose the EEPROM file…</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Прервать операцию после текущего обмена с загрузчиком (Esc)</source>
        <translation>Stop the operation after the current exchange with the loader (Esc)</translation>
    </message>
    <message>
        <source>Сброс DTR</source>
        <translation>Reset by DTR</translation>
    </message>
</context>
<context>
    <name>cli</name>
    <message>
        <source>остановлено сигналом SIGTERM</source>
        <translation>stopped by SIGTERM</translation>
    </message>
    <message>
        <source>прервано (Ctrl-C)</source>
        <translation>interrupted (Ctrl-C)</translation>
    </message>
    <message>
        <source>не указан порт (--port PATH), или используйте --simulate</source>
        <translation>no port given: use --port PATH, or --simulate</translation>
    </message>
    <message>
        <source>порт не управляет линией DTR, сброс не выполнен</source>
        <translation>the port has no DTR line to drive, so the board was not reset</translation>
    </message>
    <message>
        <source> (при %s МГц — не больше %.2f с)</source>
        <translation> (at %s MHz the longest is %.2f s)</translation>
    </message>
    <message>
        <source> (--force, если так и задумано)</source>
        <translation> (use --force if that is what you want)</translation>
    </message>
    <message>
        <source> (--force, если у загрузчика другой первый блок)</source>
        <translation> (use --force for a loader whose first block is laid out differently)</translation>
    </message>
    <message>
        <source>zarvik-cli: внимание: %s
</source>
        <translation>zarvik-cli: warning: %s
</translation>
    </message>
    <message>
        <source>monitor: у --simulate нет программы, которая что-то отправляет</source>
        <translation>monitor: with --simulate there is no program to listen to</translation>
    </message>
    <message>
        <source>Монитор порта %s на %d бод; выход — Ctrl-C
</source>
        <translation>Monitoring %s at %d baud; Ctrl-C quits
</translation>
    </message>
    <message>
        <source>остановлено сигналом SIGHUP: терминал закрыт</source>
        <translation>stopped by SIGHUP: the terminal was closed</translation>
    </message>
    <message>
        <source>остановлено: окно консоли закрывается</source>
        <translation>stopped: the console window is closing</translation>
    </message>
    <message>
        <source>остановлено: пользователь выходит из системы</source>
        <translation>stopped: the user is logging off</translation>
    </message>
    <message>
        <source>остановлено: система завершает работу</source>
        <translation>stopped: the system is shutting down</translation>
    </message>
    <message>
        <source> (всего различается %u байт)</source>
        <translation> (%u byte differs)</translation>
    </message>
    <message>
        <source> (всего различаются %u байта)</source>
        <translation> (%u bytes differ)</translation>
    </message>
    <message>
        <source> (всего различаются %u байт)</source>
        <translation> (%u bytes differ)</translation>
    </message>
    <message>
        <source>не удалось прочитать файл счётчика %s: %s</source>
        <translation>cannot read the counter file %s: %s</translation>
    </message>
    <message>
        <source>файла счётчика %s нет; новый счётчик начинают с --serial-start N</source>
        <translation>the counter file %s does not exist; start a new counter with --serial-start N</translation>
    </message>
    <message>
        <source>файл счётчика %s пуст</source>
        <translation>the counter file %s is empty</translation>
    </message>
    <message>
        <source>в файле счётчика %s не число: «%s»</source>
        <translation>the counter file %s does not hold a number: &quot;%s&quot;</translation>
    </message>
    <message>
        <source>в файле счётчика %s отрицательное число: «%s»</source>
        <translation>the counter file %s holds a negative number: &quot;%s&quot;</translation>
    </message>
    <message>
        <source>в файле счётчика %s слишком большое число: «%s»</source>
        <translation>the counter file %s holds a number too large: &quot;%s&quot;</translation>
    </message>
    <message>
        <source>номер %llu из файла счётчика %s не помещается в формат --serial-format</source>
        <translation>number %llu from the counter file %s does not fit the --serial-format</translation>
    </message>
    <message>
        <source>не удалось заблокировать файл %s: %s</source>
        <translation>cannot lock the file %s: %s</translation>
    </message>
    <message>
        <source>не удалось записать файл счётчика %s: %s</source>
        <translation>cannot write the counter file %s: %s</translation>
    </message>
    <message>
        <source>ждём плату</source>
        <translation>waiting for a board</translation>
    </message>
    <message>
        <source>плата снята, ждём следующую</source>
        <translation>board gone, waiting for the next</translation>
    </message>
    <message>
        <source>журнал не записан: </source>
        <translation>log not written: </translation>
    </message>
    <message>
        <source>%lld мс</source>
        <translation>%lld ms</translation>
    </message>
    <message>
        <source>готово</source>
        <translation>done</translation>
    </message>
    <message>
        <source>годна</source>
        <translation>passed</translation>
    </message>
    <message>
        <source>различия</source>
        <translation>differences</translation>
    </message>
    <message>
        <source>ошибка в команде</source>
        <translation>usage error</translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation>no link</translation>
    </message>
    <message>
        <source>ошибка файла</source>
        <translation>file error</translation>
    </message>
    <message>
        <source>не тот МК</source>
        <translation>wrong chip</translation>
    </message>
    <message>
        <source>прервано</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>МК</source>
        <translation>Chip</translation>
    </message>
    <message>
        <source>Номер</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>Итог</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source> (испорчен)</source>
        <translation> (spoiled)</translation>
    </message>
    <message>
        <source>ports и monitor не сочетаются с несколькими портами и --repeat</source>
        <translation>ports and monitor do not go with several ports or --repeat</translation>
    </message>
    <message>
        <source>--repeat ждёт плату на порту: укажите --port, без --simulate</source>
        <translation>--repeat waits for a board on a port: give --port, without --simulate</translation>
    </message>
    <message>
        <source>порт %s указан дважды</source>
        <translation>port %s is given twice</translation>
    </message>
    <message>
        <source>--serial-at берёт номера из файла счётчика: укажите --serial-file</source>
        <translation>--serial-at takes its numbers from a counter file: give --serial-file</translation>
    </message>
    <message>
        <source>--serial-file и --serial-start действуют только с --serial-at</source>
        <translation>--serial-file and --serial-start work only with --serial-at</translation>
    </message>
    <message>
        <source>Серийный номер: %llu
</source>
        <translation>Serial number: %llu
</translation>
    </message>
    <message>
        <source>в журнал нельзя писать: </source>
        <translation>the log cannot be written: </translation>
    </message>
    <message>
        <source>; ждём, когда порт появится</source>
        <translation>; waiting for the port to appear</translation>
    </message>
    <message>
        <source>ждём следующую плату</source>
        <translation>waiting for the next board</translation>
    </message>
    <message>
        <source>плата всё ещё в загрузчике: повторно не программируется</source>
        <translation>the board is still in its loader: not programmed again</translation>
    </message>
    <message>
        <source>; новые платы не принимаются</source>
        <translation>; no more boards are taken</translation>
    </message>
    <message>
        <source> (задан %s)</source>
        <translation> (%s asked for)</translation>
    </message>
    <message>
        <source>годных: %d, с отказом: %d</source>
        <translation>passed: %d, failed: %d</translation>
    </message>
    <message>
        <source>; всего годных: %d, с отказом: %d</source>
        <translation>; in all passed: %d, failed: %d</translation>
    </message>
    <message>
        <source>программа запущена</source>
        <translation>program started</translation>
    </message>
    <message>
        <source>Место</source>
        <translation>Position</translation>
    </message>
    <message>
        <source> (нет в журнале)</source>
        <translation> (not in the log)</translation>
    </message>
    <message>
        <source>Плат: %d, годных: %d, с отказом: %d; номеров использовано: %d, испорчено: %d
</source>
        <translation>Boards: %d, passed: %d, failed: %d; serial numbers used: %d, spoiled: %d
</translation>
    </message>
    <message>
        <source>Всего: годных %d, с отказом %d</source>
        <translation>In all: passed %d, failed %d</translation>
    </message>
    <message>
        <source>не удалось прочитать журнал </source>
        <translation>cannot read the log </translation>
    </message>
    <message>
        <source>--rerun-failed выбирает из мест --ports и -p: укажите их</source>
        <translation>--rerun-failed chooses among the positions of --ports and -p: give them</translation>
    </message>
    <message>
        <source>zarvik-cli: в журнале %s нет мест станции %s с отказом: запускать нечего
</source>
        <translation>zarvik-cli: the log %s holds no failed position of station %s: nothing to run
</translation>
    </message>
    <message>
        <source>у места %s не указан порт</source>
        <translation>position %s has no port</translation>
    </message>
    <message>
        <source>место %s указано дважды</source>
        <translation>position %s is given twice</translation>
    </message>
    <message>
        <source>%s и %s — один и тот же порт</source>
        <translation>%s and %s are the same port</translation>
    </message>
    <message>
        <source>стирание flash</source>
        <translation>erase flash</translation>
    </message>
    <message>
        <source>стирание eeprom</source>
        <translation>erase eeprom</translation>
    </message>
    <message>
        <source>запись flash</source>
        <translation>write flash</translation>
    </message>
    <message>
        <source>запись eeprom</source>
        <translation>write eeprom</translation>
    </message>
    <message>
        <source>сравнение flash</source>
        <translation>verify flash</translation>
    </message>
    <message>
        <source>сравнение eeprom</source>
        <translation>verify eeprom</translation>
    </message>
    <message>
        <source>чтение flash</source>
        <translation>read flash</translation>
    </message>
    <message>
        <source>чтение eeprom</source>
        <translation>read eeprom</translation>
    </message>
    <message>
        <source>настройка загрузчика</source>
        <translation>configure</translation>
    </message>
    <message>
        <source>%s [%s] %3d%%  %u/%u байт  %.0f Б/с</source>
        <translation>%s [%s] %3d%%  %u/%u bytes  %.0f B/s</translation>
    </message>
    <message>
        <source>МК: %s (загрузчик с адреса 0x%.4X)
</source>
        <translation>Device: %s (loader at 0x%.4X)
</translation>
    </message>
    <message>
        <source>журнал не записан: новые платы не принимаются</source>
        <translation>log not written: no more boards are taken</translation>
    </message>
</context>
<context>
    <name>cli-help</name>
    <message>
        <source>Commands, run in the order given and stopping at the first failure:
  ports                       list the serial ports that can be opened
  connect                     check that the loader answers
  start                       start the user program
  erase flash|eeprom          erase the user program area or the EEPROM
  write flash|eeprom FILE     write an Intel HEX or ELF file, then verify it (unless --no-verify);
                              flash pages are erased just before they are written (see --erase)
  verify flash|eeprom FILE    compare the device with an Intel HEX or ELF file
  read flash|eeprom FILE      read the whole memory into an Intel HEX file
  configure FOSC_MHZ TIMEOUT_S  set the loader&apos;s start-up wait for a clock frequency
  monitor [BAUD]              then show what the program sends and send it what is typed,
                              at BAUD (default: --baud) until Ctrl-C; monitor must come last
Every command that talks to the device first checks, once per call, that the loader answers;
before the first one that touches memory, the chip&apos;s model is read from its loader
and compared with -m (without -m, the chip&apos;s model is used).

Exit codes:
  0    success
  1    verify found differences
  2    usage error
  3    no or short answer from the loader, or a port error
  4    file error: a HEX file that cannot be read or is damaged, an export not written
  5    wrong device: the chip is another model than -m, or no loader block confirms it
       (nothing was erased or written)
  130  interrupted by Ctrl-C, 143 stopped by SIGTERM (or a Windows log-off or shutdown),
       129 by SIGHUP (or a closed Windows console); the port is restored and closed
</source>
        <translation>Commands, run in the order given and stopping at the first failure:
  ports                       list the serial ports that can be opened
  connect                     check that the loader answers
  start                       start the user program
  erase flash|eeprom          erase the user program area or the EEPROM
  write flash|eeprom FILE     write an Intel HEX or ELF file, then verify it (unless --no-verify);
                              flash pages are erased just before they are written (see --erase)
  verify flash|eeprom FILE    compare the device with an Intel HEX or ELF file
  read flash|eeprom FILE      read the whole memory into an Intel HEX file
  configure FOSC_MHZ TIMEOUT_S  set the loader&apos;s start-up wait for a clock frequency
  monitor [BAUD]              then show what the program sends and send it what is typed,
                              at BAUD (default: --baud) until Ctrl-C; monitor must come last
Every command that talks to the device first checks, once per call, that the loader answers;
before the first one that touches memory, the chip&apos;s model is read from its loader
and compared with -m (without -m, the chip&apos;s model is used).

Exit codes:
  0    success
  1    verify found differences
  2    usage error
  3    no or short answer from the loader, or a port error
  4    file error: a HEX file that cannot be read or is damaged, an export not written
  5    wrong device: the chip is another model than -m, or no loader block confirms it
       (nothing was erased or written)
  130  interrupted by Ctrl-C, 143 stopped by SIGTERM (or a Windows log-off or shutdown),
       129 by SIGHUP (or a closed Windows console); the port is restored and closed
</translation>
    </message>
    <message>
        <source>serial port, such as COM3</source>
        <translation>serial port, such as COM3</translation>
    </message>
    <message>
        <source>serial port, such as /dev/ttyUSB0</source>
        <translation>serial port, such as /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers
(%s) through their resident loader.</source>
        <translation>Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers
(%s) through their resident loader.</translation>
    </message>
    <message>
        <source>line speed</source>
        <translation>line speed</translation>
    </message>
    <message>
        <source>%s or %s; without it, the model the chip shows</source>
        <translation>%s or %s; without it, the model the chip shows</translation>
    </message>
    <message>
        <source>before `write flash`: erase just the pages written (pages), the whole user area (all), or nothing (none)</source>
        <translation>before `write flash`: erase just the pages written (pages), the whole user area (all), or nothing (none)</translation>
    </message>
    <message>
        <source>do not verify after write</source>
        <translation>do not verify after write</translation>
    </message>
    <message>
        <source>language of the messages: en or ru (default: the system&apos;s; Russian when unset)</source>
        <translation>language of the messages: en or ru (default: the system&apos;s; Russian when unset)</translation>
    </message>
    <message>
        <source>pulse DTR before connecting, for boards whose reset follows it</source>
        <translation>pulse DTR before connecting, for boards whose reset follows it</translation>
    </message>
    <message>
        <source>run against a simulated loader in this process (--simulate=MODEL for another model than --model)</source>
        <translation>run against a simulated loader in this process (--simulate=MODEL for another model than --model)</translation>
    </message>
    <message>
        <source>print failures only</source>
        <translation>print failures only</translation>
    </message>
    <message>
        <source>print one JSON object a line for each progress step and result</source>
        <translation>print one JSON object a line for each progress step and result</translation>
    </message>
    <message>
        <source>COMMAND [ARGS] [COMMAND [ARGS] ...], see below</source>
        <translation>COMMAND [ARGS] [COMMAND [ARGS] ...], see below</translation>
    </message>
    <message>
        <source>go on with a loader whose first block is not recognised, and accept a wait under 0.5 s or a clock outside 1-20 MHz; never another model than --model</source>
        <translation>go on with a loader whose first block is not recognised, and accept a wait under 0.5 s or a clock outside 1-20 MHz; never another model than --model</translation>
    </message>
    <message>
        <source>auto: our loader&apos;s checked session when its first block shows protocol version 2; plain: only the plain four-byte commands</source>
        <translation>auto: our loader&apos;s checked session when its first block shows protocol version 2; plain: only the plain four-byte commands</translation>
    </message>
    <message>
        <source>on each port, wait for a board, program it, and wait for the next (after `start`, a reset is the next board); Ctrl-C ends once the boards under way are done</source>
        <translation>on each port, wait for a board, program it, and wait for the next (after `start`, a reset is the next board); Ctrl-C ends once the boards under way are done</translation>
    </message>
    <message>
        <source>append one JSON line for each board to this file</source>
        <translation>append one JSON line for each board to this file</translation>
    </message>
    <message>
        <source>append one CSV line for each board to this file</source>
        <translation>append one CSV line for each board to this file</translation>
    </message>
    <message>
        <source>give each board a serial number at eeprom:ADDR or flash:ADDR</source>
        <translation>give each board a serial number at eeprom:ADDR or flash:ADDR</translation>
    </message>
    <message>
        <source>expected eeprom:ADDR or flash:ADDR</source>
        <translation>expected eeprom:ADDR or flash:ADDR</translation>
    </message>
    <message>
        <source>u16le, u16be, u32le, u32be or ascii:N (decimal, N digits)</source>
        <translation>u16le, u16be, u32le, u32be or ascii:N (decimal, N digits)</translation>
    </message>
    <message>
        <source>expected u16le, u16be, u32le, u32be or ascii:N</source>
        <translation>expected u16le, u16be, u32le, u32be or ascii:N</translation>
    </message>
    <message>
        <source>the file that holds the next serial number</source>
        <translation>the file that holds the next serial number</translation>
    </message>
    <message>
        <source>the first number, when the serial file does not exist yet</source>
        <translation>the first number, when the serial file does not exist yet</translation>
    </message>
    <message>
        <source>several ports, separated by commas: the same commands run on each board at once; NAME=PATH names a fixture position</source>
        <translation>several ports, separated by commas: the same commands run on each board at once; NAME=PATH names a fixture position</translation>
    </message>
    <message>
        <source>the station&apos;s name in the log (default: the host&apos;s name)</source>
        <translation>the station&apos;s name in the log (default: the host&apos;s name)</translation>
    </message>
    <message>
        <source>run again only the positions whose last line in this JSON log failed</source>
        <translation>run again only the positions whose last line in this JSON log failed</translation>
    </message>
</context>
<context>
    <name>port</name>
    <message>
        <source>Не удалось открыть порт </source>
        <translation>Cannot open port </translation>
    </message>
    <message>
        <source>; добавьте себя в группу %s (sudo usermod -aG %s $USER) и войдите в систему заново</source>
        <translation>; add yourself to the %s group (sudo usermod -aG %s $USER), then log out and in again</translation>
    </message>
    <message>
        <source>такого порта нет</source>
        <translation>there is no such port</translation>
    </message>
    <message>
        <source>порт занят другой программой</source>
        <translation>another program is using it</translation>
    </message>
    <message>
        <source>нет прав на порт</source>
        <translation>no permission to use it</translation>
    </message>
    <message>
        <source>это не последовательный порт</source>
        <translation>it is not a serial port</translation>
    </message>
    <message>
        <source>порт %s не принял скорость %d бод</source>
        <translation>port %s refused the speed of %d baud</translation>
    </message>
    <message>
        <source>порт %s работает на %d бод, а не на %d: драйвер не даёт этой скорости</source>
        <translation>port %s runs at %d baud, not at %d: its driver cannot make that speed</translation>
    </message>
</context>
<context>
    <name>sim</name>
    <message>
        <source>%s: cannot write %s: %s
</source>
        <translation>%s: cannot write %s: %s
</translation>
    </message>
    <message>
        <source>%s: cannot make the link %s
</source>
        <translation>%s: cannot make the link %s
</translation>
    </message>
    <message>
        <source>%s: no loader is built for this clock; give one with --loader
</source>
        <translation>%s: no loader is built for this clock; give one with --loader
</translation>
    </message>
    <message>
        <source>%s: cannot load the loader from %s
</source>
        <translation>%s: cannot load the loader from %s
</translation>
    </message>
    <message>
        <source>%s: cannot load %s from %s
</source>
        <translation>%s: cannot load %s from %s
</translation>
    </message>
    <message>
        <source>flash</source>
        <translation>flash</translation>
    </message>
    <message>
        <source>EEPROM</source>
        <translation>EEPROM</translation>
    </message>
    <message>
        <source>%s: cannot open a pseudo-terminal: %s
</source>
        <translation>%s: cannot open a pseudo-terminal: %s
</translation>
    </message>
</context>
<context>
    <name>sim-help</name>
    <message>
        <source>language of the help and the messages: en or ru (default: the environment&apos;s; Russian when unset)</source>
        <translation>language of the help and the messages: en or ru (default: the environment&apos;s; Russian when unset)</translation>
    </message>
    <message>
        <source>ATmega8, ATmega88, ATmega168 or ATmega328</source>
        <translation>ATmega8, ATmega88, ATmega168 or ATmega328</translation>
    </message>
    <message>
        <source>write the whole flash as Intel HEX on exit</source>
        <translation>write the whole flash as Intel HEX on exit</translation>
    </message>
    <message>
        <source>write the EEPROM as Intel HEX on exit</source>
        <translation>write the EEPROM as Intel HEX on exit</translation>
    </message>
    <message>
        <source>also make this symbolic link to the terminal</source>
        <translation>also make this symbolic link to the terminal</translation>
    </message>
    <message>
        <source>like a USB serial adapter&apos;s latency timer: %s this many
milliseconds after the last delivery, or at once when 62 bytes have gathered</source>
        <translation>like a USB serial adapter&apos;s latency timer: %s this many
milliseconds after the last delivery, or at once when 62 bytes have gathered</translation>
    </message>
    <message>
        <source>Simulated AVR board on a real AVR core: the loader firmware and the user program run
in simavr, the UART is served on a new pseudo-terminal in real time. Prints the
terminal&apos;s path on the first line of standard output, then serves until it is
interrupted (SIGINT, SIGTERM). SIGUSR1 presses the reset button.</source>
        <translation>Simulated AVR board on a real AVR core: the loader firmware and the user program run
in simavr, the UART is served on a new pseudo-terminal in real time. Prints the
terminal&apos;s path on the first line of standard output, then serves until it is
interrupted (SIGINT, SIGTERM). SIGUSR1 presses the reset button.</translation>
    </message>
    <message>
        <source>the chip&apos;s clock in MHz</source>
        <translation>the chip&apos;s clock in MHz</translation>
    </message>
    <message>
        <source>the loader&apos;s Intel HEX file (default: the build&apos;s, for the model and clock)</source>
        <translation>the loader&apos;s Intel HEX file (default: the build&apos;s, for the model and clock)</translation>
    </message>
    <message>
        <source>a program already in flash at start (Intel HEX)</source>
        <translation>a program already in flash at start (Intel HEX)</translation>
    </message>
    <message>
        <source>EEPROM contents at start (Intel HEX)</source>
        <translation>EEPROM contents at start (Intel HEX)</translation>
    </message>
    <message>
        <source>what the chip sends reaches the host</source>
        <translation>what the chip sends reaches the host</translation>
    </message>
    <message>
        <source>Simulated AVR board with the resident loader, served on a new pseudo-terminal.
Prints the terminal&apos;s path on the first line of standard output, then serves
until it is interrupted (SIGINT, SIGTERM) or its line is made to vanish.
SIGUSR1 presses the reset button: the loader starts afresh, the memories stay.</source>
        <translation>Simulated AVR board with the resident loader, served on a new pseudo-terminal.
Prints the terminal&apos;s path on the first line of standard output, then serves
until it is interrupted (SIGINT, SIGTERM) or its line is made to vanish.
SIGUSR1 presses the reset button: the loader starts afresh, the memories stay.</translation>
    </message>
    <message>
        <source>emulate the wire: 10 bits a byte at the speed the host set</source>
        <translation>emulate the wire: 10 bits a byte at the speed the host set</translation>
    </message>
    <message>
        <source>load flash from this Intel HEX file at start</source>
        <translation>load flash from this Intel HEX file at start</translation>
    </message>
    <message>
        <source>load EEPROM from this Intel HEX file at start</source>
        <translation>load EEPROM from this Intel HEX file at start</translation>
    </message>
    <message>
        <source>write every byte the host sent, with its time in microseconds, on exit</source>
        <translation>write every byte the host sent, with its time in microseconds, on exit</translation>
    </message>
    <message>
        <source>an answer reaches the host</source>
        <translation>an answer reaches the host</translation>
    </message>
    <message>
        <source>answer nothing</source>
        <translation>answer nothing</translation>
    </message>
    <message>
        <source>echo every byte, like a looped-back line</source>
        <translation>echo every byte, like a looped-back line</translation>
    </message>
    <message>
        <source>give no answer to the N-th command</source>
        <translation>give no answer to the N-th command</translation>
    </message>
    <message>
        <source>send 100 of the 128 bytes of a block</source>
        <translation>send 100 of the 128 bytes of a block</translation>
    </message>
    <message>
        <source>answer this many milliseconds late</source>
        <translation>answer this many milliseconds late</translation>
    </message>
    <message>
        <source>answer with noise</source>
        <translation>answer with noise</translation>
    </message>
    <message>
        <source>drop the line after N host bytes</source>
        <translation>drop the line after N host bytes</translation>
    </message>
    <message>
        <source>leave the loader&apos;s pages unchanged by E and F, as lock bits do</source>
        <translation>leave the loader&apos;s pages unchanged by E and F, as lock bits do</translation>
    </message>
    <message>
        <source>start with this wait count in the loader&apos;s second copy only, as a configuration cut short leaves it</source>
        <translation>start with this wait count in the loader&apos;s second copy only, as a configuration cut short leaves it</translation>
    </message>
    <message>
        <source>lose the N-th byte the host sends</source>
        <translation>lose the N-th byte the host sends</translation>
    </message>
    <message>
        <source>flip the lowest bit of the N-th byte the host sends</source>
        <translation>flip the lowest bit of the N-th byte the host sends</translation>
    </message>
    <message>
        <source>program the flash byte at this address with a bit flipped</source>
        <translation>program the flash byte at this address with a bit flipped</translation>
    </message>
    <message>
        <source>answer the flash check of the 128-byte unit at this address wrongly</source>
        <translation>answer the flash check of the 128-byte unit at this address wrongly</translation>
    </message>
    <message>
        <source>a loader of the original kind: no signature in its first block, only the four-byte commands</source>
        <translation>a loader of the original kind: no signature in its first block, only the four-byte commands</translation>
    </message>
    <message>
        <source>our loader with a protocol-version-1 signature: a host gives it the plain road only, and so does this board</source>
        <translation>our loader with a protocol-version-1 signature: a host gives it the plain road only, and so does this board</translation>
    </message>
</context>
<context>
    <name>status</name>
    <message>
        <source>стирании flash</source>
        <translation>erasing flash</translation>
    </message>
    <message>
        <source>стирании EEPROM</source>
        <translation>erasing EEPROM</translation>
    </message>
    <message>
        <source>записи flash</source>
        <translation>writing flash</translation>
    </message>
    <message>
        <source>записи EEPROM</source>
        <translation>writing EEPROM</translation>
    </message>
    <message>
        <source>сравнении flash</source>
        <translation>verifying flash</translation>
    </message>
    <message>
        <source>сравнении EEPROM</source>
        <translation>verifying EEPROM</translation>
    </message>
    <message>
        <source>чтении flash</source>
        <translation>reading flash</translation>
    </message>
    <message>
        <source>чтении EEPROM</source>
        <translation>reading EEPROM</translation>
    </message>
    <message>
        <source>настройке загрузчика</source>
        <translation>configuring the loader</translation>
    </message>
    <message>
        <source>Стирание flash закончено!  Время стирания: </source>
        <translation>Flash erased.  Time: </translation>
    </message>
    <message>
        <source>Стирание EEPROM закончено! Время стирания: </source>
        <translation>EEPROM erased.  Time: </translation>
    </message>
    <message>
        <source>Запись flash закончена!  Время записи: </source>
        <translation>Flash written.  Time: </translation>
    </message>
    <message>
        <source>Запись EEPROM закончена!  Время записи: </source>
        <translation>EEPROM written.  Time: </translation>
    </message>
    <message>
        <source>flash записан правильно!  Время чтения: </source>
        <translation>Flash verified OK.  Time: </translation>
    </message>
    <message>
        <source>EEPROM записан правильно!  Время чтения: </source>
        <translation>EEPROM verified OK.  Time: </translation>
    </message>
    <message>
        <source>Чтение flash закончено!  Время чтения: </source>
        <translation>Flash read.  Time: </translation>
    </message>
    <message>
        <source>Чтение EEPROM закончено!  Время чтения: </source>
        <translation>EEPROM read.  Time: </translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунду</source>
        <translation>Loader configured for %s MHz and a %s s start-up wait</translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунды</source>
        <translation>Loader configured for %s MHz and a %s s start-up wait</translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунд</source>
        <translation>Loader configured for %s MHz and a %s s start-up wait</translation>
    </message>
    <message>
        <source>Загрузчик не принял настройку: по адресу %.4X записано %.2X, прочитано %.2X</source>
        <translation>The loader did not take the new setting: at %.4X it was sent %.2X and reads back %.2X</translation>
    </message>
    <message>
        <source>Ошибка по адресу: </source>
        <translation>Mismatch at: </translation>
    </message>
    <message>
        <source> и далее</source>
        <translation> and more</translation>
    </message>
    <message>
        <source>Связь с портом потеряна при %s: адрес %.4X</source>
        <translation>Lost the port while %s, at address %.4X</translation>
    </message>
    <message>
        <source>Загрузчик не ответил при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation>No answer from the loader while %s: command &apos;%c&apos;, address %.4X</translation>
    </message>
    <message>
        <source>Загрузчик ответил не полностью при %s: команда &apos;%c&apos;, адрес %.4X, получено %zu байт из %zu</source>
        <translation>Incomplete answer from the loader while %s: command &apos;%c&apos;, address %.4X, got %zu of %zu bytes</translation>
    </message>
    <message>
        <source>Данные файла доходят до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено</source>
        <translation>The file has data up to %.4X, but the loader starts at %.4X: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Данные файла доходят до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено</source>
        <translation>The file has data up to %.3X, but this chip has only %u bytes of EEPROM: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Задано слишком большое время ожидания запуска программы!</source>
        <translation>The start-up wait is too long for the loader!</translation>
    </message>
    <message>
        <source>Частота и время ожидания не могут быть отрицательными!</source>
        <translation>The clock and the wait cannot be negative!</translation>
    </message>
    <message>
        <source>Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено</source>
        <translation>Fosc must be a number of MHz, such as 16 or 7.3728: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Время ожидания time_out должно быть числом секунд, например 2 или 0,5: в устройство ничего не отправлено</source>
        <translation>time_out must be a number of seconds, such as 2 or 0.5: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Время ожидания %s с короче 0,5 с: после сброса загрузчик почти сразу запустит программу, и связаться с ним сможет только программатор, который сам сбрасывает плату</source>
        <translation>A %s s wait is shorter than 0.5 s: after a reset the loader would start the program almost at once, and only a host that resets the board itself could still reach it</translation>
    </message>
    <message>
        <source>Подключён %s (загрузчик с адреса %.4X), а выбран %s: в устройство ничего не отправлено</source>
        <translation>The device is an %s (loader at %.4X), not an %s: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Устройство не опознано: ни по одному из адресов 1C00, 3C00, 7C00 нет загрузчика (нет загрузчика, эхо на линии или загрузчик повреждён). Выбран %s: в устройство ничего не отправлено</source>
        <translation>Cannot identify the device: there is no loader block at 1C00, 3C00 or 7C00 (no loader, an echoing line, or a damaged loader). Selected: %s. Nothing was sent to the device</translation>
    </message>
    <message>
        <source>По адресу %.4X нет первого блока загрузчика %s: настройка не записана</source>
        <translation>There is no loader block at %.4X for an %s: the setting was not written</translation>
    </message>
    <message>
        <source>Доступно %i COM порт</source>
        <translation>%i serial port available</translation>
    </message>
    <message>
        <source>Доступно %i COM порта</source>
        <translation>%i serial ports available</translation>
    </message>
    <message>
        <source>Доступно %i COM портов</source>
        <translation>%i serial ports available</translation>
    </message>
    <message>
        <source>Стираем Flash</source>
        <translation>Erasing flash</translation>
    </message>
    <message>
        <source>Стираем EEPROM</source>
        <translation>Erasing EEPROM</translation>
    </message>
    <message>
        <source>Записываем Flash</source>
        <translation>Writing flash</translation>
    </message>
    <message>
        <source>Записываем EEPROM</source>
        <translation>Writing EEPROM</translation>
    </message>
    <message>
        <source>Читаем Flash</source>
        <translation>Reading flash</translation>
    </message>
    <message>
        <source>Читаем EEPROM</source>
        <translation>Reading EEPROM</translation>
    </message>
    <message>
        <source>Настраиваем загрузчик</source>
        <translation>Configuring the loader</translation>
    </message>
    <message>
        <source>Файл %s, строка %zu: </source>
        <translation>%s, line %zu: </translation>
    </message>
    <message>
        <source>Файл %s: </source>
        <translation>%s: </translation>
    </message>
    <message>
        <source>Не удалось прочитать файл %s: %s</source>
        <translation>Cannot read %s: %s</translation>
    </message>
    <message>
        <source>недопустимый символ &apos;%c&apos;</source>
        <translation>invalid character &apos;%c&apos;</translation>
    </message>
    <message>
        <source>недопустимый символ с кодом %.2X</source>
        <translation>invalid character with code %.2X</translation>
    </message>
    <message>
        <source>запись короче, чем требует её длина</source>
        <translation>record shorter than its byte count says</translation>
    </message>
    <message>
        <source>неверная запись адреса</source>
        <translation>bad address record</translation>
    </message>
    <message>
        <source>адрес %.5X вне памяти</source>
        <translation>address %.5X is outside the memory</translation>
    </message>
    <message>
        <source>в файле нет данных, в устройство ничего не отправлено</source>
        <translation>the file holds no data: nothing was sent to the device</translation>
    </message>
    <message>
        <source>это не файл Intel HEX: в нём нет ни одной записи, в устройство ничего не отправлено</source>
        <translation>not an Intel HEX file: it holds no records; nothing was sent to the device</translation>
    </message>
    <message>
        <source>файл ELF собран не для AVR (машина %u), в устройство ничего не отправлено</source>
        <translation>the ELF file is not for AVR (machine %u): nothing was sent to the device</translation>
    </message>
    <message>
        <source>файл ELF не читается: </source>
        <translation>cannot read the ELF file: </translation>
    </message>
    <message>
        <source>Не удалось записать файл %s: %s</source>
        <translation>Cannot write %s: %s</translation>
    </message>
    <message>
        <source>Прервано при %s, адрес %.4X: операция не закончена</source>
        <translation>Stopped while %s at address %.4X: the operation did not finish</translation>
    </message>
    <message>
        <source>COM порт не открыт</source>
        <translation>No serial port is open</translation>
    </message>
    <message>
        <source>Не выбрана скорость порта</source>
        <translation>No port speed selected</translation>
    </message>
    <message>
        <source>Нет загруженного файла flash</source>
        <translation>No flash file selected</translation>
    </message>
    <message>
        <source>Нет загруженного файла EEPROM</source>
        <translation>No EEPROM file selected</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Внимание!</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Соединение установлено успешно!</source>
        <translation>Connected to the loader.</translation>
    </message>
    <message>
        <source>Соединение не удалось установить</source>
        <translation>No answer from the loader</translation>
    </message>
    <message>
        <source>Связь с портом потеряна</source>
        <translation>Lost the port</translation>
    </message>
    <message>
        <source>Нет доступного COM порта</source>
        <translation>No serial port available</translation>
    </message>
    <message>
        <source>Программа запущена. Загрузчик снова ответит только после сброса платы</source>
        <translation>Program started. The loader answers again only after the board is reset</translation>
    </message>
    <message>
        <source>опознании МК</source>
        <translation>identifying the chip</translation>
    </message>
    <message>
        <source>Обмен с загрузчиком сбился при %s, адрес %.4X, и на синхронизацию он не ответил: проверьте линию и сбросьте плату</source>
        <translation>The exchange with the loader fell out of step while %s, address %.4X, and it did not answer the sync: check the line and reset the board</translation>
    </message>
    <message>
        <source>Частота Fosc %s МГц вне диапазона %g–%g МГц, на котором работают эти МК и загрузчик: с таким счётчиком загрузчик после сброса может никому не ответить. В устройство ничего не отправлено</source>
        <translation>Fosc %s MHz is outside %g–%g MHz, the range these chips and this loader run at: with such a count the loader may answer nobody after a reset. Nothing was sent to the device</translation>
    </message>
    <message>
        <source>Счётчик ожидания загрузчика разорван: две его копии различаются (%u и %u). Операции выполняются; настройка загрузчика перепишет обе копии</source>
        <translation>The loader&apos;s wait count is torn: its two copies differ (%u and %u). Operations go on; configuring the loader rewrites both copies</translation>
    </message>
    <message>
        <source>это текст, а не запись Intel HEX (запись начинается с двоеточия)</source>
        <translation>this is text, not an Intel HEX record (a record begins with a colon)</translation>
    </message>
    <message>
        <source>Загрузчик ответил неверно при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation>Wrong answer from the loader while %s: command &apos;%c&apos;, address %.4X</translation>
    </message>
    <message>
        <source>  (быстрый протокол)</source>
        <translation>  (fast protocol)</translation>
    </message>
    <message>
        <source>%i мс</source>
        <translation>%i ms</translation>
    </message>
    <message>
        <source>Сравниваем Flash</source>
        <translation>Verifying flash</translation>
    </message>
    <message>
        <source>Сравниваем EEPROM</source>
        <translation>Verifying EEPROM</translation>
    </message>
    <message>
        <source>. Из этого кадра в память ничего не записано</source>
        <translation>. Nothing of this frame was written to memory</translation>
    </message>
    <message>
        <source>. Этот кадр записан в память</source>
        <translation>. This frame was written to memory</translation>
    </message>
    <message>
        <source>. Что записано из этого кадра, неизвестно: запишите файл ещё раз</source>
        <translation>. What was written of this frame is unknown: write the file again</translation>
    </message>
    <message>
        <source>Ответ загрузчика не прошёл проверку CRC-32 при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation>The loader&apos;s answer failed its CRC-32 check while %s: command &apos;%c&apos;, address %.4X</translation>
    </message>
    <message>
        <source>Загрузчик говорит на первой версии быстрого протокола, и с ним работа идёт по простому протоколу. Замените загрузчик новым: у старого один сбойный байт на линии может испортить EEPROM или сам загрузчик</source>
        <translation>The loader speaks version 1 of the fast protocol, so the plain protocol is used with it. Replace the loader with a new one: with the old one, a single bad byte on the line can damage the EEPROM or the loader itself</translation>
    </message>
    <message>
        <source>Серийный номер доходит до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено</source>
        <translation>The serial number reaches %.4X, but the loader starts at %.4X: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Серийный номер доходит до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено</source>
        <translation>The serial number reaches %.3X, but this chip has only %u bytes of EEPROM: nothing was sent to the device</translation>
    </message>
    <message>
        <source>Серийный номер по адресу %.4X ложится на данные файла: в устройство ничего не отправлено</source>
        <translation>The serial number at %.4X lies on the file&apos;s data: nothing was sent to the device</translation>
    </message>
    <message>
        <source>таблица сегментов выходит за конец файла</source>
        <translation>its segment table runs past the end of the file</translation>
    </message>
    <message>
        <source>данные сегмента выходят за конец файла</source>
        <translation>a segment&apos;s data runs past the end of the file</translation>
    </message>
    <message>
        <source>заголовок повреждён или неполон</source>
        <translation>its header is damaged or cut short</translation>
    </message>
    <message>
        <source>неверная контрольная сумма: ожидалась 0x%.2X, в файле 0x%.2X</source>
        <translation>bad checksum: expected 0x%.2X, the file has 0x%.2X</translation>
    </message>
</context>
<context>
    <name>win</name>
    <message>
        <source>Настройки и последний выбор (частота МК, время ожидания, модель, порт, скорость, файлы, сброс по DTR) хранятся в файле %1</source>
        <translation>The settings and the last choices (MCU clock, wait time, model, port, speed, files, reset by DTR) are kept in %1</translation>
    </message>
</context>
<context>
    <name>window</name>
    <message>
        <source>Открыт порт %1. Выберите скорость</source>
        <translation>Port %1 is open. Choose a speed</translation>
    </message>
    <message>
        <source>Не удалось открыть порт %1</source>
        <translation>Cannot open port %1</translation>
    </message>
    <message>
        <source>Установлена скорость %1 бод</source>
        <translation>Speed set to %1 baud</translation>
    </message>
    <message>
        <source>Порт не принял скорость %1 бод</source>
        <translation>The port did not take %1 baud</translation>
    </message>
    <message>
        <source>Подключён %1 (загрузчик с адреса %2): в списке МК выбран %3</source>
        <translation>Found an %1 (loader at %2): %3 is now selected in the MCU list</translation>
    </message>
    <message>
        <source>Не удалось отправить команду запуска программы</source>
        <translation>Could not send the start command</translation>
    </message>
    <message>
        <source>Работает программа платы, загрузчик не на связи</source>
        <translation>The board&apos;s program runs; the loader is not listening</translation>
    </message>
    <message>
        <source>Загрузчик перестал отвечать</source>
        <translation>The loader stopped answering</translation>
    </message>
    <message>
        <source>Не удалось прочитать файл %1 (%2): он оставлен как есть, действуют значения 8 и 5</source>
        <translation>Cannot read %1 (%2): it is left as it is, and the values 8 and 5 are used</translation>
    </message>
    <message>
        <source>Не удалось сохранить настройки в файл %1: %2</source>
        <translation>Cannot save the settings to %1: %2</translation>
    </message>
    <message>
        <source>Записать такое время ожидания всё же?</source>
        <translation>Write this wait anyway?</translation>
    </message>
    <message>
        <source>Если на плате загрузчик с другим первым блоком, можно продолжить без проверки. Продолжить?</source>
        <translation>If the board&apos;s loader has a differently laid out first block, you can go on without the check. Go on?</translation>
    </message>
    <message>
        <source>Записать настройку для такой частоты всё же?</source>
        <translation>Write the settings for this clock anyway?</translation>
    </message>
    <message>
        <source>Операция ещё не закончена. Прервать её и закрыть окно?</source>
        <translation>The operation has not finished. Stop it and close the window?</translation>
    </message>
    <message>
        <source>Сейчас записывается первый блок загрузчика. Прервать запись нельзя: плата осталась бы без загрузчика. Окно можно будет закрыть, когда запись закончится.</source>
        <translation>The loader&apos;s first block is being written right now. Stopping here would leave the board without a loader, so the window can be closed once the write is done.</translation>
    </message>
    <message>
        <source>Файл %1 уже существует. Заменить его?</source>
        <translation>%1 already exists. Replace it?</translation>
    </message>
    <message>
        <source>Файлы программной памяти flash</source>
        <translation>Flash program files</translation>
    </message>
    <message>
        <source>Файлы памяти данных EEPROM</source>
        <translation>EEPROM data files</translation>
    </message>
    <message>
        <source>Все файлы</source>
        <translation>All files</translation>
    </message>
    <message>
        <source>В папке программы отсутствует файл &quot;%1&quot;</source>
        <translation>The file &quot;%1&quot; is missing from the program&apos;s folder</translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Загрузчик (Zarvik)</source>
        <translation>Loader (Zarvik)</translation>
    </message>
    <message>
        <source>Версия 1.0 полная</source>
        <translation>Version 1.0, full</translation>
    </message>
    <message>
        <source>При частоте %1 МГц время ожидания может быть не больше %2 с.</source>
        <translation>At %1 MHz the wait can be at most %2 s.</translation>
    </message>
    <message>
        <source>%1 отличается от файла в %2 байте. </source>
        <translation>%1 differs from the file in %2 byte. </translation>
    </message>
    <message>
        <source>%1 отличается от файла в %2 байтах. </source>
        <translation>%1 differs from the file in %2 bytes. </translation>
    </message>
    <message>
        <source>Загрузчик не ответил на скорости %1 бод. Скорее всего, он работает на другой скорости или его время ожидания после сброса уже истекло: сбросьте плату и сразу нажмите «Соединить»</source>
        <translation>The loader did not answer at %1 baud. Most likely it runs at another speed, or its wait after a reset is already over: reset the board and press Connect at once</translation>
    </message>
    <message>
        <source>Загрузчик не ответил на скорости %1 бод после сброса по DTR. Скорее всего, он работает на другой скорости или плата не сбрасывается по DTR: тогда сбросьте её кнопкой и сразу нажмите «Соединить»</source>
        <translation>The loader did not answer at %1 baud after the reset through DTR. Most likely it runs at another speed, or the board does not reset on DTR: then reset it with its button and press Connect at once</translation>
    </message>
    <message>
        <source>Загрузчик не ответил при %1. Сбросьте плату и нажмите «Соединить»</source>
        <translation>The loader did not answer while %1. Reset the board and press Connect</translation>
    </message>
    <message>
        <source>Сбросьте плату и нажмите «Соединить»</source>
        <translation>Reset the board and press Connect</translation>
    </message>
    <message>
        <source>Перед соединением сбросить плату импульсом на линии DTR: так сбрасывается большинство плат с USB-адаптером. Загрузчик ждёт соединения только после сброса</source>
        <translation>Before connecting, reset the board with a pulse on the DTR line: most boards with a USB adapter reset that way. The loader waits for a connection only after a reset</translation>
    </message>
    <message>
        <source>Порт не управляет линией DTR: плата не сброшена</source>
        <translation>The port has no DTR line: the board was not reset</translation>
    </message>
    <message>
        <source>Порт %1, выбранный в прошлый раз, не найден</source>
        <translation>Port %1, chosen last time, was not found</translation>
    </message>
    <message>
        <source>Загрузчик платы: %1 МГц, ожидание %2 с</source>
        <translation>The board&apos;s loader: %1 MHz, wait %2 s</translation>
    </message>
    <message>
        <source>Загрузчик платы: счётчик ожидания %1</source>
        <translation>The board&apos;s loader: wait count %1</translation>
    </message>
</context>
<context>
    <name>zarvik::CVelborDlg</name>
    <message>
        <source>Помощь</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>О программе ...</source>
        <translation>About...</translation>
    </message>
</context>
</TS>
