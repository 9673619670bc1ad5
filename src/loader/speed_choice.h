#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zarvik {

// The speeds the host may ask our loader for, highest first: those common serial
// adapters run at above the ten of the plain protocol.
inline constexpr int kFastLineSpeeds[] = {2'000'000, 1'000'000, 921'600, 500'000, 460'800, 250'000, 230'400};

// The UART divisor (UBRR with double speed) that makes `baud` at `clock_hz`, when the
// chip makes it within 2.5 % and it leaves at least 160 cycles a byte (what the loader
// needs to check and answer at the speed of the line); nothing otherwise.
std::optional<std::uint16_t> divisor_for(std::uint32_t clock_hz, int baud);

// The speeds above `base_baud` and at most `max_baud` (0: none) that the chip makes at
// `clock_hz`, highest first, into `out`; how many.
std::size_t speeds_to_offer(std::uint32_t clock_hz, int base_baud, int max_baud, std::span<int> out);

}  // namespace zarvik
