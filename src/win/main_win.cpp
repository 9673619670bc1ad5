// Twin in the Qt window: src/app/main.cpp with src/app/CVelborApp.cpp.
// zarvik.exe: the programmer's native Windows window.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "memory/file_kind.h"
#include "platform/system_language.h"
#include "platform/text_win.h"
#include "text/language.h"
#include "win/main_window.h"
#include "zarvik_version.h"

namespace {

std::string executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return zarvik::win::narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

std::string full_path(const std::string& name) {
    const std::wstring wide = zarvik::win::widen(name);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return name;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    full.resize(written);
    return zarvik::win::narrow(full);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(zarvik::win::narrow(wide[i]));
    LocalFree(wide);

    // Russian for a Russian Windows, English for any other, unless --lang says otherwise.
    zarvik::set_language(zarvik::system_language());
    zarvik::win::WindowOptions options;
    options.executable = executable_path();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::optional<zarvik::Language> asked;
        if (a == "--lang" && i + 1 < args.size()) {
            asked = zarvik::language_from_code(args[++i]);
        } else if (a.rfind("--lang=", 0) == 0) {
            asked = zarvik::language_from_code(a.substr(7));
        } else if (a == "--version") {
            MessageBoxW(nullptr, L"zarvik " ZARVIK_VERSION_W, L"Zarvik", MB_OK);
            return 0;
        } else {
            // A file dropped on the program's icon, or named by a shortcut.
            if (const auto memory = zarvik::memory_for_file(a)) {
                (*memory == zarvik::MemoryKind::Flash ? options.flash_file : options.eeprom_file) = full_path(a);
            }
        }
        if (asked) zarvik::set_language(*asked);
    }

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return zarvik::win::run_main_window(instance, options);
}
