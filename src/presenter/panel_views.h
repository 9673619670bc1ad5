#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "memory/memory_image.h"
#include "presenter/control_ids.h"

namespace zarvik {

// What each presenter of the main window needs of it, one interface per presenter.
// They share the controls (ControlView) and the message boxes (MessageView); the window
// implements them all through MainView (main_view.h). Every text is UTF-8, already in
// the user's language; controls are named by their template ids (control_ids.h). All
// is called on the window's thread only.

// One entry of a drop-down list: the text shown and a tooltip (an adapter's
// description for a port), which may be empty.
struct ListItem {
    std::string text;
    std::string tooltip;

    bool operator==(const ListItem&) const = default;
};

class ControlView {
public:
    virtual ~ControlView() = default;
    // The text of a label, an edit or a line: kStatusLine, kConnectionLine, kFosc,
    // kTimeout, kFlashPath, kEepromPath. Setting the text a control already shows should
    // not repaint it: the port scan repeats its line every tick.
    virtual void set_text(int id, const std::string& text) = 0;
    // What shows when the mouse rests on a control (kFlashPath, kEepromPath); empty: none.
    virtual void set_tooltip(int id, const std::string& text) = 0;
    // Enables or disables a button, list or edit, kStop included.
    virtual void set_enabled(int id, bool enabled) = 0;
    // The items of kPortList, kSpeedList or kModelList; the selection is then none
    // until set_selection.
    virtual void set_items(int id, const std::vector<ListItem>& items) = 0;
    // The selected item of a list; -1 shows none.
    virtual void set_selection(int id, int index) = 0;
    // Ticks or clears a check box (kResetDtr).
    virtual void set_checked(int id, bool checked) = 0;
};

class MessageView {
public:
    virtual ~MessageView() = default;
    // A message box with an OK button and no icon; returns when it is closed.
    virtual void show_message(const std::string& caption, const std::string& text) = 0;
    // A Yes/No question, No the default and the answer to Esc or the close box; returns
    // when the user has answered it, and only then: nothing closes it meanwhile. While it
    // is open, posted tasks keep running.
    virtual bool ask_yes_no(const std::string& caption, const std::string& text) = 0;
};

// The port panel: the port, speed and model lists, the connection line, the scan.
class PortPanelView : public virtual ControlView, public virtual MessageView {
public:
    // While running, the view calls MainPresenter::on_scan_tick every
    // MainPresenter::kScanIntervalMs milliseconds.
    virtual void set_scan_timer(bool running) = 0;
};

// The operation runner: the status line, the progress bars, what is locked meanwhile.
class OperationView : public virtual ControlView, public virtual MessageView {
public:
    // A progress bar (kFlashProgress, kEepromProgress): `value` of `maximum`, maximum >= 1.
    virtual void set_progress(int id, std::uint32_t value, std::uint32_t maximum) = 0;
    // An operation runs: a busy cursor, and the keyboard focus on «Стоп»; afterwards the
    // normal cursor, and the focus back where it was if that control is enabled.
    virtual void set_busy(bool busy) = 0;
};

enum class FileDialogMode { Open, Save };

// One entry of a file dialog's list of types: its name and the extensions it shows,
// without dots ("hex", "elf"); no extensions means every file.
struct FileFilter {
    std::string name;
    std::vector<std::string> extensions;

    bool operator==(const FileFilter&) const = default;
};

// A file dialog the presenter asks of the view: the types to offer, in order (the first
// is chosen), and the folder it opens in. A save dialog asks before replacing a file
// the user picked, and adds `default_extension` to a name typed without one; the
// extension the presenter adds afterwards is the presenter's to check.
struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    MemoryKind memory = MemoryKind::Flash;
    std::vector<FileFilter> filters;
    std::string folder;
    std::string default_extension;
};

// The file panel: both file paths and their dialogs.
class FileView : public virtual ControlView, public virtual MessageView {
public:
    // An open or save dialog; the chosen path, or nothing when it was cancelled.
    virtual std::optional<std::string> choose_file(const FileDialogRequest& request) = 0;
};

// The exit sequence.
class ExitView : public virtual MessageView {
public:
    // The exit sequence has run: the window closes and the program ends.
    virtual void close_window() = 0;
};

// The window's thread, for what the device thread hands back.
class UiThread {
public:
    virtual ~UiThread() = default;
    // Runs `task` on the window's thread, after the tasks posted before it, from any
    // thread. Tasks still queued when the window is gone are dropped.
    virtual void post_to_ui(std::function<void()> task) = 0;
};

}  // namespace zarvik
