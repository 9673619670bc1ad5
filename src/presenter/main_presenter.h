#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loader/clock.h"
#include "memory/memory_image.h"
#include "presenter/device_port.h"
#include "presenter/main_view.h"
#include "programmer/programmer_state.h"

namespace zarvik {

// What the presenter needs from the system, injected so that its tests use their own.
struct PresenterEnvironment {
    // The port scan: the names of the ports that can be used now, in any order.
    std::function<std::vector<std::string>()> scan_ports;
    // What the port list shows beside a name (an adapter's description); may be empty.
    std::function<std::string(const std::string&)> describe_port;
    // Makes the port the device thread talks through; the serial port when not given.
    std::function<std::unique_ptr<DevicePort>(Clock&)> make_port;
    // The device thread's clock; a steady clock when not given. Must outlive the
    // presenter.
    Clock* clock = nullptr;
    // The folder Zarvik.ini is read from at start and written to at exit.
    std::string settings_folder;
    // Where the help file is looked for, in order (the working folder, beside the
    // program, an installation's share folder). Help.txt in Russian, Help_en.txt in English.
    std::vector<std::string> help_folders;
};

// Everything the main window decides: its state, which controls are enabled, the flow
// of every button, the phase and status texts, the questions it asks, the settings
// file, the port list and its rescans. The port and the programmer live on a device
// thread of the presenter's own, so the window keeps painting while an operation waits
// on the line; what the device thread reports comes back through
// MainView::post_to_ui and is shown on the window's thread.
//
// The window (Qt or Win32) only shows what it is told and passes on, on its own thread,
// what the user does; it never looks at the programmer's state to decide anything.
class MainPresenter {
public:
    // How often the view calls on_scan_tick while the scan timer runs.
    static constexpr int kScanIntervalMs = 10;

    MainPresenter(MainView& view, PresenterEnvironment environment);
    // Stops an operation under way (after its current exchange) and waits for it.
    ~MainPresenter();
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    // The start-up sequence: fills the lists, reads the settings file, checks for the
    // help file, starts the port scan. Once, when the view is ready to be shown.
    void start();

    // --- What the user did ---
    // A button or menu command, by id: kConnect, kExit, kStartProgram, kFlash*/kEeprom*
    // Erase/Write/Verify/Read/Browse, kConfigureLoader, kStop, kHelpCommand, kAboutCommand.
    void on_command(int id);
    // An item of kPortList, kSpeedList or kModelList chosen by the user.
    void on_choice(int id, int index);
    // The user typed in kFosc or kTimeout; `text` is the edit's whole text.
    void on_text_edited(int id, const std::string& text);
    // The port list is about to drop down: it is scanned again.
    void on_port_list_opening();
    // The system says a device came or went (WM_DEVICECHANGE and the like).
    void on_devices_changed();
    void on_scan_tick();
    // Esc: «Стоп» while an operation runs, otherwise the exit.
    void on_escape();
    // The close box or «Выход»: the exit sequence; during an operation it asks first.
    void on_close();
    // Files dropped onto the window or given on its command line: a .eep fills the
    // EEPROM path, a .hex or .elf the flash path; others are ignored.
    void on_files_given(const std::vector<std::string>& paths);
    // The session ends (log-off, shutdown): requests a stop and waits, on the calling
    // thread, until the operation under way has ended, so that a span that must not be
    // cut short (the loader's first block) is finished. Returns at once when idle.
    void on_session_ending();

    // --- What the view may read ---
    bool busy() const;
    bool scanning() const;
    bool port_open() const;
    // The link answered the last handshake and nothing since says it is gone.
    bool connected() const;
    // The text the presenter last gave a control (kStatusLine, kConnectionLine, kFosc,
    // kTimeout, kFlashPath, kEepromPath).
    std::string text(int id) const;
    // A copy of the programmer's state, taken on the device thread. While idle only.
    ProgrammerState programmer_state() const;

    // The controls disabled while an operation runs.
    static const std::vector<int>& controls_locked_while_busy();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zarvik
