#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvik {

// Zarvik.ini. It began as two lines, "Fosc\t = %s\r\n" and "time_out = %s\r\n", with the
// texts of the clock and wait-time edits; those two lines still come first, exactly so.
// After them come the window's last choices and settings, one "key = value" line each,
// only for what was chosen: the model, the port, the speed, both file paths, and the
// board's reset through DTR before Connect. A new one is a member below and a row of
// the table in settings_file.cpp.
//
// Every value is UTF-8 and runs to the end of its line (a path may hold '=', spaces or
// Cyrillic); blanks around it are trimmed. A value that is not valid UTF-8 comes from
// an older file, written in Windows-1251, and is read as that. The file is read whole,
// whatever its length.
inline constexpr const char* kSettingsFileName = "Zarvik.ini";
inline constexpr const char* kDefaultFosc = "8";
inline constexpr const char* kDefaultTimeout = "5";

// The keys of the lines after the first two. None holds "Fosc" or "time_out": those two
// are looked up as the first occurrence of their name anywhere in the file, as they
// always were, and must never be found inside another key.
inline constexpr const char* kModelKey = "last_model";
inline constexpr const char* kPortKey = "last_port";
inline constexpr const char* kSpeedKey = "last_speed";
inline constexpr const char* kFlashFileKey = "last_flash_file";
inline constexpr const char* kEepromFileKey = "last_eeprom_file";
// "reset = dtr": Connect first resets the board through DTR. Absent: no reset.
inline constexpr const char* kResetKey = "reset";
inline constexpr const char* kResetDtr = "dtr";

struct LoaderSettings {
    std::string fosc = kDefaultFosc;
    std::string timeout = kDefaultTimeout;
    // The window's last choices; empty when there was none.
    std::string model;
    std::string port;
    std::string speed;
    std::string flash_file;
    std::string eeprom_file;
    std::string reset;  // kResetDtr, or empty

    bool operator==(const LoaderSettings&) const = default;
};

// The value of the original keys (Fosc, time_out): from the first occurrence of the
// key anywhere in the text, past the next '=', up to the first control byte (the line's
// end), blanks trimmed. A key with no '=' after it gives an empty value.
std::string settings_value(std::string_view text, std::string_view key);

// The value of a key on a line of its own (the keys added after the first two): the line
// that begins with the key and then, after blanks, '='. Empty when there is none.
std::string settings_line_value(std::string_view text, std::string_view key);

// What the file's content means; an empty file means the defaults.
LoaderSettings parse_settings(std::string_view text);

// The file's bytes: the two original lines, then a line for each choice that was made.
// A choice that holds a control byte (a line break in a file name) is not kept.
std::string format_settings(const LoaderSettings& settings);

// Reads `folder`/Zarvik.ini; only a missing file is created with the defaults (a
// failure to create it is not an error: the defaults stand). A file that is there but
// cannot be read is left as it is: the defaults stand in, and `unreadable`, when
// given, receives the reason. Never fails.
LoaderSettings load_settings(const std::string& folder, std::string* unreadable = nullptr);

// Writes `folder`/Zarvik.ini; returns the reason when it could not be written.
std::optional<std::string> save_settings(const std::string& folder, const LoaderSettings& settings);

}  // namespace zarvik
