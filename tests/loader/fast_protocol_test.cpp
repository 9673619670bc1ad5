// Our loader's own commands on the wire, against the simulated board's loader.
#include <gtest/gtest.h>

#include <string_view>

#include "loader/fast_protocol.h"
#include "support/sim_fixture.h"

namespace zarvik {
namespace {

using testing::SimBoard;

std::span<const std::uint8_t> text(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32, IsZlibs) {
    EXPECT_EQ(crc32(text("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(text("")), 0u);
    std::vector<std::uint8_t> blank(128, 0xFF);
    // Continued over two pieces, the same as over the whole.
    EXPECT_EQ(crc32(text("56789"), crc32(text("1234"))), 0xCBF43926u);
    EXPECT_NE(crc32(blank), crc32(std::span(blank).first(127)));
}

TEST(Signature, OnlyOurMarkAndVersionOneCount) {
    Block block{};
    block.fill(0xFF);
    put_signature(block, 64);
    EXPECT_EQ(block[2], 'Z');
    EXPECT_EQ(block[5], 'K');
    const auto ours = find_signature(block);
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(ours->version, 1);
    EXPECT_EQ(ours->page_words, 64);
    struct Case { std::size_t at; std::uint8_t value; };
    for (const Case& c : {Case{2, 'z'}, Case{5, 'X'}, Case{6, 2}, Case{6, 0}}) {
        Block other = block;
        other[c.at] = c.value;
        EXPECT_FALSE(find_signature(other).has_value()) << c.at;
    }
    // The simulated boards: ours carries it, one of the original kind does not.
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        const SimBoard plain(model);
        EXPECT_FALSE(find_signature(plain.loader.loader_first_block()).has_value()) << model;
        const SimBoard board(model, {}, LoaderKind::Ours);
        const auto sig = find_signature(board.loader.loader_first_block());
        ASSERT_TRUE(sig.has_value()) << model;
        EXPECT_EQ(sig->page_words, find_device_model(model)->loader_start == 0x1C00 ? 32 : 64);
    }
}

TEST(PageFrame, CarriesItsAddressLengthAndTheCheckOfBoth) {
    std::vector<std::uint8_t> data(64);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    const auto frame = page_frame(0x1240, data);
    ASSERT_EQ(frame.size(), 4u + 64 + 4);
    EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 4), testing::bytes({'W', 0x12, 0x40, 64}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.begin() + 4));
    const std::uint32_t check = crc32(std::span(frame).subspan(1, 3 + 64));
    EXPECT_EQ(frame[68], check & 0xFF);  // low byte first
    EXPECT_EQ(frame[71], check >> 24);
}

struct FastBoard : SimBoard {
    explicit FastBoard(const char* model = "ATmega328") : SimBoard(model, {}, LoaderKind::Ours), fast(link, clock) {}
    FastProtocol fast;
};

TEST(FastProtocol, ChecksAreTheChipsOwnAndWrapAtTheEnd) {
    FastBoard board("ATmega168");
    for (std::size_t i = 0; i < board.loader.flash().size(); ++i) board.loader.flash()[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < board.loader.eeprom().size(); ++i) board.loader.eeprom()[i] = static_cast<std::uint8_t>(i * 3);
    std::array<std::uint32_t, 3> checks{};
    // The last unit of the 16 KB flash, then the first two again.
    ASSERT_FALSE(board.fast.checks(MemoryKind::Flash, 0x3F80, checks));
    EXPECT_EQ(checks[0], crc32(board.loader.flash().subspan(0x3F80, 128)));
    EXPECT_EQ(checks[1], crc32(board.loader.flash().subspan(0, 128)));
    EXPECT_EQ(checks[2], crc32(board.loader.flash().subspan(128, 128)));
    std::array<std::uint32_t, 4> eeprom{};
    ASSERT_FALSE(board.fast.checks(MemoryKind::Eeprom, 0x100, eeprom));
    EXPECT_EQ(eeprom[1], crc32(board.loader.eeprom().subspan(0x180, 128)));
    EXPECT_EQ(eeprom[2], crc32(board.loader.eeprom().subspan(0, 128)));  // 512 bytes: wrapped
}

TEST(FastProtocol, ARangeErasePastTheLoaderStartIsRefusedAndErasesNothing) {
    FastBoard board("ATmega8");
    std::fill_n(board.loader.flash().begin(), 0x1C00, 0x00);
    const auto refused = board.fast.erase_range(0x1B00, 3);  // 0x1B00..0x1C80
    ASSERT_TRUE(refused.has_value());
    EXPECT_TRUE(refused->wrong_answer);
    EXPECT_EQ(refused->status, 2u);
    EXPECT_EQ(board.loader.flash()[0x1B00], 0x00);
    // A refusal leaves the loader taking commands; the range up to the loader is erased.
    ASSERT_FALSE(board.fast.erase_range(0x1B00, 2));
    EXPECT_EQ(board.loader.flash()[0x1BFF], 0xFF);
    EXPECT_EQ(board.loader.flash()[0x1AFF], 0x00);
}

TEST(FastProtocol, AFrameWithAWrongCheckProgramsNothingAndTheLoaderWaitsForASync) {
    FastBoard board;
    std::vector<std::uint8_t> data(128, 0x42);
    auto frame = page_frame(0x0200, data);
    frame[10] ^= 0x01;  // a bit flipped on the line
    ASSERT_TRUE(board.fast.send_frame(frame));
    const auto answer = board.fast.frame_answer(0x0200, 1000);
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->wrong_answer);
    EXPECT_EQ(answer->status, 1u);
    EXPECT_EQ(board.loader.flash()[0x0200], 0xFF);
    // Deaf until the sync: a check asked for now gets no answer.
    std::array<std::uint32_t, 1> check{};
    const auto deaf = board.fast.checks(MemoryKind::Flash, 0, check);
    ASSERT_TRUE(deaf.has_value());
    EXPECT_EQ(deaf->received, 0u);
    ASSERT_TRUE(board.fast.resync());
    ASSERT_TRUE(board.fast.send_frame(page_frame(0x0200, data)));
    ASSERT_FALSE(board.fast.frame_answer(0x0200, 1000));
    ASSERT_FALSE(board.fast.checks(MemoryKind::Flash, 0x0200, check));
    EXPECT_EQ(check[0], crc32(data));
}

TEST(FastProtocol, ResyncFindsTheLoaderInTheMiddleOfAFrameAndLeavesNoStrayByte) {
    // The loader still waits for 1, 5 or 70 bytes of a frame whose bytes were lost.
    for (const std::size_t missing : {1u, 5u, 70u}) {
        FastBoard board;
        const auto frame = page_frame(0x0400, std::vector<std::uint8_t>(128, 0x11));
        ASSERT_TRUE(board.fast.send_frame(std::span(frame).first(frame.size() - missing)));
        ASSERT_TRUE(board.fast.resync()) << missing;
        std::array<std::uint32_t, 1> check{};
        ASSERT_FALSE(board.fast.checks(MemoryKind::Flash, 0x0400, check)) << missing;
        EXPECT_EQ(board.loader.flash()[0x0400], 0xFF);
    }
}

TEST(FastProtocol, ALoaderOfTheOriginalKindDoesNotAnswerTheNewLetters) {
    SimBoard board("ATmega328");
    FastProtocol fast(board.link, board.clock);
    std::array<std::uint32_t, 1> check{};
    const auto none = fast.checks(MemoryKind::Flash, 0, check);
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->received, 0u);
}

}  // namespace
}  // namespace zarvik
