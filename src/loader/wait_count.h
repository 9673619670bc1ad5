#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zarvik {

// The loader waits for the host after a reset by counting down a 24-bit number held
// in the immediates of six instructions, twice, in its first 128-byte block.
inline constexpr std::int32_t kMaxWaitCount = 16'700'000;
inline constexpr std::array<std::size_t, 3> kWaitCountOffsetsFirst{48, 50, 54};
inline constexpr std::array<std::size_t, 3> kWaitCountOffsetsSecond{82, 84, 88};

struct WaitCount {
    enum class Kind { Ok, TooLarge, Negative, NotANumber };
    Kind kind = Kind::Ok;
    std::int32_t count = 0;
    std::string fosc_text;     // the texts with decimal commas turned into points
    std::string timeout_text;
};

// Replaces every decimal comma by a point: "7,3728" becomes "7.3728".
std::string with_decimal_points(std::string_view text);

// Leading blanks, then the longest decimal number; 0 when there is none.
double parse_leading_number(std::string_view text);

// trunc(time_out * Fosc[MHz] * 1e6 / 12 + 1), refused when it would not fit the loader.
WaitCount compute_wait_count(std::string_view fosc_mhz_text, std::string_view timeout_s_text);

// Rewrites only the low nibbles of the twelve immediate bytes.
void patch_wait_count(std::span<std::uint8_t, 128> block, std::uint32_t count);

// Reads the count back from the first (copy 0) or the second (copy 1) set of instructions.
std::uint32_t decode_wait_count(std::span<const std::uint8_t, 128> block, int copy = 0);

}  // namespace zarvik
