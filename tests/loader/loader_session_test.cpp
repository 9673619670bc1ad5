// Our loader's checked session on the wire: the frames the host forms, the answers it
// accepts, and the simulated loader's side of the same document.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string_view>

#include "loader/loader_session.h"
#include "loader/wait_count.h"
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

TEST(Signature, OurMarkWithItsVersionAndNothingForAnyOtherLoader) {
    Block block{};
    block.fill(0xFF);
    put_signature(block, 64);
    const auto ours = find_signature(block);
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(ours->version, 2);
    EXPECT_TRUE(ours->speaks_session());
    EXPECT_EQ(ours->page_words, 64);
    for (const std::size_t at : {2u, 5u}) {
        Block other = block;
        other[at] = static_cast<std::uint8_t>(other[at] ^ 0x20);
        EXPECT_FALSE(find_signature(other).has_value()) << at;
    }
    for (const std::uint8_t version : std::initializer_list<std::uint8_t>{0, 1, 4}) {
        Block other = block;
        other[6] = version;
        ASSERT_TRUE(find_signature(other).has_value());
        EXPECT_FALSE(find_signature(other)->speaks_session()) << int{version};
    }
    Block switching = block;
    switching[6] = kSpeedSwitchProtocolVersion;
    EXPECT_TRUE(find_signature(switching)->speaks_session());
    EXPECT_TRUE(find_signature(switching)->switches_speed());
    EXPECT_FALSE(ours->switches_speed());
    // The simulated boards: ours carries version 2, the version-1 one 1, the original none.
    struct Case { LoaderKind kind; int version; };
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        for (const Case c : {Case{LoaderKind::Ours, 2}, Case{LoaderKind::OursVersion1, 1}, Case{LoaderKind::Plain, -1}}) {
            const SimBoard board(model, {}, c.kind);
            const auto sig = find_signature(board.loader.loader_first_block());
            ASSERT_EQ(sig.has_value(), c.version >= 0) << model;
            if (!sig) continue;
            EXPECT_EQ(sig->version, c.version);
            EXPECT_EQ(sig->page_words, find_device_model(model)->loader_start == 0x1C00 ? 32 : 64);
        }
    }
}

TEST(SessionFrame, LetterLengthAddressDataAndTheCheckOfAll) {
    struct Case { std::uint8_t letter; std::uint32_t address; std::size_t size; };
    for (const Case c : {Case{'W', 0x1240, 64}, Case{'W', 0x7B80, 128}, Case{'W', 0x0031, 3}, Case{'D', 0x03FF, 1}}) {
        std::vector<std::uint8_t> data(c.size);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
        const auto frame = session_frame(c.letter, c.address, data);
        ASSERT_EQ(frame.size(), 4u + c.size + 4);
        EXPECT_EQ(frame[0], c.letter);
        EXPECT_EQ(frame[1], c.size);
        EXPECT_EQ(frame[2], c.address >> 8);  // high byte first
        EXPECT_EQ(frame[3], c.address & 0xFF);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.begin() + 4));
        const std::uint32_t check = crc32(std::span(frame).first(4 + c.size));
        EXPECT_EQ(frame[4 + c.size], check & 0xFF);  // low byte first
        EXPECT_EQ(frame[7 + c.size], check >> 24);
    }
    // `Z`, `C`, `f` and `d` carry no data: their `len` is a count.
    struct Count { std::uint8_t letter; std::uint8_t count; std::uint32_t address; };
    for (const Count c : {Count{'Z', 6, 0x7C06}, Count{'C', 32, 0x1000}, Count{'f', 128, 0x3F80}, Count{'d', 1, 0x01FF}}) {
        const auto frame = count_frame(c.letter, c.count, c.address);
        const std::vector<std::uint8_t> head{c.letter, c.count, static_cast<std::uint8_t>(c.address >> 8),
                                             static_cast<std::uint8_t>(c.address & 0xFF)};
        ASSERT_EQ(frame.size(), 8u);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.begin()));
        const std::uint32_t check = crc32(head);
        EXPECT_EQ(frame[4], check & 0xFF);
        EXPECT_EQ(frame[7], check >> 24);
    }
}

// A link whose loader's answers are given by a function of what the host sent.
struct ScriptedLink final : ByteLink {
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> answer;
    std::vector<std::vector<std::uint8_t>> sent;
    std::deque<std::uint8_t> pending;
    FakeClock* clock = nullptr;
    bool write(std::span<const std::uint8_t> bytes) override {
        sent.emplace_back(bytes.begin(), bytes.end());
        for (std::uint8_t b : answer(sent.back())) pending.push_back(b);
        return true;
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        std::size_t n = 0;
        while (n < into.size() && !pending.empty()) {
            into[n++] = pending.front();
            pending.pop_front();
        }
        if (n < into.size()) clock->sleep_ms(100);
        return {n};
    }
    void discard_input() override { pending.clear(); }
};

std::vector<std::uint8_t> greeting_for(const std::vector<std::uint8_t>& request) {
    if (request.size() == 4 && request[0] == 'U') return {'L', 'o', 'a', 'd', 'e', 'r'};
    if (request[0] == 'Z') {
        return session_frame('Z', static_cast<std::uint32_t>(request[2] << 8 | request[3]),
                             std::vector<std::uint8_t>{2, 64, 0, 0x24, 0xF4, 0});
    }
    return {};
}

TEST(LoaderSession, AnAnswerIsTakenOnlyWhenItsLetterAddressLengthAndCheckAreRight) {
    std::vector<std::uint8_t> checks(8);
    for (std::size_t i = 0; i < checks.size(); ++i) checks[i] = static_cast<std::uint8_t>(0x10 + i);
    const auto good = session_frame('C', 0x0100, checks);
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
        bool bad_check;
        std::uint32_t status;
        std::size_t received;
    };
    const Case cases[] = {
        {"as sent", [](auto&) {}, false, 0, 0},
        {"another letter", [](auto& a) { a[0] = 'c'; }, false, kOtherLetter | 'c', 16},
        {"another address", [](auto& a) { a[3] = 0x80; }, false, kOtherAddress | 0x0180, 16},
        {"a data bit flipped", [](auto& a) { a[6] ^= 0x04; }, true, 0, 16},
        {"its check changed", [](auto& a) { a.back() ^= 0x80; }, true, 0, 16},
        {"one byte short", [](auto& a) { a.pop_back(); }, false, 0, 15},
        {"nothing", [](auto& a) { a.clear(); }, false, 0, 0},
        {"another length", [](auto& a) { a = session_frame('C', 0x0100, std::vector<std::uint8_t>{2}); }, false,
         kOtherLetter | 1, 16},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        ScriptedLink link;
        link.clock = &clock;
        link.answer = [&](const std::vector<std::uint8_t>& request) {
            if (request[0] != 'C') return greeting_for(request);
            auto reply = good;
            c.spoil(reply);
            return reply;
        };
        LoaderSession session(link, clock);
        ASSERT_FALSE(session.open(64, 0x7C00)) << c.what;
        std::array<std::uint32_t, 2> got{};
        const auto failure = session.checks(0x0100, got);
        if (std::string_view(c.what) == "as sent") {
            ASSERT_FALSE(failure.has_value());
            EXPECT_EQ(got[0], 0x13121110u);
            continue;
        }
        ASSERT_TRUE(failure.has_value()) << c.what;
        EXPECT_EQ(failure->command, 'C');
        EXPECT_EQ(failure->address, 0x0100u);
        EXPECT_EQ(failure->bad_check, c.bad_check) << c.what;
        if (failure->wrong_answer) {
            EXPECT_EQ(failure->status, c.status) << c.what;
        } else {
            EXPECT_EQ(failure->received, c.received) << c.what;
        }
        // The next command first brings the loader back: a sync, then a new opening.
        EXPECT_TRUE(session.needs_resync()) << c.what;
        const std::size_t before = link.sent.size();
        (void)session.checks(0x0100, got);
        ASSERT_GE(link.sent.size(), before + 3) << c.what;
        EXPECT_EQ(link.sent[before], std::vector<std::uint8_t>(4, 'U')) << c.what;
        EXPECT_EQ(link.sent[before + 1][0], 'Z') << c.what;
    }
}

TEST(LoaderSession, TheOpeningMustNameASessionVersionAndTheChipsPage) {
    struct Case { std::vector<std::uint8_t> greeting; bool opens; };
    for (const Case& c : {Case{{2, 64, 0, 0x24, 0xF4, 0}, true}, Case{{3, 64, 0, 0x24, 0xF4, 0}, true},
                          Case{{1, 64, 0, 0x24, 0xF4, 0}, false}, Case{{4, 64, 0, 0x24, 0xF4, 0}, false},
                          Case{{2, 32, 0, 0x24, 0xF4, 0}, false}}) {
        FakeClock clock;
        ScriptedLink link;
        link.clock = &clock;
        link.answer = [&](const std::vector<std::uint8_t>& request) {
            if (request[0] == 'Z') return session_frame('Z', 0x7C06, c.greeting);
            return greeting_for(request);
        };
        LoaderSession session(link, clock);
        const auto failure = session.open(64, 0x7C00);
        EXPECT_EQ(!failure.has_value(), c.opens) << int{c.greeting[0]} << " " << int{c.greeting[1]};
        EXPECT_EQ(session.is_open(), c.opens);
        // What goes out: Z 06, the loader's start + 6, and its check.
        EXPECT_EQ(link.sent[0], count_frame('Z', 6, 0x7C06));
    }
}

struct SessionBoard : SimBoard {
    explicit SessionBoard(const char* model = "ATmega328", SimFaults faults = {})
        : SimBoard(model, faults, LoaderKind::Ours), session(link, clock) {
        const std::uint32_t start = find_device_model(model)->loader_start;
        EXPECT_FALSE(session.open(start == 0x1C00 ? 32 : 64, start));
    }
    LoaderSession session;
};

TEST(LoaderSession, ChecksAndReadsAreTheChipsOwnAndWrapAtTheEnd) {
    SessionBoard board("ATmega168");
    EXPECT_EQ(board.session.greeting().clock_hz, SimLoader::kClockHz);
    for (std::size_t i = 0; i < board.loader.flash().size(); ++i) board.loader.flash()[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < board.loader.eeprom().size(); ++i) board.loader.eeprom()[i] = static_cast<std::uint8_t>(i * 3);
    // The last unit of the 16 KB flash, then the first ones again; more than one frame.
    std::vector<std::uint32_t> checks(40);
    ASSERT_FALSE(board.session.checks(0x3F80, checks));
    EXPECT_EQ(checks[0], crc32(board.loader.flash().subspan(0x3F80, 128)));
    EXPECT_EQ(checks[1], crc32(board.loader.flash().subspan(0, 128)));
    EXPECT_EQ(checks[39], crc32(board.loader.flash().subspan(38 * 128, 128)));
    // A unit need not start on a multiple of 128.
    std::array<std::uint32_t, 1> odd{};
    ASSERT_FALSE(board.session.checks(0x0041, odd));
    EXPECT_EQ(odd[0], crc32(board.loader.flash().subspan(0x41, 128)));
    std::vector<std::uint8_t> bytes(300);
    ASSERT_FALSE(board.session.read(MemoryKind::Flash, 0x1000, bytes));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), board.loader.flash().begin() + 0x1000));
    ASSERT_FALSE(board.session.read(MemoryKind::Eeprom, 0x1F0, std::span(bytes).first(32)));
    EXPECT_EQ(bytes[16], board.loader.eeprom()[0]);
}

TEST(LoaderSession, APageFrameReachingTheLoaderIsNotAnsweredAndTheNextCommandBringsTheLoaderBack) {
    // Any range below the loader is taken, whole pages or not; one that reaches it is not.
    struct Case { std::uint32_t address; std::size_t size; bool taken; };
    for (const Case c : {Case{0x1BC0, 128, false}, Case{0x1BFF, 2, false}, Case{0x1B80, 128, true}, Case{0x0020, 128, true},
                         Case{0x0105, 3, true}}) {
        SessionBoard board("ATmega8");
        std::fill_n(board.loader.flash().begin(), 0x1C00, 0x00);
        const std::vector<std::uint8_t> loader(board.loader.flash().begin() + 0x1C00, board.loader.flash().end());
        const std::vector<std::uint8_t> data(c.size, 0x42);
        ASSERT_TRUE(board.session.send_frame(page_frame(c.address, data)));
        std::uint32_t programmed = 0;
        const auto answer = board.session.frame_answer(c.address, programmed, 1000);
        EXPECT_EQ(!answer.has_value(), c.taken) << c.address;
        // The answer is the check of the range as the flash now holds it.
        if (c.taken) {
            EXPECT_EQ(programmed, crc32(data)) << c.address;
        }
        // The simulated chip's memory shows a page once its time has passed on the board.
        board.loader.finish_programming();
        for (std::uint32_t a = 0; a < 0x1C00; ++a) {
            const bool written = c.taken && a >= c.address && a < c.address + c.size;
            ASSERT_EQ(board.loader.flash()[a], written ? 0x42 : 0x00) << c.address << " at " << a;
        }
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), board.loader.flash().begin() + 0x1C00)) << c.address;
        if (c.taken) continue;
        EXPECT_EQ(answer->received, 0u);
        EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Hunt) << c.address;
        // The loader hunts; the session's next command finds it again.
        std::array<std::uint32_t, 1> check{};
        ASSERT_FALSE(board.session.checks(0x1B80, check)) << c.address;
        EXPECT_EQ(check[0], crc32(board.loader.flash().subspan(0x1B80, 128)));
    }
}

TEST(LoaderSession, AfterAPauseTheSessionIsFoundAgainAndThePauseIsNoFailure) {
    // The loader leaves a session after half a second of silence; the host, quiet for
    // more than 0.4 s, synchronises and opens it again before its next frame.
    struct Case { std::int64_t pause_ms; bool reopened; };
    for (const Case c : {Case{100, false}, Case{390, false}, Case{450, true}, Case{600, true}, Case{5000, true}}) {
        SessionBoard board;
        board.clock.sleep_ms(c.pause_ms);
        const std::size_t from = board.loader.log().size();
        std::array<std::uint32_t, 2> checks{};
        ASSERT_FALSE(board.session.checks(0x0200, checks)) << c.pause_ms;
        EXPECT_EQ(checks[1], crc32(board.loader.flash().subspan(0x0280, 128)));
        const auto sent = board.sent(from);
        EXPECT_EQ(sent.front() == 'U', c.reopened) << c.pause_ms;
        if (c.reopened) {
            EXPECT_EQ(sent[4], 'Z') << c.pause_ms;
        }
        EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Session);
    }
}

TEST(LoaderSession, AFrameDamagedOnTheWayInProgramsNothingAndIsNotAnswered) {
    const std::vector<std::uint8_t> data(128, 0x42);
    // A bit flipped in the letter's length, the address, the data and the check.
    for (const std::size_t at : {1u, 2u, 3u, 10u, 133u}) {
        SessionBoard board;
        auto frame = page_frame(0x0200, data);
        frame[at] ^= 0x01;
        ASSERT_TRUE(board.session.send_frame(frame));
        std::uint32_t programmed = 0;
        const auto answer = board.session.frame_answer(0x0200, programmed, 1000);
        ASSERT_TRUE(answer.has_value()) << at;
        EXPECT_EQ(answer->received, 0u) << at;
        EXPECT_EQ(std::count(board.loader.flash().begin(), board.loader.flash().begin() + 0x7C00, 0xFF), 0x7C00) << at;
        // The next command brings the loader back and is answered.
        std::array<std::uint32_t, 1> check{};
        ASSERT_FALSE(board.session.checks(0x0200, check)) << at;
    }
}

TEST(LoaderSession, AnEepromWriteIsConfirmedByTheBytesTheEepromHolds) {
    SessionBoard board;
    const std::vector<std::uint8_t> data{1, 2, 3, 4, 5};
    ASSERT_FALSE(board.session.write_eeprom(0x3FE, data));  // wraps past the 1 KB EEPROM
    EXPECT_EQ(board.loader.eeprom()[0x3FF], 2);
    EXPECT_EQ(board.loader.eeprom()[2], 5);
    // The answer carries the EEPROM's bytes, not the frame's: a loader that wrote
    // something else is caught, here through a frame changed on the way, check and all.
    struct Lying final : ByteLink {
        explicit Lying(ByteLink& l) : inner(l) {}
        ByteLink& inner;
        bool write(std::span<const std::uint8_t> b) override {
            std::vector<std::uint8_t> copy(b.begin(), b.end());
            if (copy.size() > 5 && copy[0] == 'D') {
                copy[4] ^= 0xFF;  // the byte as the chip got it, and a check made to match
                const auto fixed = session_frame('D', static_cast<std::uint32_t>(copy[2] << 8 | copy[3]),
                                                 std::span(copy).subspan(4, copy[1]));
                copy = fixed;
            }
            return inner.write(copy);
        }
        ReadResult read(std::span<std::uint8_t> into) override { return inner.read(into); }
        void discard_input() override { inner.discard_input(); }
    } lying(board.link);
    LoaderSession session(lying, board.clock);
    ASSERT_FALSE(session.open(64, 0x7C00));
    const auto failure = session.write_eeprom(0x100, data);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->command, 'D');
    EXPECT_TRUE(failure->wrong_answer);
    EXPECT_EQ(failure->status, crc32(std::vector<std::uint8_t>{0xFE, 2, 3, 4, 5}));
}

TEST(LoaderSession, APlainSyncEndsTheSessionAndAHuntAnswersOnlyAfterSilence) {
    SessionBoard board;
    // A plain host's single sync reaches a loader left in a session.
    const std::vector<std::uint8_t> sync(4, 'U');
    ASSERT_TRUE(board.link.write(sync));
    std::array<std::uint8_t, 6> reply{};
    ASSERT_EQ(board.link.read(reply).count, 6u);
    EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Plain);
    // Inside a session, plain packets and unknown letters make it hunt.
    ASSERT_FALSE(board.session.open(64, 0x7C00));
    ASSERT_TRUE(board.link.write(address_packet(0x100)));
    EXPECT_EQ(board.link.read(reply).count, 0u);
    EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Hunt);
    // A sync with more bytes close behind it (frames sent ahead) is not answered; the
    // same sync followed by silence is.
    std::vector<std::uint8_t> busy(sync);
    busy.insert(busy.end(), {'Z', 4, 0, 0});
    ASSERT_TRUE(board.link.write(busy));
    EXPECT_EQ(board.link.read(reply).count, 0u);
    ASSERT_TRUE(board.link.write(sync));
    ASSERT_EQ(board.link.read(reply).count, 6u);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "Loader");
}

TEST(LoaderSession, ResyncFindsTheLoaderInTheMiddleOfAFrame) {
    // The loader still waits for 1, 5 or 70 bytes of a frame whose bytes were lost.
    for (const std::size_t missing : {1u, 5u, 70u}) {
        SessionBoard board;
        const auto frame = page_frame(0x0400, std::vector<std::uint8_t>(128, 0x11));
        ASSERT_TRUE(board.session.send_frame(std::span(frame).first(frame.size() - missing)));
        ASSERT_FALSE(board.session.resync()) << missing;
        ASSERT_FALSE(board.session.open(64, 0x7C00)) << missing;
        std::array<std::uint32_t, 1> check{};
        ASSERT_FALSE(board.session.checks(0x0400, check)) << missing;
        EXPECT_EQ(board.loader.flash()[0x0400], 0xFF);
    }
}

// The simulated loader in plain mode: a line error makes it hunt, and its first block
// takes only the count.
TEST(SimLoaderPlainMode, AnUnknownLetterOrABrokenSyncRunsNothingUntilASyncAndSilence) {
    for (const auto& broken : {testing::bytes({'W', 0x00, 0x00, 0x80}), testing::bytes({'U', 'U', 'A', 0})}) {
        SimBoard board("ATmega328", {}, LoaderKind::Ours);
        ASSERT_TRUE(board.link.write(broken));
        // What follows is not taken: an erase of EEPROM, say.
        board.loader.eeprom()[0] = 0x00;
        ASSERT_TRUE(board.link.write(address_packet(0)));
        ASSERT_TRUE(board.link.write(make_packet('e', 0x80, 0x30, 0x30)));
        std::array<std::uint8_t, 10> reply{};
        EXPECT_EQ(board.link.read(reply).count, 0u);
        EXPECT_EQ(board.loader.eeprom()[0], 0x00);
        std::array<std::uint8_t, 10> id{};
        EXPECT_EQ(board.protocol.identify(id).count, 6u);
        EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Plain);
    }
}

TEST(SimLoaderPlainMode, TheLoadersFirstBlockTakesOnlyAnEqualCountInBothCopies) {
    struct Case {
        const char* what;
        std::uint32_t address;
        std::uint8_t pages;
        std::function<void(Block&)> change;
        bool programmed;
    };
    const Case cases[] = {
        {"the count, both copies", 0x7C00, 2, [](Block& b) { patch_wait_count(b, 2'666'667); }, true},
        {"one copy only", 0x7C00, 2, [](Block& b) {
             Block other = b;
             patch_wait_count(other, 2'666'667);
             std::copy_n(other.begin(), 64, b.begin());
         }, false},
        {"a high nibble of a count byte", 0x7C00, 2, [](Block& b) { b[49] ^= 0x10; }, false},
        {"a code byte", 0x7C00, 2, [](Block& b) { b[10] ^= 0x01; }, false},
        {"one page", 0x7C00, 1, [](Block& b) { patch_wait_count(b, 2'666'667); }, false},
        {"from 64 bytes below", 0x7BC0, 2, [](Block& b) { patch_wait_count(b, 2'666'667); }, false},
        {"the second block", 0x7C80, 2, [](Block& b) { b[0] ^= 0xFF; }, false},
    };
    for (const Case& c : cases) {
        SimBoard board("ATmega328", {}, LoaderKind::Ours);
        const std::vector<std::uint8_t> before(board.loader.flash().begin() + 0x7BC0, board.loader.flash().end());
        Block block{};
        std::copy_n(board.loader.flash().begin() + c.address, 128, block.begin());
        if (c.address == 0x7BC0) std::copy_n(board.loader.flash().begin() + 0x7C00, 128, block.begin());
        c.change(block);
        // The plain configuration's exchange; a refused `F` still answers.
        ASSERT_FALSE(board.protocol.write_flash_block(c.address, block, c.pages)) << c.what;
        const bool same = std::equal(before.begin(), before.end(), board.loader.flash().begin() + 0x7BC0);
        EXPECT_EQ(!same, c.programmed) << c.what;
        if (c.programmed) {
            EXPECT_TRUE(std::equal(block.begin(), block.end(), board.loader.flash().begin() + 0x7C00)) << c.what;
        }
    }
}

}  // namespace
}  // namespace zarvik
