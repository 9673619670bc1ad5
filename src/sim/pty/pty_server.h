#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "sim/board/sim_loader.h"
#include "sim/pty/board_pty.h"

namespace zarvik {

// Serves a SimLoader on a new pseudo-terminal, in real time.
class PtyServer {
public:
    // `latency_us` above 0 hands answers over as a USB adapter with that latency timer
    // would.
    explicit PtyServer(SimLoader& loader, bool emulate_wire = false, std::int64_t latency_us = 0);
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pseudo-terminal; false with a reason in error() on failure.
    bool open();
    // The path a host opens, such as /dev/pts/4.
    const std::string& path() const { return pty_.path(); }
    const std::string& error() const { return error_; }

    // Serves until `stop` becomes true or the simulated line goes away. `reset`, when
    // given, is the reset button: set (from a signal handler), it is pressed once.
    void serve(const std::atomic<bool>& stop, std::atomic<bool>* reset = nullptr);

private:
    SimLoader& loader_;
    bool emulate_wire_;
    std::int64_t latency_us_;
    BoardPty pty_;
    std::string error_;
};

}  // namespace zarvik
