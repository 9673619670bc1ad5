<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>О программе</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик (Zarvik)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Версия 1.0 полная</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>01.04.2024</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Свободная программа: GNU GPL версии 3 или более поздней (GPL-3.0-or-later)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CHelpDlg</name>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CVelborDlg</name>
    <message>
        <source>Загрузчик (Zarvik) (Версия 1.0 полная)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>EEPROM</source>
        <translation type="unfinished">EEPROM</translation>
    </message>
    <message>
        <source>Настройка прошивки загрузчика</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выход</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>МК:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Скорость COM порта</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>бод</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>f</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стереть</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Записать</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сравнить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Прочитать</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>e</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение не удалось установить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Старт программы</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Время ожидания</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сек</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Настроить прошивку</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>МГц</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Частота МК</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выбрать файл flash…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Выбрать файл EEPROM…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Прервать операцию после текущего обмена с загрузчиком (Esc)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сброс DTR</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>cli</name>
    <message>
        <source>остановлено сигналом SIGTERM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>прервано (Ctrl-C)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не указан порт (--port PATH), или используйте --simulate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>порт не управляет линией DTR, сброс не выполнен</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (при %s МГц — не больше %.2f с)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (--force, если так и задумано)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (--force, если у загрузчика другой первый блок)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>zarvik-cli: внимание: %s
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>monitor: у --simulate нет программы, которая что-то отправляет</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Монитор порта %s на %d бод; выход — Ctrl-C
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>остановлено сигналом SIGHUP: терминал закрыт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>остановлено: окно консоли закрывается</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>остановлено: пользователь выходит из системы</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>остановлено: система завершает работу</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (всего различается %u байт)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (всего различаются %u байта)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (всего различаются %u байт)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не удалось прочитать файл счётчика %s: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>файла счётчика %s нет; новый счётчик начинают с --serial-start N</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>файл счётчика %s пуст</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>в файле счётчика %s не число: «%s»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>в файле счётчика %s отрицательное число: «%s»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>в файле счётчика %s слишком большое число: «%s»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>номер %llu из файла счётчика %s не помещается в формат --serial-format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не удалось заблокировать файл %s: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не удалось записать файл счётчика %s: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ждём плату</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>плата снята, ждём следующую</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>журнал не записан: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%lld мс</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>готово</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>годна</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>различия</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ошибка в команде</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ошибка файла</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не тот МК</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>прервано</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>МК</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Номер</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Итог</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Время</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (испорчен)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ports и monitor не сочетаются с несколькими портами и --repeat</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--repeat ждёт плату на порту: укажите --port, без --simulate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>порт %s указан дважды</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--serial-at берёт номера из файла счётчика: укажите --serial-file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--serial-file и --serial-start действуют только с --serial-at</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Серийный номер: %llu
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>в журнал нельзя писать: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; ждём, когда порт появится</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ждём следующую плату</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>плата всё ещё в загрузчике: повторно не программируется</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; новые платы не принимаются</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (задан %s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>годных: %d, с отказом: %d</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; всего годных: %d, с отказом: %d</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>программа запущена</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Место</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (нет в журнале)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Плат: %d, годных: %d, с отказом: %d; номеров использовано: %d, испорчено: %d
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Всего: годных %d, с отказом %d</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>не удалось прочитать журнал </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--rerun-failed выбирает из мест --ports и -p: укажите их</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>zarvik-cli: в журнале %s нет мест станции %s с отказом: запускать нечего
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>у места %s не указан порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>место %s указано дважды</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%s и %s — один и тот же порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>стирание flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>стирание eeprom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>запись flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>запись eeprom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сравнение flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сравнение eeprom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>чтение flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>чтение eeprom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>настройка загрузчика</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%s [%s] %3d%%  %u/%u байт  %.0f Б/с</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>МК: %s (загрузчик с адреса 0x%.4X)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>журнал не записан: новые платы не принимаются</source>
        <translation type="unfinished"></translation>
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
        <translation>Команды выполняются по порядку; первая же неудача останавливает цепочку:
  ports                       перечислить последовательные порты, которые можно открыть
  connect                     проверить, что загрузчик отвечает
  start                       запустить программу пользователя
  erase flash|eeprom          стереть область программы или EEPROM
  write flash|eeprom FILE     записать файл Intel HEX или ELF и сравнить (если нет --no-verify);
                              страницы flash стираются перед самой записью (см. --erase)
  verify flash|eeprom FILE    сравнить устройство с файлом Intel HEX или ELF
  read flash|eeprom FILE      прочитать всю память в файл Intel HEX
  configure FOSC_MHZ TIMEOUT_S  задать время ожидания загрузчика при запуске для частоты МК
  monitor [BAUD]              затем показывать, что присылает программа, и передавать ей
                              набранное, на скорости BAUD (по умолчанию --baud) до Ctrl-C;
                              monitor — всегда последняя команда
Перед первой командой, обращающейся к устройству, один раз проверяется, что отвечает
загрузчик; перед первой командой, затрагивающей память, модель МК читается из его
загрузчика и сравнивается с -m (без -m берётся модель МК).

Коды выхода:
  0    успех
  1    при сравнении найдены различия
  2    ошибка в командной строке
  3    загрузчик не ответил или ответил не полностью, или ошибка порта
  4    ошибка файла: файл HEX не читается или повреждён, файл чтения не записан
  5    не то устройство: МК другой модели, чем -m, или его не удалось опознать
       (ничего не стёрто и не записано)
  130  прервано Ctrl-C, 143 остановлено сигналом SIGTERM (или выходом из Windows, её завершением),
       129 сигналом SIGHUP (или закрытием консоли Windows); порт восстановлен и закрыт
</translation>
    </message>
    <message>
        <source>serial port, such as COM3</source>
        <translation>последовательный порт, например COM3</translation>
    </message>
    <message>
        <source>serial port, such as /dev/ttyUSB0</source>
        <translation>последовательный порт, например /dev/ttyUSB0</translation>
    </message>
    <message>
        <source>Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers
(%s) through their resident loader.</source>
        <translation>Zarvik: стирание, запись, сравнение и чтение flash и EEPROM микроконтроллеров AVR
(%s) через их загрузчик.</translation>
    </message>
    <message>
        <source>line speed</source>
        <translation>скорость линии</translation>
    </message>
    <message>
        <source>%s or %s; without it, the model the chip shows</source>
        <translation>%s или %s; без него — модель, которую показывает МК</translation>
    </message>
    <message>
        <source>before `write flash`: erase just the pages written (pages), the whole user area (all), or nothing (none)</source>
        <translation>перед `write flash`: стереть только записываемые страницы (pages), всю область программы (all) или ничего (none)</translation>
    </message>
    <message>
        <source>do not verify after write</source>
        <translation>не сравнивать после записи</translation>
    </message>
    <message>
        <source>language of the messages: en or ru (default: the system&apos;s; Russian when unset)</source>
        <translation>язык сообщений: en или ru (по умолчанию — язык системы, без него — русский)</translation>
    </message>
    <message>
        <source>pulse DTR before connecting, for boards whose reset follows it</source>
        <translation>дать импульс DTR перед соединением, для плат, которые им сбрасываются</translation>
    </message>
    <message>
        <source>run against a simulated loader in this process (--simulate=MODEL for another model than --model)</source>
        <translation>работать с имитацией загрузчика в этом процессе (--simulate=MODEL — другая модель, чем --model)</translation>
    </message>
    <message>
        <source>print failures only</source>
        <translation>выводить только неудачи</translation>
    </message>
    <message>
        <source>print one JSON object a line for each progress step and result</source>
        <translation>выводить по объекту JSON в строке на каждый шаг и результат</translation>
    </message>
    <message>
        <source>COMMAND [ARGS] [COMMAND [ARGS] ...], see below</source>
        <translation>COMMAND [ARGS] [COMMAND [ARGS] ...], см. ниже</translation>
    </message>
    <message>
        <source>go on with a loader whose first block is not recognised, and accept a wait under 0.5 s or a clock outside 1-20 MHz; never another model than --model</source>
        <translation>продолжать с загрузчиком, чей первый блок не распознан, принять ожидание короче 0,5 с или частоту вне 1–20 МГц; другую модель, чем --model, — никогда</translation>
    </message>
    <message>
        <source>auto: our loader&apos;s checked session when its first block shows protocol version 2; plain: only the plain four-byte commands</source>
        <translation>auto: проверяемый сеанс нашего загрузчика, когда его первый блок показывает версию протокола 2; plain: только обычные четырёхбайтовые команды</translation>
    </message>
    <message>
        <source>on each port, wait for a board, program it, and wait for the next (after `start`, a reset is the next board); Ctrl-C ends once the boards under way are done</source>
        <translation>на каждом порту ждать плату, прошить её и ждать следующую (после `start` сброс — это следующая плата); Ctrl-C завершает, когда начатые платы готовы</translation>
    </message>
    <message>
        <source>append one JSON line for each board to this file</source>
        <translation>дописывать в этот файл строку JSON на каждую плату</translation>
    </message>
    <message>
        <source>append one CSV line for each board to this file</source>
        <translation>дописывать в этот файл строку CSV на каждую плату</translation>
    </message>
    <message>
        <source>give each board a serial number at eeprom:ADDR or flash:ADDR</source>
        <translation>дать каждой плате серийный номер по адресу eeprom:ADDR или flash:ADDR</translation>
    </message>
    <message>
        <source>expected eeprom:ADDR or flash:ADDR</source>
        <translation>ожидается eeprom:ADDR или flash:ADDR</translation>
    </message>
    <message>
        <source>u16le, u16be, u32le, u32be or ascii:N (decimal, N digits)</source>
        <translation>u16le, u16be, u32le, u32be или ascii:N (десятичный, N цифр)</translation>
    </message>
    <message>
        <source>expected u16le, u16be, u32le, u32be or ascii:N</source>
        <translation>ожидается u16le, u16be, u32le, u32be или ascii:N</translation>
    </message>
    <message>
        <source>the file that holds the next serial number</source>
        <translation>файл, в котором хранится следующий серийный номер</translation>
    </message>
    <message>
        <source>the first number, when the serial file does not exist yet</source>
        <translation>первый номер, если файла счётчика ещё нет</translation>
    </message>
    <message>
        <source>several ports, separated by commas: the same commands run on each board at once; NAME=PATH names a fixture position</source>
        <translation>несколько портов через запятую: одни и те же команды на каждой плате одновременно; ИМЯ=ПУТЬ называет место на стенде</translation>
    </message>
    <message>
        <source>the station&apos;s name in the log (default: the host&apos;s name)</source>
        <translation>имя станции в журнале (по умолчанию — имя компьютера)</translation>
    </message>
    <message>
        <source>run again only the positions whose last line in this JSON log failed</source>
        <translation>запустить снова только те места, чья последняя строка в этом журнале JSON — с отказом</translation>
    </message>
</context>
<context>
    <name>port</name>
    <message>
        <source>Не удалось открыть порт </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>; добавьте себя в группу %s (sudo usermod -aG %s $USER) и войдите в систему заново</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>такого порта нет</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>порт занят другой программой</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>нет прав на порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>это не последовательный порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>порт %s не принял скорость %d бод</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>порт %s работает на %d бод, а не на %d: драйвер не даёт этой скорости</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>sim</name>
    <message>
        <source>%s: cannot write %s: %s
</source>
        <translation>%s: не удалось записать %s: %s
</translation>
    </message>
    <message>
        <source>%s: cannot make the link %s
</source>
        <translation>%s: не удалось создать ссылку %s
</translation>
    </message>
    <message>
        <source>%s: no loader is built for this clock; give one with --loader
</source>
        <translation>%s: загрузчик для этой частоты не собран; укажите его в --loader
</translation>
    </message>
    <message>
        <source>%s: cannot load the loader from %s
</source>
        <translation>%s: не удалось загрузить загрузчик из %s
</translation>
    </message>
    <message>
        <source>%s: cannot load %s from %s
</source>
        <translation>%s: не удалось загрузить %s из %s
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
        <translation>%s: не удалось открыть псевдотерминал: %s
</translation>
    </message>
</context>
<context>
    <name>sim-help</name>
    <message>
        <source>language of the help and the messages: en or ru (default: the environment&apos;s; Russian when unset)</source>
        <translation>язык справки и сообщений: en или ru (по умолчанию — из окружения, без него — русский)</translation>
    </message>
    <message>
        <source>ATmega8, ATmega88, ATmega168 or ATmega328</source>
        <translation>ATmega8, ATmega88, ATmega168 или ATmega328</translation>
    </message>
    <message>
        <source>write the whole flash as Intel HEX on exit</source>
        <translation>при выходе записать всю flash в файл Intel HEX</translation>
    </message>
    <message>
        <source>write the EEPROM as Intel HEX on exit</source>
        <translation>при выходе записать EEPROM в файл Intel HEX</translation>
    </message>
    <message>
        <source>also make this symbolic link to the terminal</source>
        <translation>создать и эту символьную ссылку на терминал</translation>
    </message>
    <message>
        <source>like a USB serial adapter&apos;s latency timer: %s this many
milliseconds after the last delivery, or at once when 62 bytes have gathered</source>
        <translation>как таймер задержки USB-адаптера: %s через столько
миллисекунд после прошлой передачи или сразу, как наберётся 62 байта</translation>
    </message>
    <message>
        <source>Simulated AVR board on a real AVR core: the loader firmware and the user program run
in simavr, the UART is served on a new pseudo-terminal in real time. Prints the
terminal&apos;s path on the first line of standard output, then serves until it is
interrupted (SIGINT, SIGTERM). SIGUSR1 presses the reset button.</source>
        <translation>Имитация платы AVR на настоящем ядре AVR: прошивка загрузчика и программа пользователя
работают в simavr, UART выведен на новый псевдотерминал в реальном времени. Печатает
путь терминала первой строкой стандартного вывода и работает, пока её не прервут
(SIGINT, SIGTERM). SIGUSR1 нажимает кнопку сброса.</translation>
    </message>
    <message>
        <source>the chip&apos;s clock in MHz</source>
        <translation>частота МК в МГц</translation>
    </message>
    <message>
        <source>the loader&apos;s Intel HEX file (default: the build&apos;s, for the model and clock)</source>
        <translation>файл Intel HEX загрузчика (по умолчанию — собранный для модели и частоты)</translation>
    </message>
    <message>
        <source>a program already in flash at start (Intel HEX)</source>
        <translation>программа, уже записанная во flash при запуске (Intel HEX)</translation>
    </message>
    <message>
        <source>EEPROM contents at start (Intel HEX)</source>
        <translation>содержимое EEPROM при запуске (Intel HEX)</translation>
    </message>
    <message>
        <source>what the chip sends reaches the host</source>
        <translation>отправленное МК доходит до компьютера</translation>
    </message>
    <message>
        <source>Simulated AVR board with the resident loader, served on a new pseudo-terminal.
Prints the terminal&apos;s path on the first line of standard output, then serves
until it is interrupted (SIGINT, SIGTERM) or its line is made to vanish.
SIGUSR1 presses the reset button: the loader starts afresh, the memories stay.</source>
        <translation>Имитация платы AVR с загрузчиком на новом псевдотерминале.
Печатает путь терминала первой строкой стандартного вывода и работает, пока её
не прервут (SIGINT, SIGTERM) или пока её линия не пропадёт по заданию.
SIGUSR1 нажимает кнопку сброса: загрузчик начинает заново, память сохраняется.</translation>
    </message>
    <message>
        <source>emulate the wire: 10 bits a byte at the speed the host set</source>
        <translation>имитировать провод: 10 бит на байт на скорости, заданной компьютером</translation>
    </message>
    <message>
        <source>load flash from this Intel HEX file at start</source>
        <translation>при запуске загрузить flash из этого файла Intel HEX</translation>
    </message>
    <message>
        <source>load EEPROM from this Intel HEX file at start</source>
        <translation>при запуске загрузить EEPROM из этого файла Intel HEX</translation>
    </message>
    <message>
        <source>write every byte the host sent, with its time in microseconds, on exit</source>
        <translation>при выходе записать каждый байт, присланный компьютером, с его временем в микросекундах</translation>
    </message>
    <message>
        <source>an answer reaches the host</source>
        <translation>ответ доходит до компьютера</translation>
    </message>
    <message>
        <source>answer nothing</source>
        <translation>ничего не отвечать</translation>
    </message>
    <message>
        <source>echo every byte, like a looped-back line</source>
        <translation>возвращать каждый байт, как замкнутая на себя линия</translation>
    </message>
    <message>
        <source>give no answer to the N-th command</source>
        <translation>не ответить на N-ю команду</translation>
    </message>
    <message>
        <source>send 100 of the 128 bytes of a block</source>
        <translation>отправить 100 из 128 байт блока</translation>
    </message>
    <message>
        <source>answer this many milliseconds late</source>
        <translation>отвечать с опозданием на столько миллисекунд</translation>
    </message>
    <message>
        <source>answer with noise</source>
        <translation>отвечать шумом</translation>
    </message>
    <message>
        <source>drop the line after N host bytes</source>
        <translation>оборвать линию после N байт от компьютера</translation>
    </message>
    <message>
        <source>leave the loader&apos;s pages unchanged by E and F, as lock bits do</source>
        <translation>не менять страницы загрузчика командами E и F, как при битах защиты</translation>
    </message>
    <message>
        <source>start with this wait count in the loader&apos;s second copy only, as a configuration cut short leaves it</source>
        <translation>начать с этим счётчиком ожидания только во второй копии загрузчика, как после прерванной настройки</translation>
    </message>
    <message>
        <source>lose the N-th byte the host sends</source>
        <translation>потерять N-й байт от компьютера</translation>
    </message>
    <message>
        <source>flip the lowest bit of the N-th byte the host sends</source>
        <translation>инвертировать младший бит N-го байта от компьютера</translation>
    </message>
    <message>
        <source>program the flash byte at this address with a bit flipped</source>
        <translation>записать байт flash по этому адресу с инвертированным битом</translation>
    </message>
    <message>
        <source>answer the flash check of the 128-byte unit at this address wrongly</source>
        <translation>ответить неверной контрольной суммой flash для 128-байтового блока по этому адресу</translation>
    </message>
    <message>
        <source>a loader of the original kind: no signature in its first block, only the four-byte commands</source>
        <translation>загрузчик исходного вида: без подписи в первом блоке, только четырёхбайтовые команды</translation>
    </message>
    <message>
        <source>our loader with a protocol-version-1 signature: a host gives it the plain road only, and so does this board</source>
        <translation>наш загрузчик с подписью протокола версии 1: компьютер даёт ему только простой путь, и эта плата тоже</translation>
    </message>
</context>
<context>
    <name>status</name>
    <message>
        <source>стирании flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>стирании EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>записи flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>записи EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сравнении flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>сравнении EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>чтении flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>чтении EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>настройке загрузчика</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стирание flash закончено!  Время стирания: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стирание EEPROM закончено! Время стирания: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запись flash закончена!  Время записи: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Запись EEPROM закончена!  Время записи: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>flash записан правильно!  Время чтения: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>EEPROM записан правильно!  Время чтения: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Чтение flash закончено!  Время чтения: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Чтение EEPROM закончено!  Время чтения: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунд</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик не принял настройку: по адресу %.4X записано %.2X, прочитано %.2X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ошибка по адресу: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> и далее</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Связь с портом потеряна при %s: адрес %.4X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик не ответил при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик ответил не полностью при %s: команда &apos;%c&apos;, адрес %.4X, получено %zu байт из %zu</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Данные файла доходят до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Данные файла доходят до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Задано слишком большое время ожидания запуска программы!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Частота и время ожидания не могут быть отрицательными!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Время ожидания time_out должно быть числом секунд, например 2 или 0,5: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Подключён %s (загрузчик с адреса %.4X), а выбран %s: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Устройство не опознано: ни по одному из адресов 1C00, 3C00, 7C00 нет загрузчика (нет загрузчика, эхо на линии или загрузчик повреждён). Выбран %s: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>По адресу %.4X нет первого блока загрузчика %s: настройка не записана</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Доступно %i COM порт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Доступно %i COM порта</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Доступно %i COM портов</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стираем Flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Стираем EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Записываем Flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Записываем EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Читаем Flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Читаем EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Настраиваем загрузчик</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файл %s, строка %zu: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файл %s: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось прочитать файл %s: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>недопустимый символ &apos;%c&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>недопустимый символ с кодом %.2X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>запись короче, чем требует её длина</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>неверная запись адреса</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>адрес %.5X вне памяти</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>в файле нет данных, в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>файл ELF собран не для AVR (машина %u), в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>файл ELF не читается: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось записать файл %s: %s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Прервано при %s, адрес %.4X: операция не закончена</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>COM порт не открыт</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не выбрана скорость порта</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Нет загруженного файла flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Нет загруженного файла EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Внимание!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение установлено успешно!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Соединение не удалось установить</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Связь с портом потеряна</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Нет доступного COM порта</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Программа запущена. Загрузчик снова ответит только после сброса платы</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>опознании МК</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Обмен с загрузчиком сбился при %s, адрес %.4X, и на синхронизацию он не ответил: проверьте линию и сбросьте плату</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Частота Fosc %s МГц вне диапазона %g–%g МГц, на котором работают эти МК и загрузчик: с таким счётчиком загрузчик после сброса может никому не ответить. В устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Счётчик ожидания загрузчика разорван: две его копии различаются (%u и %u). Операции выполняются; настройка загрузчика перепишет обе копии</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>это текст, а не запись Intel HEX (запись начинается с двоеточия)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик ответил неверно при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  (быстрый протокол)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>это не файл Intel HEX: в нём нет ни одной записи, в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунду</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Настройка загрузчика выполнена на частоту %s МГц и %s секунды</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Время ожидания %s с короче 0,5 с: после сброса загрузчик почти сразу запустит программу, и связаться с ним сможет только программатор, который сам сбрасывает плату</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%i мс</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сравниваем Flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сравниваем EEPROM</source>
        <translation></translation>
    </message>
    <message>
        <source>. Из этого кадра в память ничего не записано</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>. Этот кадр записан в память</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>. Что записано из этого кадра, неизвестно: запишите файл ещё раз</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ответ загрузчика не прошёл проверку CRC-32 при %s: команда &apos;%c&apos;, адрес %.4X</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик говорит на первой версии быстрого протокола, и с ним работа идёт по простому протоколу. Замените загрузчик новым: у старого один сбойный байт на линии может испортить EEPROM или сам загрузчик</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Серийный номер доходит до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Серийный номер доходит до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Серийный номер по адресу %.4X ложится на данные файла: в устройство ничего не отправлено</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>таблица сегментов выходит за конец файла</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>данные сегмента выходят за конец файла</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>заголовок повреждён или неполон</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>неверная контрольная сумма: ожидалась 0x%.2X, в файле 0x%.2X</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>win</name>
    <message>
        <source>Настройки и последний выбор (частота МК, время ожидания, модель, порт, скорость, файлы, сброс по DTR) хранятся в файле %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>window</name>
    <message>
        <source>Открыт порт %1. Выберите скорость</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось открыть порт %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Установлена скорость %1 бод</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт не принял скорость %1 бод</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Подключён %1 (загрузчик с адреса %2): в списке МК выбран %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось отправить команду запуска программы</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Работает программа платы, загрузчик не на связи</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик перестал отвечать</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось прочитать файл %1 (%2): он оставлен как есть, действуют значения 8 и 5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Не удалось сохранить настройки в файл %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Записать такое время ожидания всё же?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Если на плате загрузчик с другим первым блоком, можно продолжить без проверки. Продолжить?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Записать настройку для такой частоты всё же?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Операция ещё не закончена. Прервать её и закрыть окно?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сейчас записывается первый блок загрузчика. Прервать запись нельзя: плата осталась бы без загрузчика. Окно можно будет закрыть, когда запись закончится.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файл %1 уже существует. Заменить его?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файлы программной памяти flash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Файлы памяти данных EEPROM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Все файлы</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>В папке программы отсутствует файл &quot;%1&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Помощь</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>О программе</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик (Zarvik)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Версия 1.0 полная</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>При частоте %1 МГц время ожидания может быть не больше %2 с.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 отличается от файла в %2 байте. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 отличается от файла в %2 байтах. </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик не ответил на скорости %1 бод. Скорее всего, он работает на другой скорости или его время ожидания после сброса уже истекло: сбросьте плату и сразу нажмите «Соединить»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик не ответил на скорости %1 бод после сброса по DTR. Скорее всего, он работает на другой скорости или плата не сбрасывается по DTR: тогда сбросьте её кнопкой и сразу нажмите «Соединить»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик не ответил при %1. Сбросьте плату и нажмите «Соединить»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Сбросьте плату и нажмите «Соединить»</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Перед соединением сбросить плату импульсом на линии DTR: так сбрасывается большинство плат с USB-адаптером. Загрузчик ждёт соединения только после сброса</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт не управляет линией DTR: плата не сброшена</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Порт %1, выбранный в прошлый раз, не найден</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик платы: %1 МГц, ожидание %2 с</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Загрузчик платы: счётчик ожидания %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>zarvik::CVelborDlg</name>
    <message>
        <source>Помощь</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>О программе ...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
