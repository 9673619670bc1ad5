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
    for (const std::uint8_t version : std::initializer_list<std::uint8_t>{0, 1, 3}) {
        Block other = block;
        other[6] = version;
        ASSERT_TRUE(find_signature(other).has_value());
        EXPECT_FALSE(find_signature(other)->speaks_session()) << int{version};
    }
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
    for (const Case c : {Case{'W', 0x1240, 64}, Case{'W', 0x7B80, 128}, Case{'D', 0x03FF, 1}, Case{'S', 0, 0}}) {
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
    if (request[0] == 'Z') return session_frame('Z', 0, std::vector<std::uint8_t>{2, 64, 0, 0x24, 0xF4, 0});
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
        {"a refusal", [](auto& a) { a = session_frame('C', 0x0100, std::vector<std::uint8_t>{kStatusRefused}); }, false,
         kStatusRefused, 16},
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
        ASSERT_FALSE(session.open(64)) << c.what;
        std::array<std::uint32_t, 2> got{};
        const auto failure = session.checks(MemoryKind::Flash, 0x0100, got);
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
        (void)session.checks(MemoryKind::Flash, 0x0100, got);
        ASSERT_GE(link.sent.size(), before + 3) << c.what;
        EXPECT_EQ(link.sent[before], std::vector<std::uint8_t>(4, 'U')) << c.what;
        EXPECT_EQ(link.sent[before + 1][0], 'Z') << c.what;
    }
}

TEST(LoaderSession, TheOpeningMustNameVersionTwoAndTheChipsPage) {
    struct Case { std::vector<std::uint8_t> greeting; bool opens; };
    for (const Case& c : {Case{{2, 64, 0, 0x24, 0xF4, 0}, true}, Case{{1, 64, 0, 0x24, 0xF4, 0}, false},
                          Case{{3, 64, 0, 0x24, 0xF4, 0}, false}, Case{{2, 32, 0, 0x24, 0xF4, 0}, false}}) {
        FakeClock clock;
        ScriptedLink link;
        link.clock = &clock;
        link.answer = [&](const std::vector<std::uint8_t>& request) {
            if (request[0] == 'Z') return session_frame('Z', 0, c.greeting);
            return greeting_for(request);
        };
        LoaderSession session(link, clock);
        const auto failure = session.open(64);
        EXPECT_EQ(!failure.has_value(), c.opens) << int{c.greeting[0]} << " " << int{c.greeting[1]};
        EXPECT_EQ(session.is_open(), c.opens);
        // What goes out: Z 04 00 00 "ZRVK" and its check.
        EXPECT_EQ(link.sent[0], session_frame('Z', 0, text("ZRVK")));
    }
}

struct SessionBoard : SimBoard {
    explicit SessionBoard(const char* model = "ATmega328", SimFaults faults = {})
        : SimBoard(model, faults, LoaderKind::Ours), session(link, clock) {
        EXPECT_FALSE(session.open(find_device_model(model)->loader_start == 0x1C00 ? 32 : 64));
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
    ASSERT_FALSE(board.session.checks(MemoryKind::Flash, 0x3F80, checks));
    EXPECT_EQ(checks[0], crc32(board.loader.flash().subspan(0x3F80, 128)));
    EXPECT_EQ(checks[1], crc32(board.loader.flash().subspan(0, 128)));
    EXPECT_EQ(checks[39], crc32(board.loader.flash().subspan(38 * 128, 128)));
    std::array<std::uint32_t, 4> eeprom{};
    ASSERT_FALSE(board.session.checks(MemoryKind::Eeprom, 0x100, eeprom));
    EXPECT_EQ(eeprom[2], crc32(board.loader.eeprom().subspan(0, 128)));  // 512 bytes: wrapped
    std::vector<std::uint8_t> bytes(300);
    ASSERT_FALSE(board.session.read(MemoryKind::Flash, 0x1000, bytes));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), board.loader.flash().begin() + 0x1000));
    ASSERT_FALSE(board.session.read(MemoryKind::Eeprom, 0x1F0, std::span(bytes).first(32)));
    EXPECT_EQ(bytes[16], board.loader.eeprom()[0]);
}

TEST(LoaderSession, ARefusalChangesNothingAndTheNextCommandBringsTheLoaderBack) {
    struct Case { const char* what; std::function<TransactionResult(LoaderSession&)> request; };
    const std::vector<std::uint8_t> page(128, 0x42);
    const Case cases[] = {
        {"erase reaching the loader", [](LoaderSession& s) { return s.erase_range(0x1B00, 3); }},
        {"erase of no unit", [](LoaderSession& s) { return s.erase_range(0x0000, 0); }},
        {"page frame over the loader", [&](LoaderSession& s) {
             s.send_frame(page_frame(0x1BC0, page));
             return s.frame_answer(0x1BC0, 1000);
         }},
        {"page frame off a page", [&](LoaderSession& s) {
             s.send_frame(page_frame(0x0020, page));
             return s.frame_answer(0x0020, 1000);
         }},
    };
    for (const Case& c : cases) {
        SessionBoard board("ATmega8");
        std::fill_n(board.loader.flash().begin(), 0x1C00, 0x00);
        const std::vector<std::uint8_t> loader(board.loader.flash().begin() + 0x1C00, board.loader.flash().end());
        const auto refused = c.request(board.session);
        ASSERT_TRUE(refused.has_value()) << c.what;
        EXPECT_TRUE(refused->wrong_answer) << c.what;
        EXPECT_EQ(refused->status, kStatusRefused) << c.what;
        EXPECT_EQ(std::count(board.loader.flash().begin(), board.loader.flash().begin() + 0x1C00, 0x00), 0x1C00) << c.what;
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), board.loader.flash().begin() + 0x1C00)) << c.what;
        EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Hunt) << c.what;
        // The loader hunts; the session's next command finds it again.
        ASSERT_FALSE(board.session.erase_range(0x1B00, 2)) << c.what;
        EXPECT_EQ(board.loader.flash()[0x1BFF], 0xFF);
        EXPECT_EQ(board.loader.flash()[0x1AFF], 0x00);
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
        const auto answer = board.session.frame_answer(0x0200, 1000);
        ASSERT_TRUE(answer.has_value()) << at;
        EXPECT_EQ(answer->received, 0u) << at;
        EXPECT_EQ(std::count(board.loader.flash().begin(), board.loader.flash().begin() + 0x7C00, 0xFF), 0x7C00) << at;
        // The next command brings the loader back and is answered.
        ASSERT_FALSE(board.session.erase_range(0x0000, 1)) << at;
    }
}

TEST(LoaderSession, AnEepromWriteIsConfirmedByTheCheckOfWhatTheEepromHolds) {
    SessionBoard board;
    const std::vector<std::uint8_t> data{1, 2, 3, 4, 5};
    ASSERT_FALSE(board.session.write_eeprom(0x3FE, data));  // wraps past the 1 KB EEPROM
    EXPECT_EQ(board.loader.eeprom()[0x3FF], 2);
    EXPECT_EQ(board.loader.eeprom()[2], 5);
    // The answer's check is the EEPROM's, not the frame's: a loader that wrote something
    // else is caught, here through an answer spoiled into the check of other bytes.
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
    ASSERT_FALSE(session.open(64));
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
    ASSERT_FALSE(board.session.open(64));
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
        ASSERT_FALSE(board.session.open(64)) << missing;
        std::array<std::uint32_t, 1> check{};
        ASSERT_FALSE(board.session.checks(MemoryKind::Flash, 0x0400, check)) << missing;
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
