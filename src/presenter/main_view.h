#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "memory/memory_image.h"
#include "presenter/control_ids.h"

namespace zarvik {

// One entry of a drop-down list: the text shown and a tooltip (an adapter's
// description for a port), which may be empty.
struct ListItem {
    std::string text;
    std::string tooltip;

    bool operator==(const ListItem&) const = default;
};

enum class FileDialogMode { Open, Save };

// A file dialog the presenter asks of the view. The filter is one entry:
// `filter_name` ("Файлы программной памяти flash") with the `pattern` ("*.hex").
// A save dialog asks before replacing a file the user picked; the extension the
// presenter adds afterwards is the presenter's to check.
struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    MemoryKind memory = MemoryKind::Flash;
    std::string filter_name;
    std::string pattern;
};

// The help window: its caption and the whole text to show, read-only, lines wrapped.
struct HelpContent {
    std::string title;
    std::string text;
};

// The About box's caption and its three centred lines.
struct AboutContent {
    std::string title;
    std::string name;
    std::string version;
    std::string date;
};

// What the main window is to the presenter: a dumb view that shows what it is told
// and passes on what the user does (see MainPresenter). Every text is UTF-8, already
// in the user's language. Controls are named by their template ids (control_ids.h).
//
// Every member except post_to_ui is called on the window's thread only.
class MainView {
public:
    virtual ~MainView() = default;

    // Runs `task` on the window's thread, after the tasks posted before it, from any
    // thread. Tasks still queued when the window is gone are dropped.
    virtual void post_to_ui(std::function<void()> task) = 0;

    // The text of a label, an edit or a line: kStatusLine, kConnectionLine, kFosc,
    // kTimeout, kFlashPath, kEepromPath. Setting the text a control already shows should
    // not repaint it: the port scan repeats its line every tick.
    virtual void set_text(int id, const std::string& text) = 0;
    // Enables or disables a button, list or edit, kStop included.
    virtual void set_enabled(int id, bool enabled) = 0;
    // The items of kPortList, kSpeedList or kModelList; the selection is then none
    // until set_selection.
    virtual void set_items(int id, const std::vector<ListItem>& items) = 0;
    // The selected item of a list; -1 shows none.
    virtual void set_selection(int id, int index) = 0;
    // A progress bar (kFlashProgress, kEepromProgress): `value` of `maximum`, maximum >= 1.
    virtual void set_progress(int id, std::uint32_t value, std::uint32_t maximum) = 0;
    // An operation runs: a busy cursor, and the keyboard focus on «Стоп»; afterwards the
    // normal cursor, and the focus back where it was if that control is enabled.
    virtual void set_busy(bool busy) = 0;
    // While running, the view calls MainPresenter::on_scan_tick every
    // MainPresenter::kScanIntervalMs milliseconds.
    virtual void set_scan_timer(bool running) = 0;

    // A message box with an OK button and no icon; returns when it is closed.
    virtual void show_message(const std::string& caption, const std::string& text) = 0;
    // A Yes/No question, No the default and the answer to Esc or the close box; returns
    // when it is answered. While it is open, posted tasks keep running.
    virtual bool ask_yes_no(const std::string& caption, const std::string& text) = 0;
    // Closes the question that is open, if any, as answered No. Called from a posted
    // task while ask_yes_no is waiting, when what it asked about is over.
    virtual void close_question() = 0;
    // An open or save dialog; the chosen path, or nothing when it was cancelled.
    virtual std::optional<std::string> choose_file(const FileDialogRequest& request) = 0;

    virtual void show_help(const HelpContent& help) = 0;
    virtual void show_about(const AboutContent& about) = 0;

    // The exit sequence has run: the window closes and the program ends.
    virtual void close_window() = 0;
};

}  // namespace zarvik
