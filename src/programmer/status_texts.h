#pragma once

#include <string>

#include "loader/chip_identity.h"
#include "memory/intel_hex_error.h"
#include "text/language.h"
#include "programmer/outcome.h"

namespace zarvik {

// Every text the window's status line and the command line print about an operation,
// built here only, in the current language (text/language.h). UTF-8.

// How a time is written: "1234 ms" as the window has always shown it, in either
// language, or with the unit in the current language ("1234 мс"), as the command line
// writes it.
enum class TimeUnit { AsWindow, InLanguage };

std::string phase_text(Phase phase, MemoryKind memory);
// The outcome's text, followed by the advice about the loader when it carries one.
std::string status_text(const OperationOutcome& outcome, TimeUnit unit = TimeUnit::AsWindow);
// The outcome's text alone.
std::string outcome_text(const OperationOutcome& outcome, TimeUnit unit = TimeUnit::AsWindow);
// What was under way when an exchange failed, as said after «при»: «записи flash», or
// «опознании МК» when the chip's identity was being read.
std::string during_text(const OperationOutcome& outcome);
// For our loader of protocol version 1: why it gets the plain road, and to replace it.
const char* replace_loader_text();
std::string hex_error_text(const HexError& error);
std::string elapsed_text(std::int64_t ms, TimeUnit unit = TimeUnit::AsWindow);
// For a chip whose loader shows two different wait counts: what the user should know;
// empty for any other identity.
std::string torn_count_text(const ChipIdentity& identity);
// "Доступно 3 COM порта", or "Нет доступного COM порта" for none.
std::string port_count_text(int count);

// The message box texts the faces share, in the "status" context.
inline constexpr const char* kPortNotOpen = ZARVIK_TEXT("status", "COM порт не открыт");
inline constexpr const char* kSpeedNotChosen = ZARVIK_TEXT("status", "Не выбрана скорость порта");
inline constexpr const char* kNoFlashFile = ZARVIK_TEXT("status", "Нет загруженного файла flash");
inline constexpr const char* kNoEepromFile = ZARVIK_TEXT("status", "Нет загруженного файла EEPROM");
inline constexpr const char* kErrorCaption = ZARVIK_TEXT("status", "Ошибка");
inline constexpr const char* kWarningCaption = ZARVIK_TEXT("status", "Внимание!");
inline constexpr const char* kConnected = ZARVIK_TEXT("status", "Соединение установлено успешно!");
inline constexpr const char* kNotConnected = ZARVIK_TEXT("status", "Соединение не удалось установить");
inline constexpr const char* kLineLost = ZARVIK_TEXT("status", "Связь с портом потеряна");
inline constexpr const char* kNoPorts = ZARVIK_TEXT("status", "Нет доступного COM порта");
// After `S` the user program runs, and the loader listens again only after a reset.
inline constexpr const char* kProgramStarted =
    ZARVIK_TEXT("status", "Программа запущена. Загрузчик снова ответит только после сброса платы");

}  // namespace zarvik
