#pragma once

#include <functional>
#include <string>

#include "presenter/link_state.h"
#include "presenter/operation_runner.h"
#include "presenter/panel_views.h"
#include "presenter/settings_file.h"

namespace zarvik {

// The window's end: «Выход» and the close box ask first while an operation runs (and
// refuse while the loader's first block is written), then the port is let go, the
// settings are saved and the window closes. The question waits for its answer even
// when the operation ends first: a close that was asked for is never lost. Also the settings file's reading at start.
class ExitSequence {
public:
    // `collect` gives what the window holds now, to be saved; `close_port` lets go of
    // the port.
    ExitSequence(ExitView& view, OperationRunner& runner, std::string settings_folder,
                 std::function<LoaderSettings()> collect, std::function<void()> close_port);

    // Reads Zarvik.ini (making its folder on a first run). When it is there but cannot
    // be read, the defaults stand in and `unreadable` says why.
    LoaderSettings read_settings(std::string& unreadable);

    // «Выход» or the close box.
    void on_close();
    // Called when an operation ends: true when the exit takes over (the user asked to
    // close during it).
    bool operation_ended();

    Life life() const { return life_; }

private:
    void run();

    ExitView& view_;
    OperationRunner& runner_;
    std::string folder_;
    std::function<LoaderSettings()> collect_;
    std::function<void()> close_port_;
    Life life_ = Life::Running;
    // Zarvik.ini was there but could not be read: its defaults are not written back.
    bool unreadable_ = false;
};

}  // namespace zarvik
