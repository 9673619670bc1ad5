// A USB serial adapter's latency timer, on a clock of plain numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/board/usb_latency.h"

namespace zarvik {
namespace {

// Short answers wait for the timer, counted from the last delivery; an adapter that
// delivered nothing for longer than that hands the first byte over at once.
TEST(LatencyBuffer, ShortAnswersWaitForTheTimerSinceTheLastDelivery) {
    LatencyBuffer adapter(16);
    ASSERT_TRUE(adapter.enabled());
    EXPECT_FALSE(adapter.due().has_value());
    adapter.arrive(100, 'O');
    EXPECT_EQ(adapter.due(), 100);
    EXPECT_EQ(adapter.take_due(100), std::vector<std::uint8_t>{'O'});

    // The next answer comes 2 later and waits until 16 after that delivery; what
    // arrives meanwhile goes with it, what arrives after waits for the next round.
    for (std::int64_t t : {102, 103, 104, 105}) adapter.arrive(t, 'K');
    EXPECT_EQ(adapter.due(), 116);
    EXPECT_TRUE(adapter.take_due(115).empty());
    adapter.arrive(116, '!');
    adapter.arrive(117, '?');
    EXPECT_EQ(adapter.take_due(116), (std::vector<std::uint8_t>{'K', 'K', 'K', 'K', '!'}));
    EXPECT_EQ(adapter.due(), 132);
    EXPECT_EQ(adapter.take_due(1000), std::vector<std::uint8_t>{'?'});

    // A late answer goes when it arrives if the timer has run out by then.
    adapter.arrive(2000, 'L');
    EXPECT_EQ(adapter.due(), 2000);

    LatencyBuffer off(0);
    EXPECT_FALSE(off.enabled());
}

// Long answers stream: every 62 bytes go at once, the rest with the timer.
TEST(LatencyBuffer, FullPacketsGoAtOnce) {
    LatencyBuffer adapter(16'000);
    adapter.arrive(0, 0);
    ASSERT_EQ(adapter.take_due(0).size(), 1u);
    // 128 bytes, 85 apart, from 10.
    for (std::int64_t i = 0; i < 128; ++i) adapter.arrive(10 + 85 * i, static_cast<std::uint8_t>(i));
    EXPECT_EQ(adapter.due(), 10 + 85 * 61);
    const auto first = adapter.take_due(10 + 85 * 61);
    ASSERT_EQ(first.size(), LatencyBuffer::kPacketBytes);
    EXPECT_EQ(first.front(), 0);
    EXPECT_EQ(first.back(), 61);
    EXPECT_EQ(adapter.due(), 10 + 85 * 123);
    EXPECT_EQ(adapter.take_due(10 + 85 * 123).size(), LatencyBuffer::kPacketBytes);
    // Four are left: they wait for the timer from the last packet.
    EXPECT_EQ(adapter.due(), 10 + 85 * 123 + 16'000);
    const auto rest = adapter.take_due(100'000);
    EXPECT_EQ(rest, (std::vector<std::uint8_t>{124, 125, 126, 127}));
}

}  // namespace
}  // namespace zarvik
