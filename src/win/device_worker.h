#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "loader/cancellation.h"
#include "loader/clock.h"
#include "programmer/programmer.h"
#include "serial/serial_port.h"

namespace zarvik::win {

// The port and the programmer live on a thread of their own, so that the window keeps
// painting and answering while an operation waits on the line. Tasks run there one
// after another, in the order posted; results come back to the window as posted
// messages.
class DeviceWorker {
public:
    DeviceWorker();
    ~DeviceWorker();
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    void post(std::function<void()> task);
    // Runs `task` there and waits: only for short work while no operation runs.
    void call(const std::function<void()>& task);

    // Only from tasks, or through `call`.
    SerialPort& port() { return *port_; }
    Programmer& programmer() { return *programmer_; }
    ProgrammerState& state() { return *state_; }
    // A new line: the chip's identity is asked again before it is touched.
    void forget_device();

    Cancellation& cancellation() { return cancel_; }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    SteadyClock clock_;
    Cancellation cancel_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<ProgrammerState> state_;
    std::optional<Programmer> programmer_;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace zarvik::win
