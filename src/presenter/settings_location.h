#pragma once

#include <functional>
#include <string>

namespace zarvik {

// Where Zarvik.ini lives. A copy unpacked into a folder keeps its settings beside
// itself; an installed copy cannot write under Program Files or /usr, and a desktop
// launch starts in the home folder, so the working folder alone will not do.
//
// The folders a search looks at, each without a trailing separator.
struct SettingsPlaces {
    std::string working;     // the process's current folder
    std::string executable;  // the folder of the running program
    std::string per_user;    // %APPDATA%\Zarvik on Windows, $XDG_CONFIG_HOME/zarvik elsewhere
    // The program's folder may hold a new file and is not an installation's.
    bool executable_takes_settings = false;
};

struct SettingsLocation {
    std::string folder;
    bool found = false;  // a Zarvik.ini was already there
};

// The working folder first, then the program's, then the per-user one: the first that
// holds a Zarvik.ini (anything of that name counts, so a file the user cannot read is
// never overwritten with the defaults). When none does, the program's folder if it
// takes settings, otherwise the per-user one.
SettingsLocation locate_settings(const SettingsPlaces& places,
                                 const std::function<bool(const std::string& path)>& exists);

// The per-user folder from the environment: APPDATA on Windows; XDG_CONFIG_HOME, else
// HOME/.config, elsewhere. Empty when the environment names neither.
std::string per_user_settings_folder(const std::function<const char*(const char*)>& getenv, bool windows);

// An installed copy: its folder, or the folder above it, holds the uninstaller the
// installer put there, or it lies under a system prefix (Program Files, /usr, /opt).
bool is_installation_folder(const std::string& folder, const std::function<bool(const std::string& path)>& exists,
                            const std::string& program_files = {});

// The places for this process, from its environment and file system. `executable_path`
// is the running program's full path.
SettingsPlaces settings_places_for(const std::string& executable_path);
SettingsLocation locate_settings_here(const std::string& executable_path);

// folder + separator + name.
std::string settings_file_in(const std::string& folder);

}  // namespace zarvik
