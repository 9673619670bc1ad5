#pragma once

#include <functional>
#include <string>

namespace zarvik {

// Where Zarvik.ini lives. A portable copy (the unpacked .zip) keeps its settings beside
// itself, whatever an installed copy keeps per user; an installed copy cannot write under
// Program Files or /usr, and a desktop launch starts in the home folder, so the working
// folder alone will not do.
//
// A portable copy is known by this file beside the program, which the .zip carries and
// the installer does not leave behind. A text file, so that a user who wonders what it
// is can open it and read why it is there.
inline constexpr const char* kPortableMarkerName = "portable.txt";

// The folders a search looks at, each without a trailing separator.
struct SettingsPlaces {
    std::string working;     // the process's current folder
    std::string executable;  // the folder of the running program
    std::string per_user;    // %APPDATA%\Zarvik on Windows, $XDG_CONFIG_HOME/zarvik elsewhere
    // The program's folder holds the portable marker, is no installation's and may hold
    // a new file.
    bool portable = false;
};

struct SettingsLocation {
    std::string folder;
    bool found = false;  // a Zarvik.ini was already there
};

// A Zarvik.ini in the working folder first, where the file has always been looked for
// (anything of that name counts, so a file the user cannot read is never overwritten
// with the defaults). Then a portable copy's own folder, found or made there: never the
// per-user file, which belongs to an installed copy. Then, for any other copy, a file
// already beside the program (an unpacked copy from before copies were marked), else
// the per-user folder, found or made there.
SettingsLocation locate_settings(const SettingsPlaces& places,
                                 const std::function<bool(const std::string& path)>& exists);

// The per-user folder from the environment: APPDATA on Windows; XDG_CONFIG_HOME, else
// HOME/.config, elsewhere. Empty when the environment names neither.
std::string per_user_settings_folder(const std::function<const char*(const char*)>& getenv, bool windows);

// An installed copy: its folder, or the folder above it, holds the uninstaller the
// installer put there, or it lies under a system prefix (Program Files, /usr, /opt).
// A marker found there anyway (copied in by hand) does not make it portable.
bool is_installation_folder(const std::string& folder, const std::function<bool(const std::string& path)>& exists,
                            const std::string& program_files = {});

// The places for this process, from its environment and file system. `executable_path`
// is the running program's full path.
SettingsPlaces settings_places_for(const std::string& executable_path);
SettingsLocation locate_settings_here(const std::string& executable_path);

// folder + separator + name.
std::string settings_file_in(const std::string& folder);

}  // namespace zarvik
