#include "loader/speed_choice.h"

#include <cmath>

namespace zarvik {

std::optional<std::uint16_t> divisor_for(std::uint32_t clock_hz, int baud) {
    if (baud <= 0 || clock_hz == 0) return std::nullopt;
    // Ten bits a byte: at least 160 cycles each.
    if (static_cast<std::uint64_t>(clock_hz) * 10 < static_cast<std::uint64_t>(baud) * 160) return std::nullopt;
    const double exact = static_cast<double>(clock_hz) / (8.0 * baud);
    const long rounded = std::lround(exact);
    if (rounded < 1 || rounded > 4096) return std::nullopt;
    const double actual = static_cast<double>(clock_hz) / (8.0 * static_cast<double>(rounded));
    if (std::fabs(actual - baud) > 0.025 * baud) return std::nullopt;
    return static_cast<std::uint16_t>(rounded - 1);
}

std::size_t speeds_to_offer(std::uint32_t clock_hz, int base_baud, int max_baud, std::span<int> out) {
    std::size_t n = 0;
    for (const int baud : kFastLineSpeeds) {
        if (baud <= base_baud || (max_baud > 0 && baud > max_baud) || n == out.size()) continue;
        if (divisor_for(clock_hz, baud)) out[n++] = baud;
    }
    return n;
}

}  // namespace zarvik
