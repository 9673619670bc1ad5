// Which speeds the host asks our loader for: those the chip's UART makes within
// 2.5 % at its clock, with 160 cycles a byte at least, above the connection's and
// within the cap.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "loader/speed_choice.h"

namespace zarvik {
namespace {

std::vector<int> offered(std::uint32_t clock, int base, int cap) {
    std::array<int, 8> out{};
    const std::size_t n = speeds_to_offer(clock, base, cap, out);
    return {out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)};
}

TEST(SpeedChoice, OnlyWhatTheChipMakesAndKeepsUpWith) {
    struct Case { std::uint32_t clock; int base; int cap; std::vector<int> speeds; };
    const std::vector<Case> cases{
        // 16 MHz: 1 M, 500 k and 250 k exactly; 2 M leaves 80 cycles a byte; 921600,
        // 460800 and 230400 are 8.5 % off.
        {16'000'000, 115200, 0, {1'000'000, 500'000, 250'000}},
        {16'000'000, 115200, 500'000, {500'000, 250'000}},
        {16'000'000, 115200, 115200, {}},
        {16'000'000, 250'000, 0, {1'000'000, 500'000}},
        // 8 MHz: 500 k is 160 cycles a byte, 1 M is not.
        {8'000'000, 38400, 0, {500'000, 250'000}},
        // 14.7456 MHz: the baud-rate crystal makes 921600 and 460800 exactly.
        {14'745'600, 115200, 0, {921'600, 460'800, 230'400}},
        {20'000'000, 115200, 0, {500'000, 250'000, 230'400}},
    };
    for (const Case& c : cases) EXPECT_EQ(offered(c.clock, c.base, c.cap), c.speeds) << c.clock << " " << c.cap;
}

TEST(SpeedChoice, TheDivisorIsTheChipsWithDoubleSpeed) {
    EXPECT_EQ(divisor_for(16'000'000, 1'000'000), 1);
    EXPECT_EQ(divisor_for(16'000'000, 250'000), 7);
    EXPECT_EQ(divisor_for(8'000'000, 500'000), 1);
    EXPECT_FALSE(divisor_for(16'000'000, 2'000'000));
    EXPECT_FALSE(divisor_for(16'000'000, 921'600));
    EXPECT_FALSE(divisor_for(0, 115200));
}

}  // namespace
}  // namespace zarvik
