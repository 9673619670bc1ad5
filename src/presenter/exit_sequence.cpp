#include "presenter/exit_sequence.h"

#include <filesystem>
#include <system_error>

#include "presenter/window_texts.h"
#include "programmer/status_texts.h"

namespace zarvik {
namespace {

namespace wt = window_text;

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return (std::filesystem::path(folder) / name).string();
}

}  // namespace

ExitSequence::ExitSequence(ExitView& view, OperationRunner& runner, std::string settings_folder,
                           std::function<LoaderSettings()> collect, std::function<void()> close_port)
    : view_(view),
      runner_(runner),
      folder_(std::move(settings_folder)),
      collect_(std::move(collect)),
      close_port_(std::move(close_port)) {}

LoaderSettings ExitSequence::read_settings(std::string& unreadable) {
    // A per-user folder may not be there yet on a first run.
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::create_directories(folder_, ignored);
    unreadable.clear();
    LoaderSettings settings = load_settings(folder_, &unreadable);
    unreadable_ = !unreadable.empty();
    if (unreadable_) unreadable = wt::fill(wt::kSettingsUnreadable, {join_path(folder_, kSettingsFileName), unreadable});
    return settings;
}

void ExitSequence::on_close() {
    if (life_ != Life::Running) return;
    if (!runner_.busy()) {
        run();
        return;
    }
    if (runner_.question_open()) return;
    if (runner_.holding_loader_block()) {
        view_.show_message(tr_string("status", kWarningCaption), tr_string("window", wt::kCannotCloseNow));
        return;
    }
    // The question stays until it is answered, also when the operation ends meanwhile:
    // then Yes closes at once, and No keeps the window with what the operation said.
    if (!runner_.ask(tr_string("window", wt::kAskStopAndClose))) {
        runner_.show_held_back();
        return;
    }
    if (!runner_.busy()) {
        run();
        return;
    }
    life_ = Life::Closing;
    runner_.request_stop();
}

bool ExitSequence::operation_ended() {
    if (life_ != Life::Closing) return false;
    run();
    return true;
}

void ExitSequence::run() {
    if (life_ == Life::Closed) return;
    life_ = Life::Closed;
    close_port_();
    const LoaderSettings now = collect_();
    // A file that was there but could not be read keeps what it holds, unless the user
    // typed values of their own to replace the defaults that stood in for it.
    const LoaderSettings defaults;
    const bool keep_unreadable = unreadable_ && now.fosc == defaults.fosc && now.timeout == defaults.timeout;
    if (!keep_unreadable) {
        if (auto error = save_settings(folder_, now)) {
            view_.show_message(tr_string("status", kErrorCaption),
                               wt::fill(wt::kSettingsNotSaved, {join_path(folder_, kSettingsFileName), *error}));
        }
    }
    view_.close_window();
}

}  // namespace zarvik
