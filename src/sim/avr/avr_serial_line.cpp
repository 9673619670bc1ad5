#include "sim/avr/avr_serial_line.h"

#include <cmath>

namespace zarvik {

void SerialLine::send(double start, double bit, std::uint8_t byte) {
    frames_.push_back({start, bit, byte});
    idle_from_ = frames_.back().end();
}

int SerialLine::level(double t) const {
    for (const Frame& f : frames_) {
        if (t < f.start) return 1;
        if (t >= f.end()) continue;
        // The bit's index as falling_edge_from() places the edges (start + i * bit):
        // a division alone may round an edge into the bit before it.
        int k = static_cast<int>((t - f.start) / f.bit);
        if (f.start + (k + 1) * f.bit <= t) ++k;
        if (k > 0 && f.start + k * f.bit > t) --k;
        if (k == 0) return 0;
        if (k <= 8) return (f.byte >> (k - 1)) & 1;
        return 1;
    }
    return 1;  // idle
}

std::optional<double> SerialLine::falling_edge_from(double t) const {
    for (const Frame& f : frames_) {
        if (f.end() <= t) continue;
        if (f.start >= t) return f.start;
        // Inside a frame: a data bit of 0 after a 1 (the start bit is low already).
        for (int i = 2; i <= 8; ++i) {
            const double edge = f.start + i * f.bit;
            if (edge < t) continue;
            if (((f.byte >> (i - 2)) & 1) == 1 && ((f.byte >> (i - 1)) & 1) == 0) return edge;
        }
    }
    return std::nullopt;
}

void SerialLine::forget_before(double t) {
    while (!frames_.empty() && frames_.front().end() <= t) frames_.pop_front();
}

std::optional<SerialLine::Received> SerialLine::next(double bit, int samples, double known_until) {
    const double tick = bit / samples;
    // Samples 8, 9 and 10 of 16 (4, 5 and 6 of 8) decide a bit.
    const int first = samples / 2;
    double from = search_from_;
    bool final_so_far = true;
    for (;;) {
        const auto edge = falling_edge_from(from);
        if (!edge) return std::nullopt;
        // The receiver sees the edge at its next sample, never before the edge itself,
        // however the division rounds.
        double seen = std::ceil(*edge / tick) * tick;
        if (seen < *edge) seen += tick;
        auto at = [&](int bit_index, int sample) { return seen + (bit_index * samples + sample - 1) * tick; };
        auto vote = [&](int bit_index) {
            return level(at(bit_index, first)) + level(at(bit_index, first + 1)) + level(at(bit_index, first + 2)) >= 2;
        };
        double passed = 0;
        if (level(seen) == 1) {
            passed = seen;  // a pulse shorter than a sample
        } else if (vote(0)) {
            passed = at(0, first + 2);  // a spike, not a start bit
        } else {
            std::uint8_t byte = 0;
            for (int i = 1; i <= 8; ++i) {
                if (vote(i)) byte = static_cast<std::uint8_t>(byte | (1u << (i - 1)));
            }
            return Received{at(9, first + 2), at(9, first + 1), seen + 10 * bit, byte, !vote(9)};
        }
        // Each turn searches past this edge, or a rounding could find it again for ever.
        if (passed <= *edge) passed = std::nextafter(*edge, HUGE_VAL);
        from = passed;
        if (final_so_far && passed <= known_until) {
            search_from_ = passed;
            forget_before(passed);
        } else {
            final_so_far = false;
        }
    }
}

void SerialLine::take(const Received& received) {
    search_from_ = received.resume;
    forget_before(received.resume);
}

}  // namespace zarvik
