#include "loader/protocol.h"

#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace zarvik {
namespace {

using testing::bytes;
using testing::SimBoard;

TEST(Protocol, AddressesTravelHighByteFirst) {
    EXPECT_EQ(address_packet(0x1C00), (Packet{0x41, 0x1C, 0x00, 0x00}));
    EXPECT_EQ(address_packet(0x0080), (Packet{0x41, 0x00, 0x80, 0x00}));
}

TEST(Protocol, FlashBlockWriteSendsBufferAddressThenPagesAndWaits10ms) {
    SimBoard board;
    Block block;
    block.fill(0x5A);
    for (std::uint8_t pages : {std::uint8_t{1}, std::uint8_t{2}}) {
        const auto from = board.loader.log().size();
        const auto t0 = board.clock.now_ms();
        ASSERT_FALSE(board.protocol.write_flash_block(0x0100, block, pages));
        EXPECT_EQ(board.clock.now_ms() - t0, 10);
        const auto sent = board.sent(from);
        ASSERT_EQ(sent.size(), 4u + 128 + 4 + 4);
        EXPECT_EQ(std::vector(sent.begin(), sent.begin() + 4), bytes({'B', 0, 0, 0}));
        EXPECT_EQ(std::vector(sent.begin() + 132, sent.begin() + 136), bytes({'A', 0x01, 0x00, 0}));
        EXPECT_EQ(std::vector(sent.begin() + 136, sent.end()), bytes({'F', 0x20, pages, 0}));
    }
    EXPECT_EQ(board.loader.flash()[0x100], 0x5A);
    EXPECT_EQ(board.loader.flash()[0x17F], 0x5A);
}

TEST(Protocol, EepromBlockWriteWaitsNineMsPerByte) {
    SimBoard board;
    Block block;
    block.fill(0x11);
    const auto t0 = board.clock.now_ms();
    ASSERT_FALSE(board.protocol.write_eeprom_block(0x0100, block, 5));
    EXPECT_EQ(board.clock.now_ms() - t0, 45);
    const auto sent = board.sent();
    ASSERT_EQ(sent.size(), 140u);  // the whole buffer travels with `B`
    EXPECT_EQ(std::vector(sent.end() - 4, sent.end()), bytes({'D', 5, 0, 0}));
    EXPECT_EQ(board.loader.eeprom()[0x104], 0x11);
    EXPECT_EQ(board.loader.eeprom()[0x105], 0xFF);
}

TEST(Protocol, ReadsEraseAndStartSendTheirPackets) {
    SimBoard board;
    Block into{};
    ASSERT_FALSE(board.protocol.read_flash_block(0x7C00, into));
    ASSERT_FALSE(board.protocol.read_eeprom_block(0x0080, into));
    ASSERT_FALSE(board.protocol.erase_flash_page(0x0040));
    const auto before_eeprom_erase = board.clock.now_ms();
    ASSERT_FALSE(board.protocol.erase_eeprom_block(0x0000));
    EXPECT_EQ(board.clock.now_ms() - before_eeprom_erase, 1152);
    ASSERT_TRUE(board.protocol.start_program());
    EXPECT_EQ(board.sent(), bytes({'A', 0x7C, 0, 0, 'f', 0x80, 0, 0, 'b', 0, 0, 0,  //
                                   'A', 0x00, 0x80, 0, 'd', 0x80, 0, 0, 'b', 0, 0, 0,  //
                                   'A', 0, 0x40, 0, 'E', 0x30, 0x30, 0x30,             //
                                   'A', 0, 0, 0, 'e', 0x80, 0x30, 0x30,                //
                                   'S', 0x30, 0x30, 0x30}));
}

TEST(Protocol, MissingAndShortAnswersFailAtTheirTimeOuts) {
    struct Case {
        const char* what;
        SimFaults faults;
        std::uint8_t command;
        std::size_t expected;
        std::size_t received;
        std::int64_t elapsed_ms;
        bool line_lost;
    };
    SimFaults silent;
    silent.silent = true;
    SimFaults mute_fetch;
    mute_fetch.mute_command = 3;
    SimFaults short_block;
    short_block.short_block = true;
    SimFaults late;
    late.late_ms = 300;
    SimFaults gone;
    gone.line_gone_after = 6;
    const Case cases[] = {
        {"silence costs one acknowledgement time-out", silent, 'A', 4, 0, 250, false},
        {"a missing block costs the block time-out", mute_fetch, 'b', 128, 0, 6450, false},
        {"a short block ends 50 ms after its last byte", short_block, 'b', 128, 100, 50, false},
        {"an answer later than the time-out is missing", late, 'A', 4, 0, 250, false},
        {"a vanished line fails at once", gone, 'f', 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        SimBoard board("ATmega328", c.faults);
        Block into{};
        const auto t0 = board.clock.now_ms();
        auto failure = board.protocol.read_flash_block(0x0000, into);
        ASSERT_TRUE(failure) << c.what;
        EXPECT_EQ(failure->command, c.command) << c.what;
        EXPECT_EQ(failure->expected, c.expected) << c.what;
        EXPECT_EQ(failure->received, c.received) << c.what;
        EXPECT_EQ(failure->line_lost, c.line_lost) << c.what;
        if (!c.line_lost) {
            EXPECT_EQ(board.clock.now_ms() - t0, c.elapsed_ms) << c.what;
        }
    }
}

// Loses one byte of those the host writes, as a noisy line may.
class LoseOneByte final : public ByteLink {
public:
    LoseOneByte(ByteLink& inner, std::size_t index) : inner_(inner), left_(index) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        if (armed_ && left_ < bytes.size()) {
            armed_ = false;
            std::vector<std::uint8_t> kept(bytes.begin(), bytes.end());
            kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(left_));
            return inner_.write(kept);
        }
        if (armed_) left_ -= bytes.size();
        return inner_.write(bytes);
    }
    ReadResult read(std::span<std::uint8_t> into) override { return inner_.read(into); }
    void discard_input() override { inner_.discard_input(); }

private:
    ByteLink& inner_;
    std::size_t left_;
    bool armed_ = true;
};

std::vector<std::uint8_t> first_block(const SimLoader& loader) {
    const auto block = loader.loader_first_block();
    return {block.begin(), block.end()};
}

TEST(Protocol, AfterAShortOrMissingAnswerTheLinkDrainsAndSynchronisesAgain) {
    // Each fault leaves something on its way that the next answer would be read with:
    // the rest of a block, an acknowledgement that came late.
    struct Case { const char* what; SimFaults faults; bool read_fails; };
    SimFaults short_block;
    short_block.short_block = true;
    SimFaults late;
    late.late_ms = 300;
    for (const Case& c : {Case{"a short block", short_block, true}, Case{"a late acknowledgement", late, false}}) {
        SimBoard board("ATmega328", c.faults);
        Block into{};
        if (c.read_fails) {
            ASSERT_TRUE(board.protocol.read_flash_block(0x7C00, into)) << c.what;
        } else {
            ASSERT_TRUE(board.protocol.erase_flash_page(0x0000)) << c.what;
        }
        EXPECT_TRUE(board.protocol.out_of_step()) << c.what;
        board.loader.misbehave({});
        const auto t0 = board.clock.now_ms();
        into.fill(0);
        ASSERT_FALSE(board.protocol.read_flash_block(0x7C00, into)) << c.what;
        EXPECT_EQ(std::vector(into.begin(), into.end()), first_block(board.loader)) << c.what;
        EXPECT_FALSE(board.protocol.out_of_step());
        // The line counts as drained only after a whole read's time-out without a byte
        // (100 ms); the first sync is answered at once, with no pause before it.
        const auto elapsed = board.clock.now_ms() - t0;
        EXPECT_GE(elapsed, 100) << c.what;
        EXPECT_LT(elapsed, kAbandonedPacketMs) << c.what;
        const auto sent = board.sent();
        ASSERT_GE(sent.size(), 8u);
        EXPECT_EQ(std::vector(sent.begin(), sent.begin() + 8), bytes({0x55, 0x55, 0x55, 0x55, 'A', 0x7C, 0, 0})) << c.what;
    }
}

TEST(Protocol, AByteLostOnTheWayToTheLoaderIsRecoveredAfterItDropsTheHalfPacket) {
    // The loader still waits for the last byte of a block: the first sync only completes
    // it. After a pause it gives up what it holds, and the next sync stands alone.
    SimBoard board("ATmega328");
    LoseOneByte line(board.link, 60);
    LoaderProtocol protocol(line, board.clock);
    Block block;
    block.fill(0x5A);
    const auto failure = protocol.write_flash_block(0x0100, block, 2);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->command, 'B');
    EXPECT_EQ(failure->received, 0u);
    const auto t0 = board.clock.now_ms();
    ASSERT_FALSE(protocol.write_flash_block(0x0100, block, 2));
    const auto elapsed = board.clock.now_ms() - t0;
    EXPECT_GE(elapsed, kAbandonedPacketMs);
    EXPECT_LT(elapsed, 2 * kAbandonedPacketMs);
    EXPECT_EQ(board.loader.flash()[0x100], 0x5A);
    EXPECT_EQ(board.loader.flash()[0x17F], 0x5A);
}

TEST(Protocol, ALoaderThatNeverAnswersTheSyncAgainIsALineFault) {
    SimFaults short_block;
    short_block.short_block = true;
    SimBoard board("ATmega328", short_block);
    Block into{};
    ASSERT_TRUE(board.protocol.read_flash_block(0x0000, into));
    SimFaults silent;
    silent.silent = true;
    board.loader.misbehave(silent);
    const auto t0 = board.clock.now_ms();
    const auto failure = board.protocol.read_flash_block(0x0080, into);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->out_of_step);
    EXPECT_EQ(failure->command, 0x55);
    EXPECT_EQ(failure->address, 0x0080u);
    EXPECT_FALSE(failure->line_lost);
    // Three attempts, each a quiet read (100 ms) and an unanswered sync (550 ms), with
    // the pause for the loader to drop a half packet between them.
    EXPECT_EQ(board.clock.now_ms() - t0, 3 * (100 + 550) + 2 * kAbandonedPacketMs);
    // Nothing but syncs went out: no command reaches a loader that is out of step.
    for (std::uint8_t b : board.sent()) EXPECT_EQ(b, 0x55);
}

// A line that never falls quiet: a byte every 10 ms, whatever is asked (a GPS on RX),
// or with no time between them, as from a buffer that is never empty.
class ChatteringLine final : public ByteLink {
public:
    explicit ChatteringLine(FakeClock& clock, std::int64_t ms_per_byte = 10) : clock_(clock), ms_per_byte_(ms_per_byte) {}
    bool write(std::span<const std::uint8_t>) override { return true; }
    ReadResult read(std::span<std::uint8_t> into) override {
        ++bytes_read;
        clock_.sleep_ms(ms_per_byte_);
        into[0] = '$';
        return ReadResult{1, false};
    }
    void discard_input() override {}

    std::size_t bytes_read = 0;

private:
    FakeClock& clock_;
    std::int64_t ms_per_byte_;
};

TEST(Protocol, ALineThatNeverFallsQuietIsDrainedForABoundedTime) {
    FakeClock clock;
    ChatteringLine line(clock);
    LoaderProtocol protocol(line, clock);
    Block into{};
    ASSERT_TRUE(protocol.read_flash_block(0, into));  // one byte for an acknowledgement
    const auto t0 = clock.now_ms();
    const auto failure = protocol.read_flash_block(0, into);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->out_of_step);
    // Each of the three attempts drains for two seconds at most, then hears one byte
    // of noise for its sync.
    const auto elapsed = clock.now_ms() - t0;
    const auto least = kResyncAttempts * 2000 + (kResyncAttempts - 1) * kAbandonedPacketMs;
    EXPECT_GE(elapsed, least);
    EXPECT_LE(elapsed, least + kResyncAttempts * 20);
}

TEST(Protocol, ALineFasterThanTheClockIsDrainedForABoundedNumberOfBytes) {
    FakeClock clock;
    ChatteringLine line(clock, 0);
    LoaderProtocol protocol(line, clock);
    Block into{};
    ASSERT_TRUE(protocol.read_flash_block(0, into));
    const auto failure = protocol.read_flash_block(0, into);
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->out_of_step);
    EXPECT_LE(line.bytes_read, 1 + kResyncAttempts * (16 * 1024 + kIdentifySize));
}

TEST(Protocol, AnEchoingLineIsToldFromAShortBlock) {
    SimFaults echo;
    echo.echo = true;
    SimFaults short_block;
    short_block.short_block = true;
    struct Case { SimFaults faults; std::size_t received; bool echoed; };
    for (const Case& c : {Case{echo, 4, true}, Case{short_block, 100, false}}) {
        SimBoard board("ATmega328", c.faults);
        Block into{};
        const auto failure = board.protocol.read_flash_block(0x7C00, into);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->received, c.received);
        EXPECT_EQ(failure->echoed, c.echoed);
    }
}

TEST(Protocol, StaleAnswerIsDiscardedBeforeTheNextOperation) {
    SimFaults late;
    late.late_ms = 300;
    SimBoard board("ATmega328", late);
    ASSERT_TRUE(board.protocol.erase_flash_page(0));
    board.clock.sleep_ms(1000);  // the late acknowledgement has arrived meanwhile
    board.protocol.discard_stale_input();
    std::array<std::uint8_t, 4> ack{};
    EXPECT_EQ(board.link.read(ack).count, 0u);
}

}  // namespace
}  // namespace zarvik
