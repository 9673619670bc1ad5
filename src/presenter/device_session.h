#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/cancellation.h"
#include "link/clock.h"
#include "presenter/device_port.h"
#include "presenter/device_worker.h"
#include "presenter/panel_views.h"
#include "programmer/programmer.h"
#include "programmer/programmer_state.h"

namespace zarvik {

// What the presenters need from the system, injected so that their tests use their own.
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
    // The user's documents: where the first file dialog opens.
    std::string documents_folder;
};

// The port and the programmer, which live on a device thread of their own so that the
// window keeps painting while an exchange waits on the line. What the device thread
// reports goes back to the window's thread through to_ui.
class DeviceSession {
public:
    DeviceSession(UiThread& ui, const PresenterEnvironment& environment);
    // The device thread ends after the exchange under way; nothing it still posts runs.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Runs `task` on the window's thread unless the session is gone by then.
    void to_ui(std::function<void()> task);
    // Runs `task` on the device thread, after what was posted before it.
    void post(std::function<void()> task) { worker_.post(std::move(task)); }
    // Runs `task` there and waits: short work only, while nothing else runs.
    void call(const std::function<void()>& task) { worker_.call(task); }

    // Only on the device thread. A new line: the chip's identity is asked again before
    // it is touched.
    void forget_device();

    Cancellation& cancel() { return cancel_; }
    DevicePort& port() { return *port_; }
    Programmer& programmer() { return *programmer_; }
    // The programmer's state: on the device thread, or while idle.
    ProgrammerState& state() { return state_; }

private:
    UiThread& ui_;
    SteadyClock steady_;
    Clock& clock_;
    Cancellation cancel_;
    ProgrammerState state_;
    std::unique_ptr<DevicePort> port_;
    std::optional<Programmer> programmer_;
    // What the device thread posts runs only while this lives.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Last, so that it is the first to go: the thread ends before what its tasks use.
    DeviceWorker worker_;
};

}  // namespace zarvik
