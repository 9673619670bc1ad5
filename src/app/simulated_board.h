#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "sim/board/sim_loader.h"
#include "sim/pty/pty_server.h"

namespace zarvik {

// A simulated board with the resident loader on a virtual serial port, served from a
// thread of this process, for everyone without hardware.
class SimulatedBoard {
public:
    explicit SimulatedBoard(const DeviceModel& model, LoaderKind kind = LoaderKind::Ours);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    bool start();
    QString port() const { return QString::fromStdString(server_.path()); }

private:
    SimLoader loader_;
    PtyServer server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace zarvik
