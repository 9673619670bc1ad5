#pragma once

#include "link/byte_link.h"
#include "link/clock.h"
#include "link/line_speed.h"
#include "sim/avr/avr_board.h"
#include "sim/board/usb_latency.h"

#include <deque>

namespace zarvik {

// The host's serial line to an AvrBoard in the same process, and the host's clock,
// both on the board's simulated time: a host sleep runs the core, a read runs it
// until the bytes have crossed the line or the port's time-outs have passed. Tests
// get the chip's real timing without ever sleeping. With a latency, what the chip
// sends reaches the host as through a USB adapter with that latency timer.
class AvrLink final : public ByteLink, public Clock, public LineSpeed {
public:
    AvrLink(AvrBoard& board, int baud, ReadTimeouts timeouts = {}, std::int64_t latency_ms = 0);

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> into) override;
    void discard_input() override;

    // The host's port at another speed, as the chip's receiver hears it from now on.
    bool set_baud(int baud) override {
        board_.set_host_baud(baud);
        return true;
    }

    std::int64_t now_ms() override;
    void sleep_ms(std::int64_t ms) override;
    std::int64_t now_us() const;

    // Bytes the chip sent that no read has taken yet.
    std::size_t pending() const { return board_.sent().size() + ready_.size(); }

private:
    std::uint64_t at_ms(std::int64_t ms) const;
    ReadResult read_through_adapter(std::span<std::uint8_t> into);
    void feed_adapter();

    AvrBoard& board_;
    ReadTimeouts timeouts_;
    LatencyBuffer adapter_;
    std::deque<std::uint8_t> ready_;  // delivered by the adapter, not yet read
};

}  // namespace zarvik
