#include "presenter/settings_location.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "presenter/settings_file.h"
#if defined(_WIN32)
#include "platform/text_win.h"
#endif

namespace zarvik {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr bool kWindows = true;
constexpr char kSeparator = '\\';
#else
constexpr bool kWindows = false;
constexpr char kSeparator = '/';
#endif

bool is_separator(char c) { return c == '/' || (kWindows && c == '\\'); }

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return is_separator(folder.back()) ? folder + name : folder + kSeparator + name;
}

// Case-insensitive for ASCII only: enough for "C:\Program Files" against "c:\program files".
bool starts_with_folder(const std::string& path, const std::string& prefix) {
    if (prefix.empty() || path.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = path[i];
        char b = prefix[i];
        if (kWindows) {
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            if (a == '/') a = '\\';
            if (b == '/') b = '\\';
        }
        if (a != b) return false;
    }
    return path.size() == prefix.size() || is_separator(path[prefix.size()]) || is_separator(prefix.back());
}

// Paths are UTF-8 throughout; std::filesystem takes them as such through char8_t.
fs::path as_path(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string environment(const char* name) {
#if defined(_WIN32)
    // The wide environment: a user folder with a Cyrillic name survives.
    const wchar_t* value = ::_wgetenv(win::widen(name).c_str());
    return value != nullptr ? win::narrow(value) : std::string();
#else
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
#endif
}

bool path_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(as_path(path), ec));
}

// Whether a new file can be made here: tried, not guessed from permission bits, which
// say nothing of a read-only medium or of Windows' access lists.
bool folder_writable(const std::string& folder) {
    const fs::path probe = as_path(joined(folder, ".zarvik-write-probe"));
    {
        std::ofstream out(probe, std::ios::binary);
        if (!out) return false;
    }
    std::error_code ec;
    fs::remove(probe, ec);
    return true;
}

std::string u8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

std::string settings_file_in(const std::string& folder) { return joined(folder, kSettingsFileName); }

SettingsLocation locate_settings(const SettingsPlaces& places,
                                 const std::function<bool(const std::string& path)>& exists) {
    const auto at = [&exists](const std::string& folder) { return SettingsLocation{folder, exists(settings_file_in(folder))}; };
    if (!places.working.empty() && exists(settings_file_in(places.working))) return {places.working, true};
    if (places.portable && !places.executable.empty()) return at(places.executable);
    if (!places.executable.empty() && exists(settings_file_in(places.executable))) return {places.executable, true};
    if (!places.per_user.empty()) return at(places.per_user);
    // Nowhere else to go: the working folder, as before there was a choice.
    return {places.working, false};
}

std::string per_user_settings_folder(const std::function<const char*(const char*)>& getenv, bool windows) {
    auto named = [&](const char* variable) -> std::string {
        const char* value = getenv(variable);
        return value != nullptr ? std::string(value) : std::string();
    };
    const char separator = windows ? '\\' : '/';
    auto under = [separator](std::string base, const char* name) {
        while (base.size() > 1 && (base.back() == '/' || base.back() == separator)) base.pop_back();
        return base + separator + name;
    };
    if (windows) {
        const std::string appdata = named("APPDATA");
        return appdata.empty() ? std::string() : under(appdata, "Zarvik");
    }
    // The XDG rule: a relative XDG_CONFIG_HOME is invalid and is ignored.
    const std::string config = named("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') return under(config, "zarvik");
    const std::string home = named("HOME");
    return home.empty() ? std::string() : under(under(home, ".config"), "zarvik");
}

bool is_installation_folder(const std::string& folder, const std::function<bool(const std::string& path)>& exists,
                            const std::string& program_files) {
    if (folder.empty()) return false;
    // The installer's uninstaller sits in the installation's top folder, the programs
    // in it or in its bin folder.
    if (exists(joined(folder, "Uninstall.exe"))) return true;
    std::string parent = folder;
    while (!parent.empty() && is_separator(parent.back())) parent.pop_back();
    const std::size_t cut = parent.find_last_of(kWindows ? "\\/" : "/");
    if (cut != std::string::npos && cut > 0 && exists(joined(parent.substr(0, cut), "Uninstall.exe"))) return true;
    if (kWindows) return starts_with_folder(folder, program_files);
    for (const char* prefix : {"/usr", "/opt"}) {
        if (starts_with_folder(folder, prefix)) return true;
    }
    return false;
}

SettingsPlaces settings_places_for(const std::string& executable_path) {
    SettingsPlaces places;
    std::error_code ec;
    places.working = u8(fs::current_path(ec));
    places.executable = u8(as_path(executable_path).parent_path());
    // Kept alive while the lookup below reads them.
    std::string value;
    places.per_user = per_user_settings_folder(
        [&value](const char* name) -> const char* {
            value = environment(name);
            return value.empty() ? nullptr : value.c_str();
        },
        kWindows);
    const std::string program_files = environment("ProgramFiles");
    // A portable copy on a medium it cannot write to (a CD, a locked share) keeps its
    // settings per user rather than losing them at every exit.
    places.portable = !places.executable.empty() && path_exists(joined(places.executable, kPortableMarkerName)) &&
                      !is_installation_folder(places.executable, path_exists, program_files) &&
                      folder_writable(places.executable);
    return places;
}

SettingsLocation locate_settings_here(const std::string& executable_path) {
    SettingsLocation location = locate_settings(settings_places_for(executable_path), path_exists);
    if (!location.found && !location.folder.empty()) {
        std::error_code ec;
        fs::create_directories(as_path(location.folder), ec);
    }
    return location;
}

}  // namespace zarvik
