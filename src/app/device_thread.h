#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

#include "loader/cancellation.h"
#include "loader/clock.h"
#include "programmer/programmer.h"
#include "serial/serial_port.h"

namespace zarvik {

// Runs the tasks posted to it, in order, on the thread it lives on; those still queued
// when it is destroyed are dropped.
class TaskRunner : public QObject {
public:
    using QObject::QObject;
    void post(std::function<void()> task);

protected:
    bool event(QEvent* event) override;
};

// The port and the programmer live on a thread of their own, so that the window keeps
// painting and answering while an operation waits on the line. Everything that touches
// the port runs there, one task after another; the port's Qt notifier belongs to that
// thread too, so it never reads behind an exchange's back.
class DeviceThread {
public:
    DeviceThread();
    ~DeviceThread();
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;

    // Runs `task` on the device thread after the tasks posted before it.
    void post(std::function<void()> task);
    // Runs `task` there and waits for it: only for short work while nothing else runs.
    void call(const std::function<void()>& task);

    // Only from tasks, or through `call` while no task runs.
    SerialPort& port() { return *port_; }
    Programmer& programmer() { return *programmer_; }
    ProgrammerState& state() { return *state_; }
    // A new line: the chip's identity is asked again before it is touched.
    void forget_device();

    // Shared with the window's thread: the stop request and its holds.
    Cancellation& cancellation() { return cancel_; }

private:
    QThread thread_;
    TaskRunner* anchor_ = nullptr;  // lives on the thread; tasks run in its context
    SteadyClock clock_;
    Cancellation cancel_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<ProgrammerState> state_;
    std::optional<Programmer> programmer_;
};

}  // namespace zarvik
