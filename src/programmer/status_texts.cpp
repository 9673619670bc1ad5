#include "programmer/status_texts.h"

#include <cstdio>

namespace zarvik {
namespace {

bool is_flash(const OperationOutcome& o) { return o.memory == MemoryKind::Flash; }

std::string format(const char* fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string operation_name(const OperationOutcome& o) {
    const char* memory = is_flash(o) ? "flash" : "EEPROM";
    switch (o.operation) {
        case Operation::Erase: return std::string("стирании ") + memory;
        case Operation::Write: return std::string("записи ") + memory;
        case Operation::Verify: return std::string("сравнении ") + memory;
        case Operation::Read: return std::string("чтении ") + memory;
        case Operation::Configure: return "настройке загрузчика";
    }
    return {};
}

std::string success_text(const OperationOutcome& o) {
    const std::string time = elapsed_text(o.elapsed_ms);
    switch (o.operation) {
        case Operation::Erase:
            // The EEPROM text has always had a single blank before its time.
            return is_flash(o) ? "Стирание flash закончено!  Время стирания: " + time
                               : "Стирание EEPROM закончено! Время стирания: " + time;
        case Operation::Write:
            return (is_flash(o) ? "Запись flash закончена!" : "Запись EEPROM закончена!") +
                   std::string("  Время записи: ") + time;
        case Operation::Verify:
            return (is_flash(o) ? "flash записан правильно!" : "EEPROM записан правильно!") +
                   std::string("  Время чтения: ") + time;
        case Operation::Read:
            return (is_flash(o) ? "Чтение flash закончено!" : "Чтение EEPROM закончено!") +
                   std::string("  Время чтения: ") + time;
        case Operation::Configure:
            return "Настройка загрузчика выполнена на частоту " + o.fosc_text + " МГц и " + o.timeout_text + " секунд";
    }
    return {};
}

std::string differences_text(const OperationOutcome& o) {
    if (o.operation == Operation::Configure) {
        const auto& d = o.differences.front();
        return format("Загрузчик не принял настройку: по адресу %.4X записано %.2X, прочитано %.2X", d.address,
                      unsigned{d.expected}, unsigned{d.found});
    }
    const std::size_t limit = is_flash(o) ? 7 : 9;
    const char* address_format = is_flash(o) ? "%.4X " : "%.3X ";
    std::string text = "Ошибка по адресу: ";
    for (std::size_t i = 0; i < o.differences.size() && i < limit; ++i) {
        text += format(address_format, o.differences[i].address);
    }
    if (o.difference_count >= limit) text += " и далее";
    return text;
}

std::string link_text(const OperationOutcome& o) {
    const TransactionFailure& f = *o.link_failure;
    if (f.line_lost) {
        return format("%s при %s: адрес %.4X", kLineLost, operation_name(o).c_str(), f.address);
    }
    if (f.received == 0) {
        return format("Загрузчик не ответил при %s: команда '%c', адрес %.4X", operation_name(o).c_str(), f.command,
                      f.address);
    }
    return format("Загрузчик ответил не полностью при %s: команда '%c', адрес %.4X, получено %zu байт из %zu",
                  operation_name(o).c_str(), f.command, f.address, f.received, f.expected);
}

std::string refusal_text(const OperationOutcome& o) {
    switch (o.refusal) {
        case Refusal::DataOverLoader:
            return format("Данные файла доходят до адреса %.4X, а загрузчик начинается с %.4X: "
                          "в устройство ничего не отправлено",
                          o.refused_address, o.refusal_limit);
        case Refusal::DataBeyondEeprom:
            return format("Данные файла доходят до адреса %.3X, а EEPROM этого МК занимает %u байт: "
                          "в устройство ничего не отправлено",
                          o.refused_address, o.refusal_limit);
        case Refusal::WaitCountTooLarge: return "Задано слишком большое время ожидания запуска программы!";
        case Refusal::WaitCountNegative: return "Частота и время ожидания не могут быть отрицательными!";
        case Refusal::FoscNotNumber:
            return "Частота Fosc должна быть числом мегагерц, например 16 или 7,3728: в устройство ничего не отправлено";
        case Refusal::TimeoutNotNumber:
            return "Время ожидания time_out должно быть числом секунд, например 2 или 0,5: в устройство ничего не "
                   "отправлено";
        case Refusal::WaitTooShort:
            return format("Время ожидания %.3g с короче 0,5 с: после сброса загрузчик почти сразу запустит программу, "
                          "и связаться с ним сможет только программатор, который сам сбрасывает плату",
                          o.wait_seconds);
        case Refusal::WrongDevice:
            return format("Подключён %s (загрузчик с адреса %.4X), а выбран %s: в устройство ничего не отправлено",
                          o.device_name.c_str(), o.device_loader_start, o.selected_name.c_str());
        case Refusal::DeviceNotConfirmed:
            return format("Устройство не опознано: ни по одному из адресов 1C00, 3C00, 7C00 нет загрузчика "
                          "(нет загрузчика, эхо на линии или загрузчик повреждён). Выбран %s: в устройство ничего "
                          "не отправлено",
                          o.selected_name.c_str());
        case Refusal::NoLoaderBlock:
            return format("По адресу %.4X нет первого блока загрузчика %s: настройка не записана", o.first_address,
                          o.selected_name.c_str());
        case Refusal::None: break;
    }
    return {};
}

}  // namespace

std::string elapsed_text(std::int64_t ms) { return format("%i ms", static_cast<int>(ms)); }

std::string port_count_text(int count) {
    if (count <= 0) return kNoPorts;
    // Only three forms, as the window has always shown them: 21 takes "портов" too.
    const char* form = count == 1 ? "Доступно %i COM порт" : count <= 4 ? "Доступно %i COM порта" : "Доступно %i COM портов";
    return format(form, count);
}

std::string phase_text(Phase phase, MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    switch (phase) {
        case Phase::Erasing: return flash ? "Стираем Flash" : "Стираем EEPROM";
        case Phase::Writing: return flash ? "Записываем Flash" : "Записываем EEPROM";
        case Phase::Reading: return flash ? "Читаем Flash" : "Читаем EEPROM";
        case Phase::Configuring: return "Настраиваем загрузчик";
    }
    return {};
}

std::string hex_error_text(const HexError& e) {
    std::string where = e.line > 0 ? format("Файл %s, строка %zu: ", e.file.c_str(), e.line)
                                         : format("Файл %s: ", e.file.c_str());
    switch (e.kind) {
        case HexError::Kind::CannotOpen: return format("Не удалось прочитать файл %s: %s", e.file.c_str(), e.detail.c_str());
        case HexError::Kind::BadCharacter:
            return where + (e.found >= 0x20 && e.found < 0x7F ? format("недопустимый символ '%c'", static_cast<char>(e.found))
                                                              : format("недопустимый символ с кодом %.2X", e.found));
        case HexError::Kind::ShortRecord: return where + "запись короче, чем требует её длина";
        case HexError::Kind::BadChecksum:
            return where + format("неверная контрольная сумма: ожидалась %.2X, в файле %.2X", e.expected, e.found);
        case HexError::Kind::BadRecord: return where + "неверная запись адреса";
        case HexError::Kind::BeyondCapacity: return where + format("адрес %.5X вне памяти", e.address);
        case HexError::Kind::Empty: return where + "в файле нет данных, в устройство ничего не отправлено";
        case HexError::Kind::NotAvrElf:
            return where + format("файл ELF собран не для AVR (машина %u), в устройство ничего не отправлено", e.found);
        case HexError::Kind::BadElf: return where + "файл ELF не читается: " + e.detail;
        case HexError::Kind::ElfUnsupported: return where + "эта сборка не читает файлы ELF, нужен файл Intel HEX";
    }
    return where;
}

std::string status_text(const OperationOutcome& o) {
    switch (o.result) {
        case OperationOutcome::Result::Success: return success_text(o);
        case OperationOutcome::Result::Differences: return differences_text(o);
        case OperationOutcome::Result::LinkFailure: return link_text(o);
        case OperationOutcome::Result::FileFailure:
            if (o.file_error) return hex_error_text(*o.file_error);
            return format("Не удалось записать файл %s: %s", o.path.c_str(), o.export_error.c_str());
        case OperationOutcome::Result::Refused: return refusal_text(o);
        case OperationOutcome::Result::Interrupted:
            return format("Прервано при %s, адрес %.4X: операция не закончена", operation_name(o).c_str(),
                          o.stopped_address);
    }
    return {};
}

}  // namespace zarvik
