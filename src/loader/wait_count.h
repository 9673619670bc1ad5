#pragma once

#include <array>
#include <optional>
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

// Below this the loader starts the program almost at once after a reset, and only a
// host that resets the board itself can still reach it.
inline constexpr double kShortestSafeWaitSeconds = 0.5;

struct WaitCount {
    enum class Kind { Ok, TooLarge, Negative, FoscNotNumber, TimeoutNotNumber };
    Kind kind = Kind::Ok;
    std::int32_t count = 0;
    std::string fosc_text;     // the texts with decimal commas turned into points
    std::string timeout_text;
    double seconds = 0;          // the wait the count gives at this clock
    double longest_seconds = 0;  // the longest wait that fits at this clock (0: none)
};

// Replaces every decimal comma by a point: "7,3728" becomes "7.3728".
std::string with_decimal_points(std::string_view text);

// A decimal number with optional blanks around it, locale-free; nothing when the text
// holds anything else ("", "abc", "16 xyz", "0x10", "inf").
std::optional<double> parse_number(std::string_view text);

// trunc(time_out * Fosc[MHz] * 1e6 / 12 + 1), refused when it would not fit the loader.
WaitCount compute_wait_count(std::string_view fosc_mhz_text, std::string_view timeout_s_text);

// Rewrites only the low nibbles of the twelve immediate bytes.
void patch_wait_count(std::span<std::uint8_t, 128> block, std::uint32_t count);

// Reads the count back from the first (copy 0) or the second (copy 1) set of instructions.
std::uint32_t decode_wait_count(std::span<const std::uint8_t, 128> block, int copy = 0);

}  // namespace zarvik
