// Our loader firmware on the real AVR core, byte by byte on the wire: its start-up
// wait, the plain four-byte commands, the guard on its own first block, the hunt for
// a sync after a line error, and the checked session (frames with a CRC-32 both
// ways, page frames taken in while the previous one programs). Everything runs on
// the core's simulated time; nothing here depends on the speed of the machine.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sim/avr/avr_board.h"
#include "sim/avr/avr_link.h"

namespace zarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kHz = 16'000'000;
constexpr int kBaud = 115200;
constexpr std::array<const char*, 4> kModels{"ATmega8", "ATmega88", "ATmega168", "ATmega328"};
// Simulated microseconds a byte takes on the line.
constexpr std::int64_t kByteUs = 10'000'000 / kBaud;

std::string loader_hex(const AvrChip& chip) {
    return std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(chip.mcu) + "-" + ZARVIK_LOADER_SUFFIX + ".hex";
}

std::string blink(const AvrChip& chip, const char* ext) {
    return std::string(ZARVIK_BLINK_MODELS_DIR) + "/blink-" + std::string(chip.mcu) + ext;
}

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

// A page frame's answer: the CRC-32 of its range as the flash holds it afterwards.
Bytes programmed(std::span<const std::uint8_t> data) { return le32(crc32_of(data)); }

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

Bytes text_bytes(std::string_view s) { return {s.begin(), s.end()}; }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `letter len hi lo`, the data, and the CRC-32 of all of them, low byte first.
Bytes frame(char letter, std::uint8_t len, std::uint16_t address, std::span<const std::uint8_t> data = {}) {
    Bytes out{static_cast<std::uint8_t>(letter), len, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.insert(out.end(), data.begin(), data.end());
    return out + le32(crc32_of(out));
}

Bytes page_frame(std::uint16_t address, std::span<const std::uint8_t> data) {
    return frame('W', static_cast<std::uint8_t>(data.size()), address, data);
}

Bytes packet(char letter, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3) {
    return {static_cast<std::uint8_t>(letter), a1, a2, a3};
}

Bytes address_packet(std::uint32_t address) {
    return packet('A', static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0);
}

const Bytes kOk = text_bytes("OK\r\n");
const Bytes kLoader = text_bytes("Loader");

// The wait count as the host patches it: the low nibbles of the two bytes of the
// ldi at 48, 50, 54 (and the reload copy at 82, 84, 88), low byte of the count first.
void patch_count(std::span<std::uint8_t> block, std::uint32_t count, bool second_copy = true) {
    for (std::size_t base : {std::size_t{48}, std::size_t{82}}) {
        if (base == 82 && !second_copy) break;
        const std::array<std::size_t, 3> at{base, base + 2, base + 6};
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint8_t v = static_cast<std::uint8_t>(count >> (8 * k));
            block[at[k]] = static_cast<std::uint8_t>((block[at[k]] & 0xF0) | (v & 0x0F));
            block[at[k] + 1] = static_cast<std::uint8_t>((block[at[k] + 1] & 0xF0) | (v >> 4));
        }
    }
}

std::uint32_t count_for_ms(std::uint32_t ms) { return kHz / 1000 * ms / 12 + 1; }

// A board with our loader put on by an ISP programmer, the host at 115200 baud with
// time-outs long enough for any answer here.
struct Board {
    explicit Board(const char* model) : board(model, kHz), link(board, kBaud, ReadTimeouts{2000, 50, 600}) {
        EXPECT_TRUE(board.ok()) << board.error();
        EXPECT_TRUE(board.load_flash_hex(loader_hex(board.chip())));
        board.reset();
    }
    // Whatever a test did, no page was written with Z off the page's start.
    ~Board() { EXPECT_EQ(board.misaddressed_page_writes(), 0u) << chip().model; }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const AvrChip& chip() const { return board.chip(); }
    std::uint32_t loader_start() const { return chip().boot_start; }
    std::uint32_t flash_bytes() const { return loader_start() + 1024; }
    std::span<std::uint8_t> flash() { return board.flash(); }
    std::span<std::uint8_t> eeprom() { return board.eeprom(); }
    Bytes flash_copy() { return {board.flash().begin(), board.flash().end()}; }
    Bytes eeprom_copy() { return {board.eeprom().begin(), board.eeprom().end()}; }

    void send(std::span<const std::uint8_t> bytes) { ASSERT_TRUE(link.write(bytes)); }
    void send(std::initializer_list<std::uint8_t> bytes) { send(Bytes(bytes)); }
    Bytes receive(std::size_t n) {
        Bytes out(n);
        out.resize(link.read(out).count);
        return out;
    }
    // Whatever the chip says in the next `ms` of simulated time.
    Bytes listen(std::int64_t ms) {
        AvrLink quiet(board, kBaud, ReadTimeouts{ms, 0, ms});
        Bytes out(4096);
        out.resize(quiet.read(out).count);
        return out;
    }
    void sync() {
        send({'U', 'U', 'U', 'U'});
        ASSERT_EQ(receive(6), kLoader);
    }
    Bytes plain(const Bytes& bytes, std::size_t answer = 4) {
        send(bytes);
        return receive(answer);
    }

    // The answer to a frame already sent: its letter, `len` data bytes, the request's
    // address and a check that matches. Returns the data.
    Bytes answer(char letter, std::uint16_t address, std::size_t len) {
        const Bytes got = receive(4 + len + 4);
        EXPECT_EQ(got.size(), 8 + len) << letter << " at " << address;
        if (got.size() != 8 + len) return {};
        EXPECT_EQ(got[0], static_cast<std::uint8_t>(letter));
        EXPECT_EQ(got[1], len);
        EXPECT_EQ(got[2] << 8 | got[3], address);
        EXPECT_EQ(le32(crc32_of(std::span(got).first(4 + len))), Bytes(got.end() - 4, got.end()));
        return {got.begin() + 4, got.end() - 4};
    }
    Bytes request(char letter, std::uint8_t len, std::uint16_t address, std::size_t answer_len,
                  std::span<const std::uint8_t> data = {}) {
        send(frame(letter, len, address, data));
        return answer(letter, address, answer_len);
    }

    // Opens the session from plain mode; the data of the answer.
    Bytes open() {
        sync();
        return request('Z', 6, static_cast<std::uint16_t>(loader_start() + 6), 6);
    }

    std::vector<std::uint32_t> flash_checks(std::uint16_t address, std::uint8_t n, std::size_t units) {
        const Bytes data = request('C', n, address, 4 * units);
        std::vector<std::uint32_t> out;
        for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
            out.push_back(data[i] | data[i + 1] << 8 | data[i + 2] << 16 | static_cast<std::uint32_t>(data[i + 3]) << 24);
        }
        return out;
    }

    // The plain road's write of a 128-byte block: `B`, `A`, `F` with a2 pages.
    void plain_write(std::uint32_t address, std::span<const std::uint8_t> block, std::uint8_t pages) {
        EXPECT_EQ(plain(packet('B', 0, 0, 0) + Bytes(block.begin(), block.end())), kOk);
        EXPECT_EQ(plain(address_packet(address)), kOk);
        EXPECT_EQ(plain(packet('F', 32, pages, 0)), kOk);
    }

    // Runs until the user program starts; the cycles from the reset, or nothing
    // within `limit_ms`.
    std::optional<std::uint64_t> run_to_program(std::int64_t limit_ms) {
        const std::int64_t until = link.now_ms() + limit_ms;
        while (!board.user_program_after() && link.now_ms() < until) link.sleep_ms(5);
        return board.user_program_after();
    }

    AvrBoard board;
    AvrLink link;
};

// Whether the simulated board runs the CPU on while an application page programs,
// as the chip does; a board that halts it for every page loses the frames sent
// ahead, and the tests of taking frames in meanwhile cannot run on it.
bool cpu_runs_while_a_page_programs() {
    Board b("ATmega328");
    std::fill_n(b.flash().begin(), 64, 0x12);
    b.sync();
    b.send(address_packet(0));
    b.receive(4);
    b.send(packet('E', '0', '0', '0'));
    b.send(Bytes(16, 'x'));
    b.receive(4);
    return b.board.overruns() == 0;
}

#define REQUIRE_READ_WHILE_WRITE()                                                               \
    if (!cpu_runs_while_a_page_programs()) GTEST_SKIP() << "the simulated board halts the CPU " \
                                                          "while any page programs"

void fill_pattern(std::span<std::uint8_t> bytes, unsigned seed) {
    const Bytes r = random_bytes(bytes.size(), seed);
    std::copy(r.begin(), r.end(), bytes.begin());
}

bool same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

// Bytes that the loader, hunting, must not take for anything: a plain address and
// page erase, a session's read and a page frame, half a sync.
Bytes traffic_while_hunting() {
    Bytes data = text_bytes("UUUU") + address_packet(0) + packet('E', '0', '0', '0') + packet('e', 0x80, '0', '0');
    data.resize(128, 'U');
    return address_packet(0) + packet('E', '0', '0', '0') + frame('f', 16, 0) + page_frame(0, data) + text_bytes("UUUA");
}

// After a line error the loader answers nothing, changes nothing, and takes only a
// sync that silence follows; then the plain commands work again.
void expect_hunting(Board& b, const Bytes& flash, const Bytes& eeprom) {
    b.send(traffic_while_hunting());
    EXPECT_TRUE(b.listen(60).empty());
    EXPECT_TRUE(same(b.flash(), flash));
    EXPECT_TRUE(same(b.eeprom(), eeprom));
    b.sync();
    EXPECT_EQ(b.plain(address_packet(0)), kOk);
}

// ---------------------------------------------------------------- the wait

// The signature, version and page size the host reads from the first block, on
// every model, and the clock behind them that the session's opening answers.
TEST(LoaderFirmware, FirstBlockCarriesSignatureVersionPageSizeAndClock) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const auto first = b.flash().subspan(b.loader_start(), 12);
        const Bytes expected = Bytes{'Z', 'R', 'V', 'K', 3, static_cast<std::uint8_t>(b.chip().page_bytes / 2)} + le32(kHz);
        EXPECT_EQ(Bytes(first.begin() + 2, first.end()), expected);
        // The reset vector jumps over them.
        EXPECT_EQ(first[1] & 0xF0, 0xC0);
    }
}

// During the start-up wait only a whole sync counts: a command letter (or a word
// that starts with one, or an opening frame) is noise, the program starts and
// nothing is changed.
TEST(LoaderFirmware, CommandLettersDuringTheWaitChangeNothingAndTheProgramStarts) {
    using namespace std::string_literals;
    const std::array<std::string, 7> inputs{"E000"s, "e\x80"s + "00", "F\x20\x02\x00"s, "D\x05\x00\x00"s, "B\0\0\0"s, "Echo"s, "UUU"s};
    for (const char* model : {"ATmega8", "ATmega328"}) {
        std::vector<Bytes> cases;
        for (const std::string& input : inputs) cases.push_back(text_bytes(input));
        cases.push_back(frame('Z', 6, 0x7C06) + frame('D', 4, 0, Bytes(4, 0)));
        for (const Bytes& input : cases) {
            SCOPED_TRACE(std::string(model) + " " + std::string(input.begin(), input.end()));
            Board b(model);
            ASSERT_TRUE(b.board.load_flash_hex(blink(b.chip(), ".hex")));
            ASSERT_TRUE(b.board.load_eeprom_hex(blink(b.chip(), ".eep")));
            b.board.reset();
            const Bytes flash = b.flash_copy();
            const Bytes eeprom = b.eeprom_copy();
            b.link.sleep_ms(200);
            b.send(input);
            const auto started = b.run_to_program(3000);
            ASSERT_TRUE(started.has_value());
            // One restart of the one-second wait at most.
            EXPECT_LT(*started, 2ull * kHz);
            EXPECT_TRUE(same(b.flash(), flash));
            EXPECT_TRUE(same(b.eeprom(), eeprom));
        }
    }
}

// A GPS talking into RX from the reset on: the wait restarts once, not forever.
TEST(LoaderFirmware, AByteEveryFiftyMillisecondsDelaysTheProgramByOneWaitAtMost) {
    const std::string nmea = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    for (const char* model : {"ATmega8", "ATmega328"}) {
        SCOPED_TRACE(model);
        Board b(model);
        ASSERT_TRUE(b.board.load_flash_hex(blink(b.chip(), ".hex")));
        b.board.reset();
        std::size_t i = 0;
        while (!b.board.user_program_after() && b.link.now_ms() < 3000) {
            b.link.sleep_ms(50);
            const std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(nmea[i++ % nmea.size()])};
            b.send(byte);
        }
        ASSERT_TRUE(b.board.user_program_after());
        const std::uint64_t wait = 12ull * (kHz / 12 + 1);
        EXPECT_GT(*b.board.user_program_after(), wait);
        EXPECT_LT(*b.board.user_program_after(), 2 * wait);
    }
}

// ---------------------------------------------------------------- plain mode

// A plain host's whole exchange on a clean line gets, byte for byte, the answers of
// the plain protocol: "Loader", "OK\r\n" and the 128-byte block. `F` leaves each
// 64-byte page holding exactly the buffer (the other half of a 128-byte chip page
// keeps its bytes), `E` blanks one 64-byte page, `e` 128 EEPROM bytes.
TEST(LoaderFirmware, APlainHostGetsThePlainAnswersByteForByte) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x400), 50);
        fill_pattern(b.eeprom(), 51);
        Bytes flash = b.flash_copy();
        Bytes eeprom = b.eeprom_copy();
        const Bytes block = random_bytes(128, 52);
        const Bytes data = random_bytes(128, 53);
        b.sync();

        // Two pages at 0x100, then one page at 0x240 (half of a 128-byte chip page).
        b.plain_write(0x100, block, 2);
        std::copy(block.begin(), block.end(), flash.begin() + 0x100);
        b.plain_write(0x240, data, 1);
        std::copy_n(data.begin(), 64, flash.begin() + 0x240);
        EXPECT_TRUE(same(b.flash(), flash));
        // Read back through the buffer.
        EXPECT_EQ(b.plain(address_packet(0x100)), kOk);
        EXPECT_EQ(b.plain(packet('f', 0x80, 0, 0)), kOk);
        EXPECT_EQ(b.plain(packet('b', 0, 0, 0), 128), block);
        // EEPROM: a block of 40 bytes written, read back, then 128 bytes erased.
        EXPECT_EQ(b.plain(packet('B', 0, 0, 0) + data), kOk);
        EXPECT_EQ(b.plain(address_packet(0x30)), kOk);
        EXPECT_EQ(b.plain(packet('D', 40, 0, 0)), kOk);
        std::copy_n(data.begin(), 40, eeprom.begin() + 0x30);
        EXPECT_TRUE(same(b.eeprom(), eeprom));
        EXPECT_EQ(b.plain(packet('d', 0x80, 0, 0)), kOk);
        EXPECT_EQ(b.plain(packet('b', 0, 0, 0), 128), Bytes(eeprom.begin() + 0x30, eeprom.begin() + 0xB0));
        EXPECT_EQ(b.plain(address_packet(0x80)), kOk);
        EXPECT_EQ(b.plain(packet('e', 0x80, '0', '0')), kOk);
        std::fill_n(eeprom.begin() + 0x80, 128, 0xFF);
        EXPECT_TRUE(same(b.eeprom(), eeprom));
        // A page erase.
        EXPECT_EQ(b.plain(address_packet(0x140)), kOk);
        EXPECT_EQ(b.plain(packet('E', '0', '0', '0')), kOk);
        std::fill_n(flash.begin() + 0x140, 64, 0xFF);
        EXPECT_TRUE(same(b.flash(), flash));
        // Nothing more came than the answers, and a sync still answers.
        EXPECT_TRUE(b.listen(30).empty());
        b.sync();
    }
}

// Half a second of silence in the middle of a plain packet abandons it; the next
// packet is read as usual.
TEST(LoaderFirmware, SilenceInAPlainPacketAbandonsIt) {
    Board b("ATmega328");
    b.sync();
    b.send({'A', 0x01});
    b.link.sleep_ms(600);
    EXPECT_EQ(b.plain(address_packet(0)), kOk);
    b.sync();
}

// A letter the plain protocol does not know (the version 1 letters among them) or a
// broken sync runs nothing, and nothing of what follows (an address and a page
// erase), until a sync that silence follows.
TEST(LoaderFirmware, APlainLineErrorMakesTheLoaderHunt) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes bad_open = frame('Z', 6, 0x7C06);
    bad_open.back() ^= 0x01;
    const std::vector<Case> cases{
        {"unknown letter", packet('x', 0, 0, 0)},
        {"broken sync", text_bytes("UUUA")},
        {"U then a command", text_bytes("U") + address_packet(0)},
        {"version 1 check", packet('C', 0, 0, 1)},
        {"version 1 range erase", packet('X', 0, 0, 1)},
        {"version 1 page frame", Bytes{'W', 0, 0, 64}},
        {"opening frame with a bad check", bad_open},
    };
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x400), 60);
        const Bytes flash = b.flash_copy();
        const Bytes eeprom = b.eeprom_copy();
        b.sync();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            b.send(c.bytes);
            expect_hunting(b, flash, eeprom);
        }
    }
}

// While hunting, a sync counts only when about 20 ms of silence follow it: bytes
// right behind it (the rest of frames sent ahead) make it no sync. The last four of
// a longer run of `U` are a sync too.
TEST(LoaderFirmware, AHuntingLoaderAnswersOnlyASyncThatSilenceFollows) {
    for (const char* model : {"ATmega8", "ATmega328"}) {
        SCOPED_TRACE(model);
        Board b(model);
        b.sync();
        b.send(packet('x', 0, 0, 0));
        b.send(text_bytes("UUUU"));
        b.link.sleep_ms(8);
        b.send(address_packet(0));
        EXPECT_TRUE(b.listen(100).empty());

        const std::int64_t sent = b.link.now_us() + 4 * kByteUs;
        b.send(text_bytes("UUUU"));
        EXPECT_EQ(b.receive(6), kLoader);
        const std::int64_t quiet = b.link.now_us() - 6 * kByteUs - sent;
        EXPECT_GT(quiet, 15'000);
        EXPECT_LT(quiet, 30'000);
        EXPECT_EQ(b.plain(address_packet(0)), kOk);

        // A frame's check that happens to end in `U`, then the host's sync.
        b.send(packet('x', 0, 0, 0));
        b.send(text_bytes("xUUUUU"));
        EXPECT_EQ(b.receive(6), kLoader);
        EXPECT_EQ(b.plain(address_packet(0)), kOk);
    }
}

// ---------------------------------------------------------------- the first block

// Through the plain `B A F`, only the exact first block whose only change is the
// wait count (both copies alike) is programmed; every other write or erase of the
// loader is answered "OK" and does nothing. An unchanged block is not programmed
// again. After a new count the board starts with it and still answers.
TEST(LoaderFirmware, TheFirstBlockTakesOnlyANewWaitCount) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;  // of the first block, as the buffer
        std::int32_t offset;                 // of the address from the loader's start
        char letter;
        std::uint8_t pages;
    };
    const std::uint32_t count = count_for_ms(300);
    const auto new_count = [count](Bytes& block) { patch_count(block, count); };
    const auto flip = [new_count](std::size_t at, std::uint8_t mask) {
        return [new_count, at, mask](Bytes& block) {
            new_count(block);
            block[at] ^= mask;
        };
    };
    const std::vector<Case> refused{
        {"one copy of the count", [count](Bytes& block) { patch_count(block, count, false); }, 0, 'F', 2},
        {"the reset vector", flip(0, 0x01), 0, 'F', 2},
        {"the signature", flip(3, 0x20), 0, 'F', 2},
        {"the version", flip(6, 0x01), 0, 'F', 2},
        {"a high nibble of the count's ldi", flip(49, 0x10), 0, 'F', 2},
        {"a register of the count's ldi", flip(50, 0x10), 0, 'F', 2},
        {"the nop between", flip(52, 0x01), 0, 'F', 2},
        {"the nop of the copy", flip(86, 0x01), 0, 'F', 2},
        {"the reload's rjmp", flip(90, 0x01), 0, 'F', 2},
        {"the last byte", flip(127, 0x80), 0, 'F', 2},
        {"from 64 bytes below", new_count, -64, 'F', 2},
        {"a single page", new_count, 0, 'F', 1},
        {"the second half", new_count, 64, 'F', 1},
        {"the next block", [](Bytes& block) { block.assign(128, 0); }, 128, 'F', 2},
        // The same low byte of the address as the loader's start, 256 bytes further.
        {"the first block's bytes 256 further in", new_count, 256, 'F', 2},
        {"the copies differing in the count's high byte", flip(88, 0x01), 0, 'F', 2},
        {"the copies differing in the count's high byte's top", flip(55, 0x08), 0, 'F', 2},
        {"the last block", [](Bytes& block) { block.assign(128, 0); }, 1024 - 128, 'F', 2},
        {"an erase of the first block", new_count, 0, 'E', 0},
        {"an erase of its second half", new_count, 64, 'E', 0},
        {"an erase further in", new_count, 0x200, 'E', 0},
    };
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t start = b.loader_start();
        fill_pattern(b.flash().first(start), 70);
        const Bytes flash = b.flash_copy();
        const Bytes first(flash.begin() + start, flash.begin() + start + 128);
        b.sync();
        const auto answered_after = [&](char letter, std::uint8_t pages) {
            const std::int64_t from = b.link.now_us();
            EXPECT_EQ(b.plain(packet(letter, 32, pages, '0')), kOk);
            return b.link.now_us() - from;
        };
        for (const Case& c : refused) {
            SCOPED_TRACE(c.what);
            Bytes block = first;
            c.change(block);
            EXPECT_EQ(b.plain(packet('B', 0, 0, 0) + block), kOk);
            EXPECT_EQ(b.plain(address_packet(static_cast<std::uint32_t>(static_cast<std::int32_t>(start) + c.offset))), kOk);
            EXPECT_LT(answered_after(c.letter, c.pages), 2'000);
            EXPECT_TRUE(same(b.flash(), flash));
        }

        // The block as it is: nothing programs (an erase and a write take 9 ms).
        EXPECT_EQ(b.plain(packet('B', 0, 0, 0) + first), kOk);
        EXPECT_EQ(b.plain(address_packet(start)), kOk);
        EXPECT_LT(answered_after('F', 2), 2'000);
        EXPECT_TRUE(same(b.flash(), flash));

        // A new count: programmed, and a second time not again.
        Bytes block = first;
        new_count(block);
        EXPECT_EQ(b.plain(packet('B', 0, 0, 0) + block), kOk);
        EXPECT_EQ(b.plain(address_packet(start)), kOk);
        EXPECT_GT(answered_after('F', 2), 9'000);
        EXPECT_TRUE(same(b.flash().subspan(start, 128), block));
        EXPECT_LT(answered_after('F', 2), 2'000);
        Bytes expected = flash;
        std::copy(block.begin(), block.end(), expected.begin() + start);
        EXPECT_TRUE(same(b.flash(), expected));

        // The board answers after a reset, and without a host starts after the new wait.
        b.board.reset();
        b.link.sleep_ms(20);
        b.sync();
        b.board.reset();
        ASSERT_TRUE(b.board.load_flash_hex(blink(b.chip(), ".hex")));
        ASSERT_TRUE(same(b.flash().subspan(start, 128), block));
        b.board.reset();
        const auto started = b.run_to_program(1000);
        ASSERT_TRUE(started.has_value());
        EXPECT_GT(*started, 12ull * count);
        EXPECT_LT(*started, 12ull * count + kHz / 1000);
    }
}

// ---------------------------------------------------------------- the session

// `Z 06 start+6` opens the session and answers the version, the page in words and
// the clock; inside the session the same frame is a ping.
TEST(LoaderFirmware, TheOpeningFrameAnswersVersionPageAndClock) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const Bytes expected = Bytes{3, static_cast<std::uint8_t>(b.chip().page_bytes / 2)} + le32(kHz);
        EXPECT_EQ(b.open(), expected);
        EXPECT_EQ(b.request('Z', 6, static_cast<std::uint16_t>(b.loader_start() + 6), 6), expected);
        // A plain command is no longer taken: the session is open.
        b.send(address_packet(0));
        EXPECT_TRUE(b.listen(60).empty());
        b.sync();
    }
}

// `C` answers zlib's CRC-32 of each 128-byte unit (32 at most a frame, also for a
// count of 0 or above 32), `f` and `d` read (n - 1) mod 128 + 1 bytes; all wrap
// past the end of flash or EEPROM as the chip's address bits do.
TEST(LoaderFirmware, ChecksAndReadsAnswerWhatIsThere) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t flash_bytes = b.flash_bytes();
        fill_pattern(b.flash().first(b.loader_start()), 1);
        fill_pattern(b.eeprom(), 2);
        const std::uint32_t eeprom_bytes = static_cast<std::uint32_t>(b.eeprom().size());
        const auto wrapped = [](std::span<std::uint8_t> memory, std::uint32_t at, std::size_t n) {
            Bytes out(n);
            for (std::size_t i = 0; i < n; ++i) out[i] = memory[(at + i) % memory.size()];
            return out;
        };
        const auto unit = [&](std::uint32_t at) { return crc32_of(wrapped(b.flash(), at, 128)); };
        b.open();

        for (std::uint32_t at = 0; at < flash_bytes; at += 32 * 128) {
            const std::size_t units = std::min<std::uint32_t>(32, (flash_bytes - at) / 128);
            const auto checks = b.flash_checks(static_cast<std::uint16_t>(at), static_cast<std::uint8_t>(units), units);
            ASSERT_EQ(checks.size(), units);
            for (std::uint32_t i = 0; i < units; ++i) EXPECT_EQ(checks[i], unit(at + i * 128)) << at + i * 128;
        }
        struct Checks {
            std::uint16_t address;
            std::uint8_t n;
            std::size_t units;
        };
        const std::array<Checks, 4> counts{{
            {static_cast<std::uint16_t>(flash_bytes - 128), 3, 3},  // the last unit, then the first ones
            {0x0080, 0, 32},
            {0x0100, 40, 32},
            {0x0200, 1, 1},
        }};
        for (const auto& c : counts) {
            SCOPED_TRACE(c.address);
            const auto checks = b.flash_checks(c.address, c.n, c.units);
            ASSERT_EQ(checks.size(), c.units);
            for (std::uint32_t i = 0; i < c.units; ++i) EXPECT_EQ(checks[i], unit(c.address + i * 128)) << i;
        }

        struct Read {
            char letter;
            std::uint32_t address;
            std::uint8_t n;
            std::size_t bytes;
        };
        const std::array<Read, 8> reads{{
            {'f', 0x0123, 1, 1},
            {'f', 0x0200, 128, 128},
            {'f', 0x0040, 0, 128},
            {'f', 0x0300, 200, 72},
            {'f', flash_bytes - 16, 48, 48},
            {'d', 0x0007, 33, 33},
            {'d', eeprom_bytes - 100, 128, 128},
            {'d', 0x0000, 0, 128},
        }};
        for (const auto& r : reads) {
            SCOPED_TRACE(std::string(1, r.letter) + " " + std::to_string(r.address));
            const Bytes got = b.request(r.letter, r.n, static_cast<std::uint16_t>(r.address), r.bytes);
            EXPECT_EQ(got, wrapped(r.letter == 'f' ? b.flash() : b.eeprom(), r.address, r.bytes));
        }
        // Blank EEPROM has the check of 128 bytes of 0xFF, read through the session.
        std::fill(b.eeprom().begin(), b.eeprom().end(), 0xFF);
        EXPECT_EQ(b.request('d', 128, 0x0080, 128), Bytes(128, 0xFF));
        // And the sync ends the session: a plain command answers.
        b.sync();
        EXPECT_EQ(b.plain(address_packet(0)), kOk);
    }
}

// `D` writes its bytes into the EEPROM and answers with what the EEPROM holds there
// once the last is written; bytes that hold their value already are not written
// again (the answer then comes at once). Addresses wrap at the EEPROM's end.
TEST(LoaderFirmware, EepromFramesAnswerWhatTheEepromNowHolds) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.eeprom(), 80);
        Bytes eeprom = b.eeprom_copy();
        const std::uint32_t size = static_cast<std::uint32_t>(eeprom.size());
        const std::int64_t byte_us = b.chip().eeprom_write_us;
        b.open();
        struct Write {
            std::uint32_t address;
            Bytes data;
        };
        const std::vector<Write> writes{
            {0x0010, random_bytes(20, 81)},
            {0x0000, Bytes(1, 0x5A)},
            {size - 8, random_bytes(16, 82)},  // wraps to the start
            {0x0100, Bytes(128, 0xFF)},        // an erase
        };
        for (const auto& w : writes) {
            SCOPED_TRACE(w.address);
            std::size_t changed = 0;
            for (std::size_t i = 0; i < w.data.size(); ++i) {
                std::uint8_t& cell = eeprom[(w.address + i) % size];
                changed += cell != w.data[i];
                cell = w.data[i];
            }
            const std::uint8_t len = static_cast<std::uint8_t>(w.data.size());
            std::int64_t from = b.link.now_us();
            EXPECT_EQ(b.request('D', len, static_cast<std::uint16_t>(w.address), w.data.size(), w.data), w.data);
            EXPECT_GE(b.link.now_us() - from, static_cast<std::int64_t>(changed) * byte_us);
            EXPECT_TRUE(same(b.eeprom(), eeprom));
            // The same bytes again: nothing to write.
            from = b.link.now_us();
            EXPECT_EQ(b.request('D', len, static_cast<std::uint16_t>(w.address), w.data.size(), w.data), w.data);
            EXPECT_LT(b.link.now_us() - from, static_cast<std::int64_t>(2 * (8 + w.data.size()) + 8) * kByteUs + 3'000);
        }
        b.sync();
    }
}

// Frames program exactly their bytes: half a 128-byte page, a frame across two chip
// pages, a frame of 0xFF over data, odd addresses and lengths; the rest of each chip
// page keeps its bytes. The host sends three frames ahead, and a check right after
// the last frame sees it programmed.
TEST(LoaderFirmware, PageFramesProgramExactlyTheirBytesAndKeepTheRestOfThePage) {
    REQUIRE_READ_WHILE_WRITE();
    struct Write {
        std::uint16_t address;
        std::size_t n;
    };
    const std::array<Write, 9> writes{{{0x0040, 64},
                                       {0x00C0, 128},
                                       {0x0200, 128},
                                       {0x0300, 64},
                                       {0x0380, 128},
                                       {0x0400, 128},
                                       {0x0501, 3},
                                       {0x0580, 1},
                                       {0x0611, 100}}};
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x800), 4);
        Bytes expected(b.flash().begin(), b.flash().begin() + 0x800);
        b.open();

        std::vector<Bytes> frames;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            Bytes data = random_bytes(writes[i].n, 10 + static_cast<unsigned>(i));
            if (i == 4) std::fill(data.begin(), data.end(), 0xFF);
            std::copy(data.begin(), data.end(), expected.begin() + writes[i].address);
            frames.push_back(page_frame(writes[i].address, data));
        }
        std::size_t sent = 0;
        for (; sent < 3; ++sent) b.send(frames[sent]);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            if (sent == writes.size()) {
                // A check straight behind the last frame, without waiting.
                b.send(frame('C', 16, 0));
                ++sent;
            } else if (sent < writes.size()) {
                // Keep three frames on their way.
                b.send(frames[sent++]);
            }
            EXPECT_EQ(b.answer('W', writes[i].address, 4),
                      programmed(std::span(expected).subspan(writes[i].address, writes[i].n)))
                << i;
        }
        const Bytes answer = b.answer('C', 0, 64);
        ASSERT_EQ(answer.size(), 64u);
        for (std::size_t u = 0; u < 16; ++u) {
            const Bytes le = le32(crc32_of(std::span(expected).subspan(u * 128, 128)));
            EXPECT_TRUE(std::equal(le.begin(), le.end(), answer.begin() + static_cast<std::ptrdiff_t>(4 * u))) << u;
        }
        const Bytes image(b.flash().begin(), b.flash().begin() + 0x800);
        for (std::size_t i = 0; i < image.size(); ++i) ASSERT_EQ(image[i], expected[i]) << std::hex << i;
        EXPECT_EQ(b.board.overruns(), 0u);
        b.sync();
    }
}

// A frame sent alone answers once its pages are programmed, and a page costs only
// what it needs: a page that becomes blank is erased and not written, one that is
// blank already or keeps its bytes is not touched, a changed one is erased and
// written (4.5 ms each).
TEST(LoaderFirmware, APageFrameTakesOnlyTheTimeItsPagesNeed) {
    struct Case {
        const char* what;
        bool blank_before;
        std::uint8_t fill;  // the frame's data: 0xFF, or the flash's own bytes when 0
        std::int64_t busy_us;
    };
    const std::array<Case, 4> cases{{
        {"an erase of data", false, 0xFF, 4500},
        {"an erase of a blank page", true, 0xFF, 0},
        {"the same bytes", false, 0, 0},
        {"new bytes", false, 0x5A, 9000},
    }};
    for (const char* model : kModels) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(model) + " " + c.what);
            Board b(model);
            const std::uint32_t page = b.chip().page_bytes;
            fill_pattern(b.flash().first(0x400), 90);
            if (c.blank_before) std::fill_n(b.flash().begin() + 0x200, page, 0xFF);
            Bytes data(b.flash().begin() + 0x200, b.flash().begin() + 0x200 + page);
            if (c.fill != 0) std::fill(data.begin(), data.end(), c.fill);
            b.open();
            const std::int64_t from = b.link.now_us();
            b.send(page_frame(0x200, data));
            EXPECT_EQ(b.answer('W', 0x200, 4), programmed(data));
            const std::int64_t took = b.link.now_us() - from - static_cast<std::int64_t>(8 + page + 12) * 10'000'000 / kBaud;
            EXPECT_GE(took, c.busy_us);
            // Besides the pages: the frame's check, and the check of the page as the flash
            // then holds it (about 9 us a byte at 16 MHz).
            EXPECT_LT(took, c.busy_us + 1'500 + static_cast<std::int64_t>(page) * 9);
            EXPECT_TRUE(same(b.flash().subspan(0x200, page), data));
        }
    }
}

// A reset in the middle of a stream of page frames (a board unplugged, a button
// pressed) harms nothing beyond the pages being written: the loader's section, the
// EEPROM and the rest of the flash stay as they were, the loader answers after the
// reset, and the same frames then write the file.
TEST(LoaderFirmware, AResetInTheMiddleOfAWriteHarmsNothingElse) {
    constexpr std::uint16_t kAt = 0x0400;
    const Bytes data = random_bytes(384, 77);
    for (const char* model : kModels) {
        for (const std::int64_t after_us : {3'000, 14'000, 26'000, 40'000}) {
            SCOPED_TRACE(std::string(model) + " reset after " + std::to_string(after_us) + " us");
            Board b(model);
            fill_pattern(b.flash().first(0x1000), 31);
            fill_pattern(b.eeprom(), 32);
            const Bytes flash = b.flash_copy();
            const Bytes eeprom = b.eeprom_copy();
            b.open();
            for (std::uint16_t k = 0; k < 3; ++k) {
                b.send(page_frame(static_cast<std::uint16_t>(kAt + 128 * k), std::span(data).subspan(128 * k, 128)));
            }
            b.board.run_until(b.board.cycle() + b.board.cycles_from_us(after_us));
            b.board.reset();
            // The rest of the frames may still be on the line: noise to the new wait.
            b.listen(60);
            b.sync();
            for (std::size_t a = 0; a < flash.size(); ++a) {
                if (a >= kAt && a < kAt + data.size()) continue;
                ASSERT_EQ(b.flash()[a], flash[a]) << "flash at " << a;
            }
            EXPECT_TRUE(same(b.eeprom(), eeprom));
            b.request('Z', 6, static_cast<std::uint16_t>(b.loader_start() + 6), 6);
            for (std::uint16_t k = 0; k < 3; ++k) {
                const auto part = std::span(data).subspan(128 * k, 128);
                b.send(page_frame(static_cast<std::uint16_t>(kAt + 128 * k), part));
                EXPECT_EQ(b.answer('W', static_cast<std::uint16_t>(kAt + 128 * k), 4), programmed(part));
            }
            EXPECT_TRUE(same(b.flash().subspan(kAt, data.size()), data));
        }
    }
}

// Where the CPU stops while a page programs (the loader's own section, which
// reaches below the loader on every chip), the line cannot be read: such a frame is
// answered only when it is programmed, and the host sends it alone. A frame right up
// to the loader's start is allowed.
TEST(LoaderFirmware, AFrameWhereTheCpuStopsIsAnsweredOnceProgrammed) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t top = b.loader_start() - 128;
        ASSERT_GE(top, b.chip().nrww_start);
        fill_pattern(b.flash().subspan(b.chip().nrww_start - 256, b.loader_start() - b.chip().nrww_start + 256), 7);
        Bytes expected = b.flash_copy();
        b.open();
        struct Write {
            std::uint32_t address;
            std::size_t n;
        };
        // The last frame below the loader, half of it, and one across the boundary.
        const std::array<Write, 3> writes{{{top, 128}, {top + 64, 64}, {b.chip().nrww_start - 64, 128}}};
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const Bytes data = random_bytes(writes[i].n, 40 + static_cast<unsigned>(i));
            std::copy(data.begin(), data.end(), expected.begin() + writes[i].address);
            b.send(page_frame(static_cast<std::uint16_t>(writes[i].address), data));
            EXPECT_EQ(b.answer('W', static_cast<std::uint16_t>(writes[i].address), 4), programmed(data));
            EXPECT_TRUE(same(b.flash(), expected)) << i;
        }
        EXPECT_EQ(b.board.overruns(), 0u);
        b.sync();
    }
}

// In a session, a frame that fails its check, a letter that starts no frame (plain
// commands included, `S` among them), a page frame that reaches the loader and a
// `U` that begins no sync all run nothing and answer nothing; the loader hunts.
// Frames sent ahead behind the faulty one (one of them with a sync and plain
// packets in its data) are not taken either.
TEST(LoaderFirmware, ASessionFaultRunsNothingAndMakesTheLoaderHunt) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint16_t start = static_cast<std::uint16_t>(b.loader_start());
        fill_pattern(b.flash().first(start), 5);
        fill_pattern(b.eeprom(), 8);
        const Bytes flash = b.flash_copy();
        const Bytes eeprom = b.eeprom_copy();
        const Bytes data = random_bytes(128, 20);
        const Bytes good = page_frame(0x0100, data);

        const auto damaged = [](Bytes f, std::size_t at, std::uint8_t mask) {
            f[at] ^= mask;
            return f;
        };
        Bytes dropped = good;
        dropped.erase(dropped.begin() + 50);
        struct Case {
            const char* what;
            Bytes bytes;
        };
        const std::vector<Case> cases{
            {"page frame, check", damaged(good, good.size() - 1, 0x01)},
            {"page frame, data", damaged(good, 20, 0x40)},
            {"page frame, address", damaged(good, 2, 0x01)},
            {"page frame, length", damaged(good, 1, 0x01)},
            {"page frame that lost a byte", dropped},
            {"EEPROM frame, check", damaged(frame('D', 16, 0x10, Bytes(16, 0x00)), 23, 0x10)},
            {"read frame, check", damaged(frame('f', 16, 0x10), 7, 0x80)},
            {"opening frame, check", damaged(frame('Z', 6, static_cast<std::uint16_t>(start + 6)), 6, 0x04)},
            {"unknown letter", frame('x', 16, 0)},
            {"plain A", address_packet(0)},
            {"plain B", packet('B', 0, 0, 0) + Bytes(128, 0)},
            {"plain E", packet('E', '0', '0', '0')},
            {"plain e", packet('e', 0x80, '0', '0')},
            {"plain S", packet('S', '0', '0', '0')},
            {"page frame reaching the loader", page_frame(static_cast<std::uint16_t>(start - 64), data)},
            {"page frame into the loader", page_frame(start, Bytes(64, 0))},
            {"page frame past the top of the address space", page_frame(0xFFC0, Bytes(64, 0))},
            {"U, then no sync", text_bytes("UUUx")},
            {"U, then a frame", text_bytes("U") + frame('f', 16, 0)},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            b.open();
            b.send(c.bytes);
            // Good frames sent ahead behind the faulty one.
            b.send(good);
            expect_hunting(b, flash, eeprom);
            EXPECT_FALSE(b.board.user_program_after().has_value());
        }
        // After a new opening the same good frame is taken.
        b.open();
        b.send(good);
        EXPECT_EQ(b.answer('W', 0x0100, 4), programmed(data));
        EXPECT_TRUE(same(b.flash().subspan(0x100, 128), data));
        b.sync();
    }
}

// A sync where a frame would start answers "Loader" at once (no silence needed) and
// ends the session: plain commands are taken again, session frames no longer.
TEST(LoaderFirmware, ASyncInASessionAnswersAtOnceAndEndsIt) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x400), 9);
        const Bytes flash = b.flash_copy();
        b.open();
        const std::int64_t from = b.link.now_us();
        b.sync();
        EXPECT_LT(b.link.now_us() - from, 10 * kByteUs + 2'000);
        EXPECT_EQ(b.plain(address_packet(0x0100)), kOk);
        // A page frame is no plain command: nothing programs, the loader hunts.
        b.send(page_frame(0x0100, Bytes(128, 0)));
        EXPECT_TRUE(b.listen(60).empty());
        EXPECT_TRUE(same(b.flash(), flash));
        b.sync();
        EXPECT_EQ(b.plain(address_packet(0)), kOk);
    }
}

// Half a second without a byte in a session, between frames or inside one, ends
// it: the loader hunts, and what comes after the silence is not taken.
TEST(LoaderFirmware, SilenceInASessionMakesTheLoaderHunt) {
    for (const char* model : {"ATmega8", "ATmega328"}) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x400), 6);
        const Bytes flash = b.flash_copy();
        const Bytes eeprom = b.eeprom_copy();
        b.open();
        // A pause shorter than that is fine.
        b.link.sleep_ms(400);
        EXPECT_EQ(b.request('f', 4, 0, 4), Bytes(flash.begin(), flash.begin() + 4));

        b.link.sleep_ms(600);
        b.send(frame('f', 4, 0));
        expect_hunting(b, flash, eeprom);

        b.open();
        const Bytes f = page_frame(0x0000, Bytes(64, 0x11));
        b.send(std::span(f).first(30));
        b.link.sleep_ms(600);
        b.send(std::span(f).subspan(30));
        expect_hunting(b, flash, eeprom);
    }
}

// A page frame may end exactly at the loader's start, not a byte further; a `D`, `W`
// or `F` whose `len` is 0 or above the 128 bytes of the frame buffer is refused
// however well its check matches, and runs nothing.
TEST(LoaderFirmware, FramesReachUpToTheLoaderAndNoFurtherThanTheirBuffer) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const auto start = static_cast<std::uint16_t>(b.loader_start());
        fill_pattern(b.flash().first(start), 40);
        fill_pattern(b.eeprom(), 41);
        Bytes flash = b.flash_copy();
        const Bytes eeprom = b.eeprom_copy();
        b.open();
        const Bytes last{0x5A};
        EXPECT_EQ(b.request('W', 1, static_cast<std::uint16_t>(start - 1), 4, last), programmed(last));
        flash[start - 1] = 0x5A;
        EXPECT_TRUE(same(b.flash(), flash));

        struct Case {
            const char* what;
            Bytes bytes;
        };
        std::vector<Case> cases{{"two bytes from the last byte below the loader",
                                 page_frame(static_cast<std::uint16_t>(start - 1), Bytes{1, 2})}};
        for (const int len : {0, 129, 249, 252, 255}) {
            const Bytes data = random_bytes(static_cast<std::size_t>(len), static_cast<unsigned>(len));
            for (const char letter : {'D', 'W', 'F'}) {
                const auto at = static_cast<std::uint16_t>(letter == 'F' ? start : 0x40);
                Bytes f{static_cast<std::uint8_t>(letter), static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(at >> 8),
                        static_cast<std::uint8_t>(at)};
                f.insert(f.end(), data.begin(), data.end());
                cases.push_back({"a frame whose len the buffer cannot hold", f + le32(crc32_of(f))});
            }
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what + std::string(" ") + std::to_string(c.bytes[0]) + " " + std::to_string(c.bytes[1]));
            b.open();
            b.send(c.bytes);
            expect_hunting(b, flash, eeprom);
        }
    }
}

// The divisor for `baud` with the UART's double speed.
std::uint16_t divisor_for(int baud) { return static_cast<std::uint16_t>(kHz / 8 / static_cast<std::uint32_t>(baud) - 1); }

// `R` answers at the old speed, then the chip runs at the new one: the ping, reads and
// page frames work there. Every way back leads to the base speed: a sync at the new
// speed (answered there), a damaged frame, half a second of silence, a reset, and the
// host's own recovery from the middle of a frame (the base speed and a run of `U`
// that completes whatever the loader was reading).
TEST(LoaderFirmware, TheSpeedSwitchAndEveryWayBack) {
    enum class Back { Sync, DamagedFrame, Silence, Reset, RecoveryMidFrame };
    const Bytes greeting3_tail = le32(kHz);
    for (const char* model : kModels) {
        for (const int baud : {1'000'000, 500'000, 250'000}) {
            for (const Back back : {Back::Sync, Back::DamagedFrame, Back::Silence, Back::Reset, Back::RecoveryMidFrame}) {
                SCOPED_TRACE(std::string(model) + " " + std::to_string(baud) + " way back " + std::to_string(static_cast<int>(back)));
                Board b(model);
                fill_pattern(b.flash().first(0x400), 77);
                const Bytes expected = Bytes{3, static_cast<std::uint8_t>(b.chip().page_bytes / 2)} + greeting3_tail;
                ASSERT_EQ(b.open(), expected);
                const std::uint16_t ubrr = divisor_for(baud);
                EXPECT_TRUE(b.request('R', 0, ubrr, 0).empty());
                b.link.set_baud(baud);
                EXPECT_EQ(b.board.uart_baud(), baud);
                const auto ping = static_cast<std::uint16_t>(b.loader_start() + 6);
                EXPECT_EQ(b.request('Z', 6, ping, 6), expected);
                const Bytes data = random_bytes(128, 78);
                EXPECT_EQ(b.request('W', 128, 0x0200, 4, data), programmed(data));
                EXPECT_EQ(b.request('f', 128, 0x0200, 128), data);
                switch (back) {
                    case Back::Sync:
                        b.sync();
                        break;
                    case Back::DamagedFrame: {
                        Bytes f = frame('f', 16, 0);
                        f.back() ^= 0x01;
                        b.send(f);
                        b.link.sleep_ms(5);
                        break;
                    }
                    case Back::Silence:
                        b.link.sleep_ms(600);
                        break;
                    case Back::Reset:
                        b.board.reset();
                        break;
                    case Back::RecoveryMidFrame:
                    {
                        const Bytes f = page_frame(0x0300, data);
                        b.send(std::span(f).first(60));
                    }
                        break;
                }
                b.link.set_baud(kBaud);
                if (back == Back::RecoveryMidFrame) {
                    const std::int64_t from = b.link.now_us();
                    // At the base speed each 0xFF makes one byte at the high one (a single
                    // falling edge): 140 of them end the longest frame. A run of `U` would
                    // not do: a receiver that lost its framing in it reads `U` for ever.
                    b.send(Bytes(140, 0xFF) + text_bytes("UUUU"));
                    EXPECT_EQ(b.receive(6), kLoader);
                    EXPECT_LT(b.link.now_us() - from, 100'000);
                } else {
                    b.sync();
                }
                EXPECT_EQ(b.board.uart_baud(), static_cast<int>(kHz / 8 / (divisor_for(kBaud) + 1u)));
                EXPECT_EQ(b.plain(address_packet(0x0200)), kOk);
                EXPECT_TRUE(same(b.flash().subspan(0x200, 128), data));
                EXPECT_FALSE(same(b.flash().subspan(0x300, 128), data));
            }
        }
    }
}

// The figure for the README: a 31 KB image through `W` at 115200 baud on an
// ATmega328 at 16 MHz, three frames ahead, those that reach the NRWW section alone,
// in simulated time; then its checks through `C` frames.
TEST(LoaderFirmware, ThirtyOneKilobytesGoAtTheSpeedOfTheLine) {
    REQUIRE_READ_WHILE_WRITE();
    Board b("ATmega328");
    const std::uint32_t size = b.loader_start();
    const Bytes image = random_bytes(size, 30);
    b.open();
    const std::int64_t begin = b.link.now_us();
    std::deque<std::uint16_t> waiting;
    std::uint32_t next = 0;
    std::size_t answered = 0;
    const std::uint32_t nrww = b.chip().nrww_start;
    while (answered < size / 128) {
        // Frames where the CPU stops go alone.
        while (waiting.size() < 3 && next < size && (next + 128 <= nrww || waiting.empty()) &&
               (waiting.empty() || waiting.back() + 128u <= nrww)) {
            b.send(page_frame(static_cast<std::uint16_t>(next), std::span(image).subspan(next, 128)));
            waiting.push_back(static_cast<std::uint16_t>(next));
            next += 128;
        }
        ASSERT_EQ(b.answer('W', waiting.front(), 4), programmed(std::span(image).subspan(waiting.front(), 128))) << answered;
        waiting.pop_front();
        ++answered;
    }
    const std::int64_t took = b.link.now_us() - begin;
    const std::int64_t frames = size / 128;
    const std::int64_t wire = frames * 136 * 10'000'000 / kBaud;
    // 24 frames go alone, each waiting for 9 ms of programming, the check of what was
    // programmed and its answer.
    const std::int64_t alone = (size - nrww) / 128 * (9000 + 1200 + 12 * kByteUs);
    std::printf("31 KB through W at 115200 baud: %.3f s (the bytes alone %.3f s)\n", static_cast<double>(took) / 1e6,
                static_cast<double>(wire) / 1e6);
    RecordProperty("microseconds", std::to_string(took));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.flash().begin()));
    // A frame's pages (9 ms), its check as it comes in and the check of what the flash
    // then holds (1 ms each), and its answer (1 ms) take about as long as the next frame
    // takes on the line: the loader keeps up within a few per cent.
    EXPECT_LT(took, wire * 110 / 100 + alone);
    EXPECT_EQ(b.board.overruns(), 0u);

    // The verify by checks: one frame of 32 units after the other, and all of them
    // sent at once.
    for (bool ahead : {false, true}) {
        const std::int64_t verify_begin = b.link.now_us();
        std::vector<std::uint32_t> checks;
        const auto collect = [&](std::uint32_t at) {
            const std::size_t units = std::min<std::uint32_t>(32, (size - at) / 128);
            const Bytes data = b.answer('C', static_cast<std::uint16_t>(at), 4 * units);
            for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
                checks.push_back(data[i] | data[i + 1] << 8 | data[i + 2] << 16 | static_cast<std::uint32_t>(data[i + 3]) << 24);
            }
        };
        for (std::uint32_t at = 0; at < size; at += 32 * 128) {
            b.send(frame('C', static_cast<std::uint8_t>(std::min<std::uint32_t>(32, (size - at) / 128)), static_cast<std::uint16_t>(at)));
            if (!ahead) collect(at);
        }
        if (ahead) {
            for (std::uint32_t at = 0; at < size; at += 32 * 128) collect(at);
        }
        const std::int64_t verify = b.link.now_us() - verify_begin;
        std::printf("Its checks (%s): %.3f s\n", ahead ? "all frames at once" : "one frame at a time", static_cast<double>(verify) / 1e6);
        ASSERT_EQ(checks.size(), size / 128);
        for (std::uint32_t i = 0; i < checks.size(); ++i) EXPECT_EQ(checks[i], crc32_of(std::span(image).subspan(i * 128, 128)));
    }
    EXPECT_EQ(b.board.overruns(), 0u);
}

}  // namespace
}  // namespace zarvik
