#include "presenter/settings_file.h"

#include <filesystem>
#include <system_error>

#include "memory/file_io.h"
#include "presenter/text_encoding.h"

namespace zarvik {
namespace {

std::string path_in(const std::string& folder) {
    if (folder.empty()) return kSettingsFileName;
    return folder.back() == '/' ? folder + kSettingsFileName : folder + "/" + kSettingsFileName;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The value that starts at `from`: up to the line's end (any control byte), blanks
// trimmed, as UTF-8.
std::string value_from(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x20 && text[end] != 0x7F) ++end;
    std::string_view value = text.substr(from, end - from);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    // An older file was written in Windows-1251.
    return is_valid_utf8(value) ? std::string(value) : utf8_from_cp1251(value);
}

// The lines after the first two, in the order they are written.
struct ChoiceLine {
    const char* key;
    std::string LoaderSettings::*value;
};
constexpr ChoiceLine kChoiceLines[] = {
    {kModelKey, &LoaderSettings::model},           {kPortKey, &LoaderSettings::port},
    {kSpeedKey, &LoaderSettings::speed},           {kFlashFileKey, &LoaderSettings::flash_file},
    {kEepromFileKey, &LoaderSettings::eeprom_file}, {kResetKey, &LoaderSettings::reset},
};

bool has_control_byte(std::string_view value) {
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace

std::string settings_value(std::string_view text, std::string_view key) {
    const std::size_t key_at = text.find(key);
    if (key_at == std::string_view::npos) return {};
    const std::size_t equals = text.find('=', key_at);
    if (equals == std::string_view::npos) return {};
    return value_from(text, equals + 1);
}

std::string settings_line_value(std::string_view text, std::string_view key) {
    std::size_t line = 0;
    while (line < text.size()) {
        std::size_t end = text.find_first_of("\r\n", line);
        if (end == std::string_view::npos) end = text.size();
        if (text.substr(line, end - line).starts_with(key)) {
            std::size_t at = line + key.size();
            while (at < end && is_blank(text[at])) ++at;
            if (at < end && text[at] == '=') return value_from(text, at + 1);
        }
        line = end + 1;
    }
    return {};
}

LoaderSettings parse_settings(std::string_view text) {
    if (text.empty()) return {};
    // Like the C string it always was, the text ends at a zero byte.
    text = text.substr(0, text.find('\0'));
    LoaderSettings s;
    s.fosc = settings_value(text, "Fosc");
    s.timeout = settings_value(text, "time_out");
    for (const ChoiceLine& line : kChoiceLines) s.*line.value = settings_line_value(text, line.key);
    return s;
}

std::string format_settings(const LoaderSettings& settings) {
    std::string out = "Fosc\t = " + settings.fosc + "\r\ntime_out = " + settings.timeout + "\r\n";
    for (const ChoiceLine& line : kChoiceLines) {
        const std::string& value = settings.*line.value;
        if (value.empty() || has_control_byte(value)) continue;
        out.append(line.key).append(" = ").append(value).append("\r\n");
    }
    return out;
}

LoaderSettings load_settings(const std::string& folder, std::string* unreadable) {
    const std::string path = path_in(folder);
    std::string text;
    if (auto error = read_whole_file(path, text)) {
        LoaderSettings defaults;
        // Anything at that name, even a folder or a link to nowhere, may be the user's:
        // replacing it with the defaults would lose what it holds.
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (!ec && std::filesystem::exists(status)) {
            if (unreadable != nullptr) *unreadable = *error;
            return defaults;
        }
        (void)save_settings(folder, defaults);
        return defaults;
    }
    return parse_settings(text);
}

std::optional<std::string> save_settings(const std::string& folder, const LoaderSettings& settings) {
    return write_file_atomically(path_in(folder), format_settings(settings));
}

}  // namespace zarvik
