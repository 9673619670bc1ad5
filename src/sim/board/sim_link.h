#pragma once

#include <cstdint>
#include <deque>

#include "link/byte_link.h"
#include "link/clock.h"
#include "sim/board/sim_loader.h"

namespace zarvik {

// Connects the host side to a SimLoader in the same process. Answers get arrival
// times (the chip's busy time, injected lateness and, when a speed is given, 10 bits
// a byte on the wire), and reads obey the same time-out rules as a serial port, on
// whatever clock is injected: a fake one in tests, the real one for --simulate.
class SimLink final : public ByteLink {
public:
    SimLink(SimLoader& loader, Clock& clock, int baud = 0, ReadTimeouts timeouts = {});

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> into) override;
    void discard_input() override;


private:
    std::int64_t byte_time_us() const;
    std::int64_t now_us() { return clock_.now_ms() * 1000; }
    void sleep_until_us(std::int64_t t);

    struct Pending {
        std::int64_t arrival_us;
        std::uint8_t byte;
    };
    SimLoader& loader_;
    Clock& clock_;
    int baud_;
    ReadTimeouts timeouts_;
    std::deque<Pending> pending_;
    std::size_t tentative_ = 0;    // bytes at the end of `pending_` that a next host byte withdraws
    std::int64_t tx_free_us_ = 0;  // when the host-to-chip line is idle again
    std::int64_t rx_free_us_ = 0;  // when the chip-to-host line is idle again
};

}  // namespace zarvik
