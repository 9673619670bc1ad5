#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zarvik {

// How long a read may wait: it ends when all bytes have come, `total_constant_ms +
// per_byte_ms * N` after it began, or `interval_ms` after a byte with no further
// byte (that rule counts only once the first byte has come).
struct ReadTimeouts {
    std::int64_t total_constant_ms = 50;
    std::int64_t per_byte_ms = 50;
    std::int64_t interval_ms = 50;

    std::int64_t total_for(std::size_t n) const { return total_constant_ms + per_byte_ms * static_cast<std::int64_t>(n); }
};

struct ReadResult {
    std::size_t count = 0;   // bytes that arrived, at the front of the buffer
    bool line_lost = false;  // the port is gone (adapter pulled, simulator ended)
    bool interrupted = false;  // a stop was requested while waiting (Ctrl-C)
};

// The wire to the loader: a serial port, a pseudo-terminal, or an in-process simulator.
class ByteLink {
public:
    virtual ~ByteLink() = default;
    // Writes all bytes; false when the line is gone.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Reads up to `into.size()` bytes within the time-outs above.
    virtual ReadResult read(std::span<std::uint8_t> into) = 0;
    // Drops whatever has arrived and not been read: a late answer to an earlier
    // exchange must never be taken for the answer to a new one.
    virtual void discard_input() = 0;
};

}  // namespace zarvik
