#include "programmer/status_texts.h"

#include <cstdio>
#include <vector>

#include "programmer/programmer.h"
#include "text/language.h"
#include "text/number_text.h"

namespace zarvik {
namespace {

bool is_flash(const OperationOutcome& o) { return o.memory == MemoryKind::Flash; }

// A status text in the current language, with its numbers and names put in.
std::string format(const char* fmt, auto... args) {
    const int n = std::snprintf(nullptr, 0, fmt, args...);
    if (n <= 0) return {};
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::snprintf(buf.data(), buf.size(), fmt, args...);
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

// Whole phrases, so that each language can word them its own way.
std::string operation_name(const OperationOutcome& o) {
    const bool flash = is_flash(o);
    switch (o.operation) {
        case Operation::Erase: return flash ? tr_text("status", "стирании flash") : tr_text("status", "стирании EEPROM");
        case Operation::Write: return flash ? tr_text("status", "записи flash") : tr_text("status", "записи EEPROM");
        case Operation::Verify:
            return flash ? tr_text("status", "сравнении flash") : tr_text("status", "сравнении EEPROM");
        case Operation::Read: return flash ? tr_text("status", "чтении flash") : tr_text("status", "чтении EEPROM");
        case Operation::Configure: return tr_text("status", "настройке загрузчика");
    }
    return {};
}

std::string success_text(const OperationOutcome& o, TimeUnit unit) {
    const std::string time = elapsed_text(o.elapsed_ms, unit);
    switch (o.operation) {
        case Operation::Erase:
            // The EEPROM text has always had a single blank before its time.
            return is_flash(o) ? tr_text("status", "Стирание flash закончено!  Время стирания: ") + time
                               : tr_text("status", "Стирание EEPROM закончено! Время стирания: ") + time;
        case Operation::Write:
            return is_flash(o) ? tr_text("status", "Запись flash закончена!  Время записи: ") + time
                               : tr_text("status", "Запись EEPROM закончена!  Время записи: ") + time;
        case Operation::Verify:
            return is_flash(o) ? tr_text("status", "flash записан правильно!  Время чтения: ") + time
                               : tr_text("status", "EEPROM записан правильно!  Время чтения: ") + time;
        case Operation::Read:
            return is_flash(o) ? tr_text("status", "Чтение flash закончено!  Время чтения: ") + time
                               : tr_text("status", "Чтение EEPROM закончено!  Время чтения: ") + time;
        case Operation::Configure: {
            // The numbers as the language writes them, and «секунда» in the form its number takes.
            const std::string fosc = localized_number(o.fosc_text);
            const std::string timeout = localized_number(o.timeout_text);
            const PluralForm form = plural_form(o.timeout_text);
            const char* text = form == PluralForm::One ? tr_text("status", "Настройка загрузчика выполнена на частоту %s МГц и %s секунду")
                               : form == PluralForm::Few ? tr_text("status", "Настройка загрузчика выполнена на частоту %s МГц и %s секунды")
                                                         : tr_text("status", "Настройка загрузчика выполнена на частоту %s МГц и %s секунд");
            return format(text, fosc.c_str(), timeout.c_str());
        }
    }
    return {};
}

std::string differences_text(const OperationOutcome& o) {
    if (o.operation == Operation::Configure) {
        const auto& d = o.differences.front();
        return format(tr_text("status", "Загрузчик не принял настройку: по адресу %.4X записано %.2X, прочитано %.2X"),
                      d.address,
                      unsigned{d.expected}, unsigned{d.found});
    }
    const std::size_t limit = is_flash(o) ? 7 : 9;
    const char* address_format = is_flash(o) ? "%.4X " : "%.3X ";
    std::string text = tr_text("status", "Ошибка по адресу: ");
    for (std::size_t i = 0; i < o.differences.size() && i < limit; ++i) {
        text += format(address_format, o.differences[i].address);
    }
    if (o.difference_count >= limit) text += tr_text("status", " и далее");
    return text;
}

std::string link_failure_text(const OperationOutcome& o);

// What a failed frame that was to change the chip left there.
std::string frame_effect_text(const TransactionFailure& f) {
    switch (f.frame_effect) {
        case FrameEffect::NothingWritten: return tr_text("status", ". Из этого кадра в память ничего не записано");
        case FrameEffect::Written: return tr_text("status", ". Этот кадр записан в память");
        case FrameEffect::Unknown: return tr_text("status", ". Что записано из этого кадра, неизвестно: запишите файл ещё раз");
        case FrameEffect::NotAsked: break;
    }
    return {};
}

std::string link_text(const OperationOutcome& o) {
    return link_failure_text(o) + frame_effect_text(*o.link_failure);
}

std::string advice_text(const OperationOutcome& o) {
    if (o.advice != LoaderAdvice::ReplaceVersion1) return {};
    return std::string(" ") + replace_loader_text();
}

std::string link_failure_text(const OperationOutcome& o) {
    const TransactionFailure& f = *o.link_failure;
    const std::string during = during_text(o);
    if (f.line_lost) {
        return format(tr_text("status", "Связь с портом потеряна при %s: адрес %.4X"), during.c_str(), f.address);
    }
    if (f.out_of_step) {
        return format(tr_text("status", "Обмен с загрузчиком сбился при %s, адрес %.4X, и на синхронизацию он не ответил: проверьте линию и сбросьте плату"),
                      during.c_str(), f.address);
    }
    if (f.wrong_answer && f.bad_check) {
        return format(tr_text("status", "Ответ загрузчика не прошёл проверку CRC-32 при %s: команда '%c', адрес %.4X"),
                      operation_name(o).c_str(), f.command, f.address);
    }
    if (f.wrong_answer) {
        return format(tr_text("status", "Загрузчик ответил неверно при %s: команда '%c', адрес %.4X"),
                      operation_name(o).c_str(), f.command, f.address);
    }
    if (f.received == 0) {
        return format(tr_text("status", "Загрузчик не ответил при %s: команда '%c', адрес %.4X"),
                      during.c_str(), f.command, f.address);
    }
    return format(tr_text("status", "Загрузчик ответил не полностью при %s: команда '%c', адрес %.4X, получено %zu байт из %zu"),
                  during.c_str(), f.command, f.address, f.received, f.expected);
}

std::string refusal_text(const OperationOutcome& o) {
    switch (o.refusal) {
        case Refusal::DataOverLoader:
            if (o.patch_refused) {
                return format(tr_text("status", "Серийный номер доходит до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено"),
                              o.refused_address, o.refusal_limit);
            }
            return format(tr_text("status", "Данные файла доходят до адреса %.4X, а загрузчик начинается с %.4X: в устройство ничего не отправлено"),
                          o.refused_address, o.refusal_limit);
        case Refusal::DataBeyondEeprom:
            if (o.patch_refused) {
                return format(tr_text("status", "Серийный номер доходит до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено"),
                              o.refused_address, o.refusal_limit);
            }
            return format(tr_text("status", "Данные файла доходят до адреса %.3X, а EEPROM этого МК занимает %u байт: в устройство ничего не отправлено"),
                          o.refused_address, o.refusal_limit);
        case Refusal::WaitCountTooLarge: return tr_text("status", "Задано слишком большое время ожидания запуска программы!");
        case Refusal::WaitCountNegative: return tr_text("status", "Частота и время ожидания не могут быть отрицательными!");
        case Refusal::FoscNotNumber:
            return tr_text("status", "Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено");
        case Refusal::TimeoutNotNumber:
            return tr_text("status", "Время ожидания time_out должно быть числом секунд, например 2 или 0,5: в устройство ничего не отправлено");
        case Refusal::WaitTooShort:
            return format(tr_text("status", "Время ожидания %s с короче 0,5 с: после сброса загрузчик почти сразу запустит программу, и связаться с ним сможет только программатор, который сам сбрасывает плату"),
                          localized_number(format("%.3g", o.wait_seconds)).c_str());
        case Refusal::FoscOutOfRange:
            return format(tr_text("status", "Частота Fosc %s МГц вне диапазона %g–%g МГц, на котором работают эти МК и загрузчик: с таким счётчиком загрузчик после сброса может никому не ответить. В устройство ничего не отправлено"),
                          localized_number(o.fosc_text).c_str(), kLowestFoscMhz, kHighestFoscMhz);
        case Refusal::WrongDevice:
            return format(tr_text("status", "Подключён %s (загрузчик с адреса %.4X), а выбран %s: в устройство ничего не отправлено"),
                          o.device_name.c_str(), o.device_loader_start, o.selected_name.c_str());
        case Refusal::DeviceNotConfirmed:
            return format(tr_text("status", "Устройство не опознано: ни по одному из адресов 1C00, 3C00, 7C00 нет загрузчика (нет загрузчика, эхо на линии или загрузчик повреждён). Выбран %s: в устройство ничего не отправлено"),
                          o.selected_name.c_str());
        case Refusal::NoLoaderBlock:
            return format(tr_text("status", "По адресу %.4X нет первого блока загрузчика %s: настройка не записана"), o.first_address,
                          o.selected_name.c_str());
        case Refusal::SerialOverFileData:
            return format(tr_text("status", "Серийный номер по адресу %.4X ложится на данные файла: в устройство ничего не отправлено"),
                          o.refused_address);
        case Refusal::None: break;
    }
    return {};
}

}  // namespace

std::string during_text(const OperationOutcome& o) {
    // The identity is read before the first operation that touches memory, by whichever
    // operation that is: the text says which of the two failed.
    return o.while_identifying ? tr_string("status", "опознании МК") : operation_name(o);
}

const char* replace_loader_text() {
    return tr_text("status", "Загрузчик говорит на первой версии быстрого протокола, и с ним работа идёт по простому протоколу. Замените загрузчик новым: у старого один сбойный байт на линии может испортить EEPROM или сам загрузчик");
}

std::string torn_count_text(const ChipIdentity& identity) {
    if (!identity.found() || !identity.torn_count) return {};
    return format(tr_text("status", "Счётчик ожидания загрузчика разорван: две его копии различаются (%u и %u). Операции выполняются; настройка загрузчика перепишет обе копии"),
                  identity.wait_count, identity.second_wait_count);
}

std::string elapsed_text(std::int64_t ms, TimeUnit unit) {
    // The window has always written "ms", in Russian too; the command line writes the
    // unit in the language it speaks.
    return format(unit == TimeUnit::InLanguage ? tr_text("status", "%i мс") : "%i ms", static_cast<int>(ms));
}

std::string port_count_text(int count) {
    if (count <= 0) return tr_text("status", kNoPorts);
    // Only three forms, as the window has always shown them: 21 takes "портов" too.
    const char* form = count == 1 ? tr_text("status", "Доступно %i COM порт") : count <= 4 ? tr_text("status", "Доступно %i COM порта") : tr_text("status", "Доступно %i COM портов");
    return format(form, count);
}

std::string phase_text(Phase phase, MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    switch (phase) {
        case Phase::Erasing: return flash ? tr_text("status", "Стираем Flash") : tr_text("status", "Стираем EEPROM");
        case Phase::Writing: return flash ? tr_text("status", "Записываем Flash") : tr_text("status", "Записываем EEPROM");
        case Phase::Reading: return flash ? tr_text("status", "Читаем Flash") : tr_text("status", "Читаем EEPROM");
        case Phase::Verifying: return flash ? tr_text("status", "Сравниваем Flash") : tr_text("status", "Сравниваем EEPROM");
        case Phase::Configuring: return tr_text("status", "Настраиваем загрузчик");
    }
    return {};
}

namespace {

std::string elf_defect_text(ElfDefect defect) {
    switch (defect) {
        case ElfDefect::SegmentTable: return tr_text("status", "таблица сегментов выходит за конец файла");
        case ElfDefect::SegmentData: return tr_text("status", "данные сегмента выходят за конец файла");
        case ElfDefect::Header:
        case ElfDefect::None: break;
    }
    return tr_text("status", "заголовок повреждён или неполон");
}

}  // namespace

std::string hex_error_text(const HexError& e) {
    std::string where = e.line > 0 ? format(tr_text("status", "Файл %s, строка %zu: "), e.file.c_str(), e.line)
                                         : format(tr_text("status", "Файл %s: "), e.file.c_str());
    switch (e.kind) {
        case HexError::Kind::CannotOpen: return format(tr_text("status", "Не удалось прочитать файл %s: %s"), e.file.c_str(), e.detail.c_str());
        case HexError::Kind::BadCharacter:
            return where + (e.found >= 0x20 && e.found < 0x7F ? format(tr_text("status", "недопустимый символ '%c'"), static_cast<char>(e.found))
                                                              : format(tr_text("status", "недопустимый символ с кодом %.2X"), e.found));
        case HexError::Kind::ShortRecord: return where + tr_text("status", "запись короче, чем требует её длина");
        case HexError::Kind::NotARecord: return where + tr_text("status", "это текст, а не запись Intel HEX (запись начинается с двоеточия)");
        case HexError::Kind::BadChecksum:
            return where + format(tr_text("status", "неверная контрольная сумма: ожидалась 0x%.2X, в файле 0x%.2X"), e.expected, e.found);
        case HexError::Kind::BadRecord: return where + tr_text("status", "неверная запись адреса");
        case HexError::Kind::BeyondCapacity: return where + format(tr_text("status", "адрес %.5X вне памяти"), e.address);
        case HexError::Kind::Empty: return where + tr_text("status", "в файле нет данных, в устройство ничего не отправлено");
        case HexError::Kind::NotHex:
            return where + tr_text("status", "это не файл Intel HEX: в нём нет ни одной записи, в устройство ничего не отправлено");
        case HexError::Kind::NotAvrElf:
            return where + format(tr_text("status", "файл ELF собран не для AVR (машина %u), в устройство ничего не отправлено"), e.found);
        case HexError::Kind::BadElf: return where + tr_text("status", "файл ELF не читается: ") + elf_defect_text(e.elf_defect);
    }
    return where;
}

std::string status_text(const OperationOutcome& o, TimeUnit unit) { return outcome_text(o, unit) + advice_text(o); }

std::string outcome_text(const OperationOutcome& o, TimeUnit unit) {
    switch (o.result) {
        case OperationOutcome::Result::Success:
            // Our loader's own commands: the line says so, after the usual words.
            if (o.road == Road::Fast) return success_text(o, unit) + tr_text("status", "  (быстрый протокол)");
            return success_text(o, unit);
        case OperationOutcome::Result::Differences: return differences_text(o);
        case OperationOutcome::Result::LinkFailure: return link_text(o);
        case OperationOutcome::Result::FileFailure:
            if (o.file_error) return hex_error_text(*o.file_error);
            return format(tr_text("status", "Не удалось записать файл %s: %s"), o.path.c_str(), o.export_error.c_str());
        case OperationOutcome::Result::Refused: return refusal_text(o);
        case OperationOutcome::Result::Interrupted:
            return format(tr_text("status", "Прервано при %s, адрес %.4X: операция не закончена"), operation_name(o).c_str(),
                          o.stopped_address);
    }
    return {};
}

}  // namespace zarvik
