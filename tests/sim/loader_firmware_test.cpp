// Our loader firmware on the real AVR core, byte by byte on the wire: its start-up
// wait, and the commands only our loader has (checks, range erase, checked page
// frames taken in while the previous one programs). Everything runs on the core's
// simulated time; nothing here depends on the speed of the machine.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "memory/intel_hex_loader.h"
#include "sim/avr_board.h"
#include "sim/avr_link.h"

namespace zarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kHz = 16'000'000;
constexpr int kBaud = 115200;
constexpr std::array<const char*, 4> kModels{"ATmega8", "ATmega88", "ATmega168", "ATmega328"};

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

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// `W hi lo n`, the data, and the CRC-32 of `hi lo n` and the data.
Bytes frame(std::uint16_t address, std::span<const std::uint8_t> data) {
    Bytes checked{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                  static_cast<std::uint8_t>(data.size())};
    checked.insert(checked.end(), data.begin(), data.end());
    Bytes out{'W'};
    out.insert(out.end(), checked.begin(), checked.end());
    const Bytes check = le32(crc32_of(checked));
    out.insert(out.end(), check.begin(), check.end());
    return out;
}

Bytes status(std::uint16_t address, std::uint8_t code) {
    return {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), code};
}

// A board with our loader put on by an ISP programmer, the host at 115200 baud with
// time-outs long enough for any answer here.
struct Board {
    explicit Board(const char* model) : board(model, kHz), link(board, kBaud, ReadTimeouts{2000, 50, 600}) {
        EXPECT_TRUE(board.ok()) << board.error();
        EXPECT_TRUE(board.load_flash_hex(loader_hex(board.chip())));
        board.reset();
    }

    const AvrChip& chip() const { return board.chip(); }
    std::uint32_t loader_start() const { return chip().boot_start; }
    std::span<std::uint8_t> flash() { return board.flash(); }
    std::span<std::uint8_t> eeprom() { return board.eeprom(); }

    void send(std::span<const std::uint8_t> bytes) { ASSERT_TRUE(link.write(bytes)); }
    void send(std::initializer_list<std::uint8_t> bytes) { send(Bytes(bytes)); }
    Bytes receive(std::size_t n) {
        Bytes out(n);
        out.resize(link.read(out).count);
        return out;
    }
    std::string text(std::size_t n) {
        const Bytes b = receive(n);
        return {b.begin(), b.end()};
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
        ASSERT_EQ(text(6), "Loader");
    }

    std::vector<std::uint32_t> checks(char letter, std::uint16_t address, std::uint8_t n) {
        send({static_cast<std::uint8_t>(letter), static_cast<std::uint8_t>(address >> 8),
              static_cast<std::uint8_t>(address), n});
        const std::size_t units = n == 0 ? 256 : n;
        const Bytes answer = receive(4 * units);
        std::vector<std::uint32_t> out;
        for (std::size_t i = 0; i + 4 <= answer.size(); i += 4) {
            out.push_back(answer[i] | answer[i + 1] << 8 | answer[i + 2] << 16 | static_cast<std::uint32_t>(answer[i + 3]) << 24);
        }
        return out;
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
    b.send({'A', 0, 0, 0});
    b.receive(4);
    b.send({'E', '0', '0', '0'});
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

// The signature and the page size the host reads from the first block, on every
// model and both clocks.
TEST(LoaderFirmware, FirstBlockCarriesSignatureVersionAndPageSize) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const auto first = b.flash().subspan(b.loader_start(), 8);
        const Bytes expected{'Z', 'R', 'V', 'K', 1, static_cast<std::uint8_t>(b.chip().page_bytes / 2)};
        EXPECT_EQ(Bytes(first.begin() + 2, first.end()), expected);
        // The reset vector jumps over them.
        EXPECT_EQ(first[1] & 0xF0, 0xC0);
    }
}

// During the start-up wait only a whole sync counts: a command letter (or a word
// that starts with one) is noise, the program starts and nothing is changed.
TEST(LoaderFirmware, CommandLettersDuringTheWaitChangeNothingAndTheProgramStarts) {
    using namespace std::string_literals;
    const std::array<std::string, 7> inputs{"E000"s, "e\x80"s + "00", "F\x20\x02\x00"s, "D\x05\x00\x00"s, "B\0\0\0"s, "Echo"s, "UUU"s};
    for (const char* model : {"ATmega8", "ATmega328"}) {
        for (const std::string& input : inputs) {
            SCOPED_TRACE(std::string(model) + " " + input);
            Board b(model);
            ASSERT_TRUE(b.board.load_flash_hex(blink(b.chip(), ".hex")));
            ASSERT_TRUE(b.board.load_eeprom_hex(blink(b.chip(), ".eep")));
            b.board.reset();
            const Bytes flash(b.flash().begin(), b.flash().end());
            const Bytes eeprom(b.eeprom().begin(), b.eeprom().end());
            b.link.sleep_ms(200);
            b.send(Bytes(input.begin(), input.end()));
            const auto started = b.run_to_program(3000);
            ASSERT_TRUE(started.has_value());
            // One restart of the one-second wait at most.
            EXPECT_LT(*started, 2ull * kHz);
            EXPECT_TRUE(std::equal(flash.begin(), flash.end(), b.flash().begin()));
            EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), b.eeprom().begin()));
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

// `C` and `c` answer zlib's CRC-32 of each 128-byte unit, and wrap past the end as
// the chip's address bits do.
TEST(LoaderFirmware, ChecksAreZlibsCrc32OfWhatIsThere) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t flash_bytes = b.loader_start() + 1024;
        fill_pattern(b.flash().first(b.loader_start()), 1);
        fill_pattern(b.eeprom(), 2);
        b.sync();

        const auto unit = [&](std::span<std::uint8_t> memory, std::uint32_t at) {
            return crc32_of(memory.subspan(at % memory.size(), 128));
        };
        const auto all = b.checks('C', 0, static_cast<std::uint8_t>(flash_bytes / 128));
        ASSERT_EQ(all.size(), flash_bytes / 128);
        for (std::uint32_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], unit(b.flash(), i * 128)) << i;
        // From 0x7F80 on: the last unit of the chip, then its first ones again.
        const auto wrapped = b.checks('C', 0x7F80, 3);
        ASSERT_EQ(wrapped.size(), 3u);
        for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(wrapped[i], unit(b.flash(), 0x7F80 + i * 128)) << i;

        const std::uint32_t eeprom_bytes = static_cast<std::uint32_t>(b.eeprom().size());
        const auto data = b.checks('c', 0, static_cast<std::uint8_t>(eeprom_bytes / 128 + 2));
        ASSERT_EQ(data.size(), eeprom_bytes / 128 + 2);
        for (std::uint32_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i], unit(b.eeprom(), i * 128)) << i;
        // Blank EEPROM has the check of 128 bytes of 0xFF.
        std::fill(b.eeprom().begin(), b.eeprom().end(), 0xFF);
        const Bytes blank(128, 0xFF);
        EXPECT_EQ(b.checks('c', 0x0080, 1), std::vector<std::uint32_t>{crc32_of(blank)});
        // And the loader answers the plain commands after them.
        b.sync();
    }
}

// `X` erases exactly the pages of its range, answers when done, and refuses a range
// that reaches the loader (or starts off a 128-byte boundary) without erasing.
TEST(LoaderFirmware, RangeEraseBlanksItsPagesAndNeverReachesTheLoader) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t start = b.loader_start();
        fill_pattern(b.flash().first(start), 3);
        // Some pages of the range are blank already.
        std::fill_n(b.flash().begin() + 0x100, 0x80, 0xFF);
        const Bytes loader(b.flash().begin() + start, b.flash().begin() + start + 1024);
        b.sync();

        b.send({'X', 0x00, 0x80, 3});
        EXPECT_EQ(b.receive(3), status(0x0080, 0));
        Bytes expected(b.flash().begin(), b.flash().begin() + start);
        std::fill(expected.begin() + 0x80, expected.begin() + 0x200, 0xFF);
        Bytes image(b.flash().begin(), b.flash().begin() + start);
        EXPECT_EQ(image, expected);

        struct Refused {
            std::uint16_t address;
            std::uint8_t n;
        };
        const std::array<Refused, 4> refused{{
            {static_cast<std::uint16_t>(start - 0x100), 3},  // its last page is the loader's first
            {static_cast<std::uint16_t>(start), 1},
            {0x0040, 1},  // not on a 128-byte boundary
            {0x0000, 0},  // 256 units: all 32 KB
        }};
        for (const auto& r : refused) {
            SCOPED_TRACE(r.address);
            b.send({'X', static_cast<std::uint8_t>(r.address >> 8), static_cast<std::uint8_t>(r.address), r.n});
            EXPECT_EQ(b.receive(3), status(r.address, 2));
        }
        image.assign(b.flash().begin(), b.flash().begin() + start);
        EXPECT_EQ(image, expected);
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), b.flash().begin() + start));

        // The range right up to the loader is allowed, and leaves the loader whole.
        b.send({'X', static_cast<std::uint8_t>((start - 0x100) >> 8), 0x00, 2});
        EXPECT_EQ(b.receive(3), status(static_cast<std::uint16_t>(start - 0x100), 0));
        EXPECT_TRUE(std::all_of(b.flash().begin() + start - 0x100, b.flash().begin() + start, [](std::uint8_t v) { return v == 0xFF; }));
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), b.flash().begin() + start));
        b.sync();
    }
}

// Frames program exactly their bytes: half a 128-byte page, a frame across two chip
// pages, a frame of 0xFF over data; the rest of each chip page keeps its bytes. The
// host sends three frames ahead, and a check right after the last frame sees it
// programmed.
TEST(LoaderFirmware, FramesProgramExactlyTheirBytesAndKeepTheRestOfThePage) {
    REQUIRE_READ_WHILE_WRITE();
    struct Write {
        std::uint16_t address;
        std::size_t n;
    };
    const std::array<Write, 6> writes{{{0x0040, 64}, {0x00C0, 128}, {0x0200, 128}, {0x0300, 64}, {0x0380, 128}, {0x0400, 128}}};
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        fill_pattern(b.flash().first(0x800), 4);
        Bytes expected(b.flash().begin(), b.flash().begin() + 0x800);
        b.sync();

        std::vector<Bytes> frames;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            Bytes data = random_bytes(writes[i].n, 10 + static_cast<unsigned>(i));
            if (i == 4) std::fill(data.begin(), data.end(), 0xFF);
            std::copy(data.begin(), data.end(), expected.begin() + writes[i].address);
            frames.push_back(frame(writes[i].address, data));
        }
        std::size_t sent = 0;
        for (; sent < 3; ++sent) b.send(frames[sent]);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            if (sent == writes.size()) {
                // A check straight behind the last frame, without waiting.
                b.send({'C', 0x00, 0x00, 16});
                ++sent;
            } else if (sent < writes.size()) {
                // Keep three frames on their way.
                b.send(frames[sent++]);
            }
            EXPECT_EQ(b.receive(3), status(writes[i].address, 0)) << i;
        }
        const Bytes answer = b.receive(64);
        ASSERT_EQ(answer.size(), 64u);
        for (std::size_t u = 0; u < 16; ++u) {
            const Bytes le = le32(crc32_of(std::span(expected).subspan(u * 128, 128)));
            EXPECT_TRUE(std::equal(le.begin(), le.end(), answer.begin() + static_cast<std::ptrdiff_t>(4 * u))) << u;
        }
        const Bytes image(b.flash().begin(), b.flash().begin() + 0x800);
        for (std::size_t i = 0; i < image.size(); ++i) ASSERT_EQ(image[i], expected[i]) << std::hex << i;
        EXPECT_EQ(b.board.overruns(), 0u);
    }
}

// A frame whose check fails, a frame that lost a byte (its check then comes from
// the next frame's bytes) and a refused frame program nothing; after them the
// loader ignores everything, commands and frames alike, until a whole sync that the
// line's silence follows (a sync inside the data of frames still coming does not
// count).
TEST(LoaderFirmware, AFailedOrRefusedFrameProgramsNothingAndOnlyASyncIsAnswered) {
    REQUIRE_READ_WHILE_WRITE();
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint16_t start = static_cast<std::uint16_t>(b.loader_start());
        fill_pattern(b.flash().first(0x400), 5);
        fill_pattern(b.eeprom(), 8);
        const Bytes before(b.flash().begin(), b.flash().end());
        const Bytes eeprom(b.eeprom().begin(), b.eeprom().end());
        const Bytes data = random_bytes(128, 20);
        const Bytes good = frame(0x0100, data);
        b.sync();

        Bytes bad_check = good;
        bad_check.back() ^= 0x01;
        Bytes dropped = good;
        dropped.erase(dropped.begin() + 50);
        Bytes bad_data = good;
        bad_data[20] ^= 0x40;
        // Data that holds a sync and then packets that would erase flash and EEPROM.
        Bytes commands{'U', 'U', 'U', 'U', 'X', 0x00, 0x00, 0x10, 'A', 0, 0, 0, 'e', 0x80, '0', '0'};
        commands.resize(128, 'U');
        const Bytes carrier = frame(0x0200, commands);
        Bytes hidden = carrier;
        hidden.back() ^= 0x80;
        struct Case {
            const char* what;
            Bytes bytes;
            std::uint16_t address;
            std::uint8_t code;
        };
        const std::vector<Case> cases{
            {"check", bad_check, 0x0100, 1},
            {"data", bad_data, 0x0100, 1},
            {"dropped byte", dropped, 0x0100, 1},
            {"commands in the data", hidden, 0x0200, 1},
            {"reaches the loader", frame(static_cast<std::uint16_t>(start - 64), data), static_cast<std::uint16_t>(start - 64), 2},
            {"into the loader", frame(start, Bytes(64, 0)), start, 2},
            {"off a 64-byte boundary", frame(0x0120, Bytes(64, 0)), 0x0120, 2},
            {"100 bytes", frame(0x0100, Bytes(100, 0)), 0x0100, 2},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            b.send(c.bytes);
            // Whatever follows before a sync is ignored: good frames (one of them
            // with a sync and commands in its data), a plain command, half a sync.
            b.send(good);
            b.send(carrier);
            b.send({'E', '0', '0', '0'});
            b.send({'U', 'U', 'U', 'A'});
            EXPECT_EQ(b.receive(3), status(c.address, c.code));
            EXPECT_TRUE(b.listen(50).empty());
            EXPECT_TRUE(std::equal(before.begin(), before.end(), b.flash().begin()));
            EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), b.eeprom().begin()));
            b.sync();
        }
        // After the sync the same good frame is taken; the next answer (to the
        // sync) confirms it is programmed.
        b.send(good);
        EXPECT_EQ(b.receive(3), status(0x0100, 0));
        b.sync();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), b.flash().begin() + 0x100));
    }
}

// A frame cut short by silence is abandoned; the bytes that come after the silence
// are never taken for commands, only a sync is answered.
TEST(LoaderFirmware, AFrameCutShortBySilenceWaitsForASync) {
    Board b("ATmega328");
    fill_pattern(b.flash().first(0x400), 6);
    const Bytes before(b.flash().begin(), b.flash().end());
    b.sync();
    const Bytes f = frame(0x0000, Bytes(64, 0x11));
    b.send(std::span(f).first(30));
    b.link.sleep_ms(700);
    // The rest of the frame holds an `E` packet where a command would be read.
    Bytes rest(f.begin() + 30, f.end());
    rest.insert(rest.end(), {'E', '0', '0', '0', 'A', 0, 0, 0});
    b.send(rest);
    EXPECT_TRUE(b.listen(100).empty());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), b.flash().begin()));
    b.sync();
}

// Where the CPU stops while a page programs (the loader's own section, which
// reaches below the loader on every chip), the line cannot be read: such a frame is
// answered only when it is programmed, and the host sends it alone.
TEST(LoaderFirmware, AFrameWhereTheCpuStopsIsAnsweredOnceProgrammed) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Board b(model);
        const std::uint32_t top = b.loader_start() - 128;
        ASSERT_GE(top, b.chip().nrww_start);
        fill_pattern(b.flash().subspan(b.chip().nrww_start - 256, b.loader_start() - b.chip().nrww_start + 256), 7);
        Bytes expected(b.flash().begin(), b.flash().begin() + b.loader_start());
        b.sync();
        struct Write {
            std::uint32_t address;
            std::size_t n;
        };
        // The last frame below the loader, half of it, and one across the boundary.
        const std::array<Write, 3> writes{{{top, 128}, {top + 64, 64}, {b.chip().nrww_start - 64, 128}}};
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const Bytes data = random_bytes(writes[i].n, 40 + static_cast<unsigned>(i));
            std::copy(data.begin(), data.end(), expected.begin() + writes[i].address);
            b.send(frame(static_cast<std::uint16_t>(writes[i].address), data));
            EXPECT_EQ(b.receive(3), status(static_cast<std::uint16_t>(writes[i].address), 0));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), b.flash().begin())) << i;
        }
        EXPECT_EQ(b.board.overruns(), 0u);
        b.sync();
    }
}

// The figure for the README: a 31 KB image through `W` at 115200 baud on an
// ATmega328 at 16 MHz, three frames ahead, in simulated time.
TEST(LoaderFirmware, ThirtyOneKilobytesGoAtTheSpeedOfTheLine) {
    REQUIRE_READ_WHILE_WRITE();
    Board b("ATmega328");
    const std::uint32_t size = b.loader_start();
    const Bytes image = random_bytes(size, 30);
    b.sync();
    const std::int64_t begin = b.link.now_us();
    std::deque<std::uint16_t> waiting;
    std::uint32_t next = 0;
    std::size_t answered = 0;
    const std::uint32_t nrww = b.chip().nrww_start;
    while (answered < size / 128) {
        // Frames where the CPU stops go alone.
        while (waiting.size() < 3 && next < size && (next + 128 <= nrww || waiting.empty()) &&
               (waiting.empty() || waiting.back() + 128u <= nrww)) {
            b.send(frame(static_cast<std::uint16_t>(next), std::span(image).subspan(next, 128)));
            waiting.push_back(static_cast<std::uint16_t>(next));
            next += 128;
        }
        ASSERT_EQ(b.receive(3), status(waiting.front(), 0)) << answered;
        waiting.pop_front();
        ++answered;
    }
    const std::int64_t took = b.link.now_us() - begin;
    const std::int64_t wire = static_cast<std::int64_t>(size / 128 * 136) * 10'000'000 / kBaud;
    // 24 frames go alone, each waiting for 9 ms of programming and its answer.
    const std::int64_t alone = (size - nrww) / 128 * (9000 + 3 * 87);
    std::printf("31 KB through W at 115200 baud: %.3f s (the bytes alone %.3f s)\n", static_cast<double>(took) / 1e6, static_cast<double>(wire) / 1e6);
    RecordProperty("microseconds", std::to_string(took));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.flash().begin()));
    EXPECT_LT(took, wire * 103 / 100 + alone);
    EXPECT_EQ(b.board.overruns(), 0u);

    // The verify by checks, for the same image.
    const std::int64_t verify_begin = b.link.now_us();
    const auto checks = b.checks('C', 0, static_cast<std::uint8_t>(size / 128));
    const std::int64_t verify = b.link.now_us() - verify_begin;
    std::printf("Its checks: %.3f s\n", static_cast<double>(verify) / 1e6);
    ASSERT_EQ(checks.size(), size / 128);
    for (std::uint32_t i = 0; i < checks.size(); ++i) EXPECT_EQ(checks[i], crc32_of(std::span(image).subspan(i * 128, 128)));
}

}  // namespace
}  // namespace zarvik
