#pragma once

#include <memory>
#include <string>
#include <vector>

#include "presenter/device_session.h"
#include "presenter/link_state.h"
#include "presenter/main_view.h"
#include "programmer/programmer_state.h"

namespace zarvik {

// The main window's presenter. It routes what the user does to the presenter of the
// panel concerned, each with a view interface of its own (panel_views.h):
//  - PortPanel: the port scan and list, the speed and model lists, the reset through
//    DTR, «Соединить», «Старт программы», the connection line;
//  - OperationRunner: operations on the device thread, their progress, the refusals
//    asked about and run again, what is locked meanwhile, «Стоп»;
//  - FilePanel: the file paths and their dialogs;
//  - ExitSequence: closing, its question, the settings file;
//  - the window's texts (window_texts.h).
// It keeps the start-up, Help and About, and the loader's two texts.
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

    // The start-up sequence: fills the lists, reads the settings file (and with it the
    // last run's choices), checks for the help file, starts the port scan. Once, when
    // the view is ready to be shown.
    void start();

    // --- What the user did ---
    // A button or menu command, by id: kConnect, kExit, kStartProgram, kFlash*/kEeprom*
    // Erase/Write/Verify/Read/Browse, kConfigureLoader, kStop, kHelpCommand, kAboutCommand.
    void on_command(int id);
    // An item of kPortList, kSpeedList or kModelList chosen by the user.
    void on_choice(int id, int index);
    // The user ticked or cleared a check box (kResetDtr).
    void on_checked(int id, bool checked);
    // The user typed in kFosc or kTimeout; `text` is the edit's whole text.
    void on_text_edited(int id, const std::string& text);
    // The port list is about to drop down: it is scanned again.
    void on_port_list_opening();
    // The system says a device came or went (WM_DEVICECHANGE and the like).
    void on_devices_changed();
    void on_scan_tick();
    // Esc: «Стоп» while an operation runs, otherwise nothing. It never ends the program
    // (a view lets an open drop-down list have it first).
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
    Link link() const;
    Life life() const;
    // The text the presenter last gave a control (kStatusLine, kConnectionLine, kFosc,
    // kTimeout, kFlashPath, kEepromPath).
    std::string text(int id) const;
    // The whole path of a memory's file (the field may show only its end).
    std::string file_path(MemoryKind memory) const;
    // A copy of the programmer's state, taken on the device thread. While idle only.
    ProgrammerState programmer_state() const;

    // The controls disabled while an operation runs.
    static const std::vector<int>& controls_locked_while_busy();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zarvik
