#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvik {

// Zarvik.ini: two lines, "Fosc\t = %s\r\n" and "time_out = %s\r\n", with the texts of the
// clock and wait-time edits. Plain bytes; the values are looked up, not parsed.
inline constexpr const char* kSettingsFileName = "Zarvik.ini";
inline constexpr const char* kDefaultFosc = "8";
inline constexpr const char* kDefaultTimeout = "5";

struct LoaderSettings {
    std::string fosc = kDefaultFosc;
    std::string timeout = kDefaultTimeout;
};

// The value of `key`: from the first occurrence of the key anywhere in the text, past
// the next '=', up to the first control byte or byte of 0x80 and above, blanks trimmed.
// A key with no '=' after it gives an empty value.
std::string settings_value(std::string_view text, std::string_view key);

// What the file's content means; an empty file means the defaults.
LoaderSettings parse_settings(std::string_view text);

std::string format_settings(const LoaderSettings& settings);

// Reads `folder`/Zarvik.ini; only a missing file is created with the defaults (a
// failure to create it is not an error: the defaults stand). A file that is there but
// cannot be read is left as it is: the defaults stand in, and `unreadable`, when
// given, receives the reason. Never fails.
LoaderSettings load_settings(const std::string& folder, std::string* unreadable = nullptr);

// Writes `folder`/Zarvik.ini; returns the reason when it could not be written.
std::optional<std::string> save_settings(const std::string& folder, const LoaderSettings& settings);

}  // namespace zarvik
