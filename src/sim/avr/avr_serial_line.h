#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace zarvik {

// One direction of an asynchronous serial line, 8N1: frames as a transmitter puts them
// on the wire, and what a receiver that keeps its own speed reads from them. Like a
// UART's receiver it waits for a falling edge, checks the start bit and takes each bit
// as the majority of three samples around its middle; one whose speed is too far from
// the transmitter's reads wrong bits, or a low stop bit (a framing error), and may take
// an edge inside a frame for the next start bit.
//
// Times are in the board's clock cycles, fractional because a host's bit need not be a
// whole number of them.
class SerialLine {
public:
    // A frame whose start bit begins at `start`, each bit `bit` long. Frames come in
    // order and do not overlap.
    void send(double start, double bit, std::uint8_t byte);
    // When the last frame's stop bit ends: a new frame starts no earlier.
    double idle_from() const { return idle_from_; }

    struct Received {
        double sampled;       // the stop bit's last sample: the receiver has the byte
        double resume;        // its middle sample: from here a new start bit is seen
        double end;           // the end of the frame as the receiver times it
        std::uint8_t byte;
        bool framing_error;   // the stop bit read low
    };
    // What a receiver with bit time `bit`, sampling `samples` times a bit (16, or 8 at
    // double speed), reads next, as if nothing more were sent. Only the wire up to
    // `known_until` is final: false starts up to there are passed for good.
    std::optional<Received> next(double bit, int samples, double known_until);
    // Takes what next() returned: the receiver looks for the next start bit from the
    // middle of its stop bit.
    void take(const Received& received);

private:
    struct Frame {
        double start;
        double bit;
        std::uint8_t byte;
        double end() const { return start + 10 * bit; }
    };
    int level(double t) const;
    std::optional<double> falling_edge_from(double t) const;
    void forget_before(double t);

    std::deque<Frame> frames_;
    double idle_from_ = 0;
    double search_from_ = 0;
};

}  // namespace zarvik
