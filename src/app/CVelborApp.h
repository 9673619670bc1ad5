// Twin in the Win32 window: src/win/main_win.cpp (the program's start and its message loop).
#pragma once

#include <QApplication>
#include <QStringList>

namespace zarvik {

// The application: runs the main window modally; the program ends with it.
class CVelborApp : public QApplication {
    Q_OBJECT

public:
    CVelborApp(int& argc, char** argv);

    // Runs the main window until it ends. `extra_ports` joins the port scan (a simulated
    // board's virtual port); `screenshot` saves the window as a PNG and ends instead;
    // `busy_screenshot` does so during an EEPROM erase on the first of `extra_ports`.
    // `files` (.hex, .elf, .eep) fill the flash and EEPROM paths.
    int init_instance(const QStringList& extra_ports, const QString& screenshot = {}, const QString& busy_screenshot = {},
                      const QStringList& files = {});
};

}  // namespace zarvik
