#include "loader/wait_count.h"

#include <gtest/gtest.h>

#include <array>

namespace zarvik {
namespace {

TEST(WaitCount, ComputedFromClockAndTime) {
    struct Case { const char* fosc; const char* timeout; WaitCount::Kind kind; std::int32_t count; };
    const Case cases[] = {
        {"16", "2", WaitCount::Kind::Ok, 2'666'667},
        {"8", "1", WaitCount::Kind::Ok, 666'667},
        {"16", "12", WaitCount::Kind::Ok, 16'000'001},
        {"16", "12.52", WaitCount::Kind::Ok, 16'693'334},
        {"16", "12.53", WaitCount::Kind::TooLarge, 0},
        {"16", "13", WaitCount::Kind::TooLarge, 0},
        {"16", "1e9", WaitCount::Kind::TooLarge, 0},
        {"7,3728", "1", WaitCount::Kind::Ok, 614'401},
        {"  16 ", "\t2", WaitCount::Kind::Ok, 2'666'667},
        {"+16", "2", WaitCount::Kind::Ok, 2'666'667},
        {"0", "5", WaitCount::Kind::Ok, 1},
        // Nothing but a number is taken: a text that merely starts with one is refused.
        {"", "2", WaitCount::Kind::FoscNotNumber, 0},
        {"abc", "5", WaitCount::Kind::FoscNotNumber, 0},
        {"16 xyz", "2", WaitCount::Kind::FoscNotNumber, 0},
        {"16 MHz", "2", WaitCount::Kind::FoscNotNumber, 0},
        {"0x10", "2", WaitCount::Kind::FoscNotNumber, 0},
        {"inf", "1", WaitCount::Kind::FoscNotNumber, 0},
        {"nan", "1", WaitCount::Kind::FoscNotNumber, 0},
        {"+-16", "1", WaitCount::Kind::FoscNotNumber, 0},
        {"16", "", WaitCount::Kind::TimeoutNotNumber, 0},
        {"16", "abc", WaitCount::Kind::TimeoutNotNumber, 0},
        {"16", "2 s", WaitCount::Kind::TimeoutNotNumber, 0},
        {"-16", "2", WaitCount::Kind::Negative, 0},
        {"16", "-1", WaitCount::Kind::Negative, 0},
        {"-16", "-2", WaitCount::Kind::Negative, 0},
    };
    for (const Case& c : cases) {
        const auto w = compute_wait_count(c.fosc, c.timeout);
        EXPECT_EQ(w.kind, c.kind) << c.fosc << " " << c.timeout;
        if (c.kind == WaitCount::Kind::Ok) {
            EXPECT_EQ(w.count, c.count) << c.fosc << " " << c.timeout;
        }
    }
    EXPECT_EQ(compute_wait_count("7,3728", "1,5").fosc_text, "7.3728");
    EXPECT_EQ(compute_wait_count("7,3728", "1,5").timeout_text, "1.5");
}

TEST(WaitCount, KnowsTheWaitItGivesAndTheLongestThatFits) {
    const auto w = compute_wait_count("16", "2");
    EXPECT_NEAR(w.seconds, 2.0, 1e-6);
    EXPECT_DOUBLE_EQ(w.longest_seconds, 12.52);
    EXPECT_DOUBLE_EQ(compute_wait_count("8", "100").longest_seconds, 25.04);
    EXPECT_DOUBLE_EQ(compute_wait_count("0", "1").seconds, 0.0);
}

TEST(WaitCount, PatchTouchesOnlyTheTwelveLowNibbles) {
    std::array<std::uint8_t, 128> block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 29 + 7);
    const auto before = block;
    patch_wait_count(block, 2'666'667);  // 0x28B0AB
    const std::pair<std::size_t, std::uint8_t> nibbles[] = {
        {48, 0xB}, {49, 0xA}, {50, 0x0}, {51, 0xB}, {54, 0x8}, {55, 0x2},
        {82, 0xB}, {83, 0xA}, {84, 0x0}, {85, 0xB}, {88, 0x8}, {89, 0x2}};
    for (auto [offset, low] : nibbles) {
        EXPECT_EQ(block[offset] & 0x0F, low) << offset;
        EXPECT_EQ(block[offset] & 0xF0, before[offset] & 0xF0) << offset;
    }
    for (std::size_t i = 0; i < block.size(); ++i) {
        const bool patched = std::any_of(std::begin(nibbles), std::end(nibbles), [&](auto n) { return n.first == i; });
        if (!patched) {
            EXPECT_EQ(block[i], before[i]) << i;
        }
    }
    EXPECT_EQ(decode_wait_count(block, 0), 2'666'667u);
    EXPECT_EQ(decode_wait_count(block, 1), 2'666'667u);
}

}  // namespace
}  // namespace zarvik
