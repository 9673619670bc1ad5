#pragma once

#include <string>

#include "memory/intel_hex_error.h"
#include "programmer/outcome.h"

namespace zarvik {

// Every text the window's status line and the command line print about an operation,
// built here only. UTF-8.

std::string phase_text(Phase phase, MemoryKind memory);
std::string status_text(const OperationOutcome& outcome);
std::string hex_error_text(const HexError& error);
std::string elapsed_text(std::int64_t ms);
// "Доступно 3 COM порта", or "Нет доступного COM порта" for none.
std::string port_count_text(int count);

// The message box texts the faces share.
inline constexpr const char* kPortNotOpen = "COM порт не открыт";
inline constexpr const char* kSpeedNotChosen = "Не выбрана скорость порта";
inline constexpr const char* kNoFlashFile = "Нет загруженного файла flash";
inline constexpr const char* kNoEepromFile = "Нет загруженного файла EEPROM";
inline constexpr const char* kErrorCaption = "Ошибка";
inline constexpr const char* kWarningCaption = "Внимание!";
inline constexpr const char* kConnected = "Соединение установлено успешно!";
inline constexpr const char* kNotConnected = "Соединение не удалось установить";
inline constexpr const char* kLineLost = "Связь с портом потеряна";
inline constexpr const char* kNoPorts = "Нет доступного COM порта";

}  // namespace zarvik
