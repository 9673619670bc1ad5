// Twin in the Qt window: src/app/CVelborDlg.h.
#pragma once

#include <windows.h>

#include <string>

namespace zarvik::win {

struct WindowOptions {
    std::string executable;   // the running program's full path, UTF-8
    std::string flash_file;   // given on the command line
    std::string eeprom_file;
};

// Runs the main dialog until it ends; returns the process's exit code.
int run_main_window(HINSTANCE instance, const WindowOptions& options);

}  // namespace zarvik::win
