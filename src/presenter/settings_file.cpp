#include "presenter/settings_file.h"

#include <filesystem>
#include <system_error>

#include "memory/file_io.h"

namespace zarvik {
namespace {

std::string path_in(const std::string& folder) {
    if (folder.empty()) return kSettingsFileName;
    return folder.back() == '/' ? folder + kSettingsFileName : folder + "/" + kSettingsFileName;
}

}  // namespace

std::string settings_value(std::string_view text, std::string_view key) {
    const std::size_t key_at = text.find(key);
    if (key_at == std::string_view::npos) return {};
    const std::size_t equals = text.find('=', key_at);
    if (equals == std::string_view::npos) return {};
    std::size_t end = equals + 1;
    while (end < text.size()) {
        const auto c = static_cast<unsigned char>(text[end]);
        if (c < 0x20 || c >= 0x80) break;
        ++end;
    }
    std::string_view value = text.substr(equals + 1, end - equals - 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    return std::string(value);
}

LoaderSettings parse_settings(std::string_view text) {
    if (text.empty()) return {};
    // Like the C string it always was, the text ends at a zero byte.
    text = text.substr(0, text.find('\0'));
    return LoaderSettings{settings_value(text, "Fosc"), settings_value(text, "time_out")};
}

std::string format_settings(const LoaderSettings& settings) {
    return "Fosc\t = " + settings.fosc + "\r\ntime_out = " + settings.timeout + "\r\n";
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
