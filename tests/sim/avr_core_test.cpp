// The loader firmware on a real AVR core: the host's own programmer against the
// assembled loader, through simavr with the chip's timing. Everything runs on the
// core's simulated time, so nothing here depends on the speed of the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "loader/wait_count.h"
#include "memory/intel_hex_loader.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "sim/avr/avr_board.h"
#include "sim/avr/avr_link.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

constexpr std::uint32_t kMhz16 = 16'000'000;

std::string mhz_suffix(std::uint32_t hz, int baud) {
    return std::to_string(hz / 1'000'000) + "mhz-" + std::to_string(baud);
}

std::string loader_hex(const AvrChip& chip, const std::string& suffix = ZARVIK_LOADER_SUFFIX) {
    return std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(chip.mcu) + "-" + suffix + ".hex";
}

std::string blink(const AvrChip& chip, const char* ext) {
    return std::string(ZARVIK_BLINK_MODELS_DIR) + "/blink-" + std::string(chip.mcu) + ext;
}

std::vector<std::uint8_t> load(const std::string& path, std::size_t size) {
    std::vector<std::uint8_t> image(size, 0xFF);
    const auto result = load_intel_hex_file(path, image);
    EXPECT_TRUE(std::holds_alternative<LoadedRange>(result)) << path;
    return image;
}

// A board with the loader installed as an ISP programmer would, and the host's
// programmer on its line.
struct Bench {
    explicit Bench(const char* model, std::uint32_t hz = kMhz16, int baud = 115200)
        : board(model, hz), link(board, baud), state(std::make_unique<ProgrammerState>()),
          programmer(*state, link, link), protocol(link, link) {
        EXPECT_TRUE(board.ok()) << board.error();
        loader_file = loader_hex(board.chip(), mhz_suffix(hz, baud));
        EXPECT_TRUE(board.load_flash_hex(loader_file)) << loader_file;
        board.reset();
        programmer.set_model(*find_device_model(model));
    }
    ~Bench() { EXPECT_EQ(board.misaddressed_page_writes(), 0u); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Only a whole sync takes the loader from its wait into its commands.
    void sync() { ASSERT_EQ(programmer.connect(), HandshakeOutcome::Connected); }

    std::span<const std::uint8_t> loader_area() { return board.flash().subspan(board.chip().boot_start, 1024); }

    // What the chip says within `ms` of simulated time.
    std::string listen(std::int64_t ms) {
        std::string text;
        std::array<std::uint8_t, 1> byte{};
        const std::int64_t until = link.now_ms() + ms;
        while (link.now_ms() < until) {
            if (link.read(byte).count == 1) text += static_cast<char>(byte[0]);
        }
        return text;
    }

    // Resets with no host on the line; the cycles until the user program starts.
    std::uint64_t cycles_to_user_program(std::uint64_t limit) {
        board.reset();
        const std::uint64_t start = board.cycle();
        while (!board.user_program_after() && board.cycle() - start < limit) board.run_until(board.cycle() + 100'000);
        return board.user_program_after().value_or(0);
    }

    AvrBoard board;
    AvrLink link;
    std::unique_ptr<ProgrammerState> state;
    Programmer programmer;
    LoaderProtocol protocol;
    std::string loader_file;
};

// The built images: inside their 1 KB, with the wait count where the host patches it.
TEST(LoaderImage, EachBuildHoldsItsWaitCountWhereTheHostPatchesIt) {
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        const AvrChip& chip = *find_avr_chip(model);
        for (const auto& [hz, baud] : {std::pair{kMhz16, 115200}, std::pair{8'000'000u, 38400}}) {
            SCOPED_TRACE(std::string(model) + " " + mhz_suffix(hz, baud));
            std::vector<std::uint8_t> flash(0x8000, 0xFF);
            const auto result = load_intel_hex_file(loader_hex(chip, mhz_suffix(hz, baud)), flash);
            const auto* range = std::get_if<LoadedRange>(&result);
            ASSERT_NE(range, nullptr);
            EXPECT_EQ(range->start, chip.boot_start);
            EXPECT_LE(range->end, chip.boot_start + 1024);
            std::span<const std::uint8_t, 128> first(flash.data() + chip.boot_start, 128);
            // Built for a one-second wait: the host's own formula.
            const std::uint32_t expected = hz / 12 + 1;
            EXPECT_EQ(decode_wait_count(first, 0), expected);
            EXPECT_EQ(decode_wait_count(first, 1), expected);
            for (std::size_t offset : {48, 50, 54, 82, 84, 88}) EXPECT_EQ(first[offset + 1] & 0xF0, 0xE0) << offset;
        }
    }
}

// One model the whole way: connect, erase, write, verify and read both memories,
// then start the program, which greets over the UART.
TEST(AvrCore, ATmega328RoundTripsTheExampleAndStartsIt) {
    Bench bench("ATmega328");
    const AvrChip& chip = bench.board.chip();
    testing::TempDir dir;
    const std::vector<std::uint8_t> loader(bench.loader_area().begin(), bench.loader_area().end());

    ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
    const std::vector<OperationOutcome> steps{
        bench.programmer.erase(MemoryKind::Flash),
        bench.programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX),
        bench.programmer.verify(MemoryKind::Flash, ZARVIK_BLINK_HEX),
        bench.programmer.save_read(bench.programmer.read(MemoryKind::Flash), dir.file("read.hex")),
        bench.programmer.erase(MemoryKind::Eeprom),
        bench.programmer.write(MemoryKind::Eeprom, ZARVIK_BLINK_EEP),
        bench.programmer.verify(MemoryKind::Eeprom, ZARVIK_BLINK_EEP),
        bench.programmer.save_read(bench.programmer.read(MemoryKind::Eeprom), dir.file("read.eep")),
    };
    for (const auto& step : steps) EXPECT_TRUE(step.ok()) << status_text(step);

    const auto program = load(ZARVIK_BLINK_HEX, chip.boot_start);
    const auto data = load(ZARVIK_BLINK_EEP, 1024);
    EXPECT_EQ(load(dir.file("read.hex"), chip.boot_start), program);
    EXPECT_EQ(load(dir.file("read.eep"), 1024), data);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), bench.board.flash().begin()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bench.board.eeprom().begin()));
    EXPECT_TRUE(std::equal(loader.begin(), loader.end(), bench.loader_area().begin()));
    EXPECT_EQ(bench.board.overruns(), 0u);

    ASSERT_TRUE(bench.programmer.start_program());
    EXPECT_EQ(bench.listen(50), "Zarvik blink demo\r\n");
}

// The wait after a reset with no host: 12 cycles a count plus a fixed overhead, on
// every model, after the host's configuration and after a second one that needs
// bits set again; the loader stays whole.
TEST(AvrCore, ConfiguredWaitIsTwelveCyclesACountOnEveryModel) {
    struct Case {
        const char* timeout;
        std::uint32_t count;
    };
    // 0x0A2C2B, then 0x0E3DD6: nibbles go both up and down.
    const std::array<Case, 2> cases{{{"0.5", 666'667}, {"0.7", 933'334}}};
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        SCOPED_TRACE(model);
        Bench bench(model);
        const std::vector<std::uint8_t> loader(bench.loader_area().begin(), bench.loader_area().end());
        // As built: one second.
        const std::uint64_t built = bench.cycles_to_user_program(20'000'000);
        const std::uint64_t overhead = built - 12ull * (kMhz16 / 12 + 1);
        EXPECT_LT(overhead, 100u);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.timeout);
            bench.board.reset();
            ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
            const auto configured = bench.programmer.configure_loader("16", c.timeout);
            ASSERT_TRUE(configured.ok()) << status_text(configured);
            std::span<const std::uint8_t, 128> first(bench.loader_area().data(), 128);
            EXPECT_EQ(decode_wait_count(first, 0), c.count);
            EXPECT_EQ(decode_wait_count(first, 1), c.count);
            EXPECT_EQ(bench.cycles_to_user_program(20'000'000), 12ull * c.count + overhead);
            // Only the twelve nibbles changed.
            for (std::size_t i = 0; i < loader.size(); ++i) {
                const bool patched = i == 48 || i == 49 || i == 50 || i == 51 || i == 54 || i == 55 || i == 82 ||
                                     i == 83 || i == 84 || i == 85 || i == 88 || i == 89;
                const std::uint8_t mask = patched ? 0xF0 : 0xFF;
                EXPECT_EQ(bench.loader_area()[i] & mask, loader[i] & mask) << i;
            }
        }
    }
}

// The example on each model: written without an erase, started by `S`, greeting;
// it never comes back to the loader, yet after a reset it can be replaced.
TEST(AvrCore, StartedProgramRunsAndCanBeReplacedAfterAReset) {
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        SCOPED_TRACE(model);
        Bench bench(model);
        const AvrChip& chip = bench.board.chip();
        ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
        const auto written = bench.programmer.write(MemoryKind::Flash, blink(chip, ".hex"));
        ASSERT_TRUE(written.ok()) << status_text(written);
        ASSERT_TRUE(bench.programmer.write(MemoryKind::Eeprom, blink(chip, ".eep")).ok());
        ASSERT_TRUE(bench.programmer.start_program());
        EXPECT_EQ(bench.listen(50), "Zarvik blink demo\r\n");
        // The program does not listen: no loader answers.
        EXPECT_EQ(bench.programmer.connect(), HandshakeOutcome::NoLoader);

        bench.board.reset();
        ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
        ASSERT_TRUE(bench.programmer.erase(MemoryKind::Flash).ok());
        const auto blank = bench.programmer.read(MemoryKind::Flash);
        ASSERT_TRUE(blank.ok()) << status_text(blank);
        const auto area = bench.programmer.read_back(MemoryKind::Flash);
        EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](std::uint8_t b) { return b == 0xFF; }));
        ASSERT_TRUE(bench.programmer.start_program());
        // A blank program area runs up into the loader, which waits again once it
        // is there: 0x7C00 bytes of blank flash take 1 ms at most.
        bench.link.sleep_ms(2);
        EXPECT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
    }
}

// What differs between the models: 64-byte pages on the ATmega8/88, 128-byte pages
// on the ATmega168/328. `E` and `F` touch exactly their 64 bytes everywhere, and
// nothing beyond the loader's first block is ever erased or programmed.
TEST(AvrCore, PagesChangeExactlyTheirSixtyFourBytesAndTheLoaderIsKept) {
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        SCOPED_TRACE(model);
        Bench bench(model);
        const std::uint32_t boot = bench.board.chip().boot_start;
        auto flash = bench.board.flash();
        for (std::uint32_t i = 0; i < 0x200; ++i) flash[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const std::vector<std::uint8_t> before(flash.begin(), flash.begin() + 0x200);
        const std::vector<std::uint8_t> loader(bench.loader_area().begin(), bench.loader_area().end());
        Block block;
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0xA5 ^ i);

        bench.sync();
        ASSERT_FALSE(bench.protocol.erase_flash_page(0x40));
        ASSERT_FALSE(bench.protocol.write_flash_block(0xC0, block, 1));
        ASSERT_FALSE(bench.protocol.write_flash_block(0x100, block, 2));
        for (std::uint32_t i = 0; i < 0x200; ++i) {
            std::uint8_t expected = before[i];
            if (i >= 0x40 && i < 0x80) expected = 0xFF;
            if (i >= 0xC0 && i < 0x100) expected = block[i - 0xC0];
            if (i >= 0x100 && i < 0x180) expected = block[i - 0x100];
            ASSERT_EQ(flash[i], expected) << std::hex << i;
        }
        // The loader's own pages beyond its first block are refused, quietly, and so
        // is an erase of the first block (only `F` rewrites it, whole).
        ASSERT_FALSE(bench.protocol.erase_flash_page(boot));
        ASSERT_FALSE(bench.protocol.erase_flash_page(boot + 64));
        for (std::uint32_t at = boot + 128; at < boot + 1024; at += 128) {
            ASSERT_FALSE(bench.protocol.erase_flash_page(at));
            ASSERT_FALSE(bench.protocol.write_flash_block(at, block, 2));
        }
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), bench.loader_area().begin()));
        Block read{};
        ASSERT_FALSE(bench.protocol.read_flash_block(boot, read));
        EXPECT_TRUE(std::equal(read.begin(), read.end(), loader.begin()));
        // Beyond the end of flash the address wraps, as on the chip: the ATmega8's
        // loader shows again at 0x3C00 and 0x7C00, and the last block runs on into 0.
        for (std::uint32_t at = boot + 0x2000; at < 0x8000; at += 0x2000) {
            if (at % (boot + 1024) != boot) continue;
            ASSERT_FALSE(bench.protocol.read_flash_block(at, read));
            EXPECT_TRUE(std::equal(read.begin(), read.end(), loader.begin())) << std::hex << at;
        }
        ASSERT_FALSE(bench.protocol.read_flash_block(boot + 1024 - 64, read));
        EXPECT_TRUE(std::equal(read.begin() + 64, read.end(), flash.begin()));

        // EEPROM byte by byte: `D` writes n bytes, `e` blanks 128, nothing else changes.
        ASSERT_FALSE(bench.protocol.write_eeprom_block(0x1FB, block, 5));
        ASSERT_FALSE(bench.protocol.erase_eeprom_block(0x80));
        const auto ee = bench.board.eeprom();
        for (std::uint32_t i = 0; i < 0x200; ++i) {
            const std::uint8_t expected = i >= 0x1FB ? block[i - 0x1FB] : 0xFF;
            ASSERT_EQ(ee[i], expected) << std::hex << i;
        }
        EXPECT_EQ(bench.board.overruns(), 0u);
    }
}

// The line as the chip has it: 10 bit times a byte both ways, and a UART that holds
// two bytes, so bytes sent while the CPU is halted programming the loader's own
// section are lost.
TEST(AvrCore, LineTimingAndOverrunAreTheChips) {
    Bench bench("ATmega328");
    bench.sync();
    Block read{};
    const std::int64_t before = bench.link.now_us();
    ASSERT_FALSE(bench.protocol.read_flash_block(0, read));
    // 12 bytes out at 115200 baud, 136 back at the chip's 117647 (16 MHz, U2X, UBRR 16).
    const std::int64_t took = bench.link.now_us() - before;
    const std::int64_t line = 12 * 10'000'000 / 115200 + 136 * 85;
    EXPECT_GE(took, line);
    EXPECT_LE(took, line + 500);

    // `E` then, without waiting for its acknowledgement, 16 more bytes: the page is
    // in the application section, so the CPU runs on while it erases and the loader
    // takes every byte. (A blank page would not be erased at all.)
    std::fill_n(bench.board.flash().begin(), 64, 0x12);
    const std::array<std::uint8_t, 4> erase{'E', '0', '0', '0'};
    const std::array<std::uint8_t, 4> address{'A', 0, 0, 0};
    const std::vector<std::uint8_t> noise(16, 'x');
    ASSERT_TRUE(bench.link.write(address));
    std::array<std::uint8_t, 4> ack{};
    ASSERT_EQ(bench.link.read(ack).count, 4u);
    ASSERT_TRUE(bench.link.write(erase));
    ASSERT_TRUE(bench.link.write(noise));
    ASSERT_EQ(bench.link.read(ack).count, 4u);
    EXPECT_EQ(bench.board.overruns(), 0u);
    ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);

    // The loader's own first block with another wait count (the low nibble of its
    // lowest byte, in both copies), with the same 16 bytes after `F`: that page is
    // in the section the CPU runs from, so the CPU halts for its erase and write,
    // and of the bytes that arrive then two wait and the rest are lost.
    Block first{};
    std::copy_n(bench.loader_area().begin(), first.size(), first.begin());
    first[48] ^= 0x01;
    first[82] ^= 0x01;
    const std::array<std::uint8_t, 4> load{'B', 0, 0, 0};
    const std::array<std::uint8_t, 4> at_loader{'A', 0x7C, 0x00, 0};
    const std::array<std::uint8_t, 4> program{'F', 32, 2, 0};
    ASSERT_TRUE(bench.link.write(load));
    ASSERT_TRUE(bench.link.write(first));
    ASSERT_EQ(bench.link.read(ack).count, 4u);
    ASSERT_TRUE(bench.link.write(at_loader));
    ASSERT_EQ(bench.link.read(ack).count, 4u);
    ASSERT_TRUE(bench.link.write(program));
    ASSERT_TRUE(bench.link.write(noise));
    ASSERT_EQ(bench.link.read(ack).count, 4u);
    // The loader first compares the block and fills the page buffer (some 0.4 ms,
    // five bytes of the sixteen), then halts: two of the rest wait, the others are lost.
    EXPECT_GE(bench.board.overruns(), 8u);
    EXPECT_LE(bench.board.overruns(), 14u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), bench.loader_area().begin()));
    EXPECT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
}

// The chip's busy times show in when the loader answers: 4.5 ms to erase a flash
// page (and 4.5 ms more to program back the other half of a 128-byte page), and
// each EEPROM byte 3.3 ms, 8.5 ms on the ATmega8.
TEST(AvrCore, ChipBusyTimesShowInTheAcknowledgements) {
    struct Case {
        const char* model;
        std::array<std::uint8_t, 4> command;
        bool other_half_filled;  // flash beside the page holds data
        std::int64_t busy_us;
    };
    const std::array<Case, 6> cases{{
        {"ATmega8", {'E', '0', '0', '0'}, true, 4500},
        {"ATmega328", {'E', '0', '0', '0'}, false, 4500},
        {"ATmega328", {'E', '0', '0', '0'}, true, 9000},
        {"ATmega88", {'D', 5, 0, 0}, false, 5 * 3300},
        {"ATmega8", {'D', 5, 0, 0}, false, 5 * 8500},
        {"ATmega168", {'e', 0x80, '0', '0'}, false, 128 * 3300},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + static_cast<char>(c.command[0]));
        Bench bench(c.model);
        if (c.other_half_filled) std::fill_n(bench.board.flash().begin() + 64, 64, 0x12);
        // A page that is blank already is not erased again.
        std::fill_n(bench.board.flash().begin(), 64, 0x34);
        // EEPROM that differs from what is written, so that every byte is written.
        std::fill_n(bench.board.eeprom().begin(), 128, 0x00);
        // A host that waits as long as `e` takes, not the port's 250 ms.
        AvrLink link(bench.board, 115200, ReadTimeouts{1000, 50, 50});
        const std::array<std::uint8_t, 4> sync{'U', 'U', 'U', 'U'};
        std::array<std::uint8_t, 6> loader{};
        ASSERT_TRUE(link.write(sync));
        ASSERT_EQ(link.read(loader).count, 6u);
        Block block{};
        block.fill(0x5A);
        std::array<std::uint8_t, 4> ack{};
        const std::array<std::uint8_t, 4> load{'B', 0, 0, 0};
        const std::array<std::uint8_t, 4> address{'A', 0, 0, 0};
        ASSERT_TRUE(link.write(load));
        ASSERT_TRUE(link.write(block));
        ASSERT_EQ(link.read(ack).count, 4u);
        ASSERT_TRUE(link.write(address));
        ASSERT_EQ(link.read(ack).count, 4u);
        const std::int64_t sent = link.now_us();
        ASSERT_TRUE(link.write(c.command));
        ASSERT_EQ(link.read(ack).count, 4u);
        // Four bytes each way at 115200 baud, and a little of the loader's own work.
        const std::int64_t took = link.now_us() - sent - 8 * 87;
        EXPECT_GE(took, c.busy_us);
        EXPECT_LE(took, c.busy_us + c.busy_us / 20 + 200);
    }
}

// Self-programming as the chip does it, which simavr 1.6 does not: programming only
// clears bits and leaves the words not loaded into the page buffer alone, erasing
// takes the whole page that holds the address. A page of the application section
// programs for 4.5 ms while the CPU runs on, SPMEN and RWWSB set, an SPM meanwhile
// does nothing and the section reads 0xFF until RWWSRE; a page of the loader's own
// section halts the CPU instead. SPM from the application section does nothing, nor
// one that comes more than four cycles after SPMCSR was written. A loader that does
// not wait, or does not re-enable the section, fails here as on the chip.
TEST(AvrCore, SelfProgrammingIsTheChips) {
    constexpr std::uint8_t kData = 0x3C;
    constexpr std::uint8_t kWritten0 = 0x3C & 0xA5, kWritten1 = 0x3C & 0x5A;
    struct Case {
        const char* probe;
        std::uint32_t start;  // where it runs
        // What it saw: SPMCSR and the byte at 0x0100 just after the write, SPMCSR after
        // waiting and after re-enabling, the byte at 0x0100 then, SPMCSR after the
        // loader-section erase.
        std::array<std::uint8_t, 6> seen;
        bool waited;           // it polled SPMEN for the whole write
        bool written;          // 0x0100 holds the word
        bool lone_erase;       // the page at 0x0180 is blank: no write was under way
        bool erased;           // the page that holds 0x0242 is blank
        bool loader_erased;    // the page at 0x7000 is blank
        std::int64_t took_ms;  // until it is through, at least
    };
    const std::array<Case, 5> cases{{
        {"boot", 0x7C00, {0x41, 0xFF, 0x40, 0x00, kWritten0, 0x00}, true, true, false, true, true, 13},
        {"app", 0x0000, {0x00, kData, 0x00, 0x00, kData, 0x00}, false, false, false, false, false, 0},
        {"no_wait", 0x7C00, {0x41, 0xFF, 0x41, 0x41, 0xFF, 0x41}, false, true, false, false, false, 0},
        {"no_reenable", 0x7C00, {0x41, 0xFF, 0x40, 0x40, 0xFF, 0x40}, true, true, false, true, true, 13},
        {"late_spm", 0x7C00, {0x00, kData, 0x40, 0x00, kData, 0x00}, true, false, true, true, true, 13},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.probe);
        AvrBoard board("ATmega328", kMhz16);
        ASSERT_TRUE(board.load_flash_hex(std::string(ZARVIK_SPM_PROBE_DIR) + "/spm_probe_" + c.probe + ".hex"));
        auto flash = board.flash();
        std::fill(flash.begin() + 0x100, flash.begin() + 0x300, kData);
        std::fill(flash.begin() + 0x7000, flash.begin() + 0x7080, kData);
        // The reset starts at the loader's address: `jmp 0` there for the copy in the
        // application section.
        if (c.start == 0) std::copy_n(std::array<std::uint8_t, 4>{0x0C, 0x94, 0x00, 0x00}.begin(), 4, flash.begin() + 0x7C00);
        board.reset();
        const std::uint64_t start = board.cycle();
        auto through = [&] { return board.sram(0x108) == 0xD0; };
        if (c.took_ms > 0) {
            board.run_until(start + board.cycles_from_us(c.took_ms * 1000));
            EXPECT_FALSE(through());
        }
        board.run_until(start + board.cycles_from_us(20'000));
        ASSERT_TRUE(through());
        EXPECT_FALSE(board.stopped());
        EXPECT_GE(board.pc(), c.start);
        EXPECT_LT(board.pc(), c.start + 0x100);

        const std::array<std::uint8_t, 6> seen{board.sram(0x100), board.sram(0x101), board.sram(0x104), board.sram(0x105),
                                               board.sram(0x106), board.sram(0x107)};
        EXPECT_EQ(seen, c.seen);
        // Six cycles a poll through the 4.5 ms of the write: the CPU ran meanwhile.
        const unsigned polls = board.sram(0x102) | (board.sram(0x103) << 8);
        if (c.waited) {
            EXPECT_NEAR(polls, 4500 * 16 / 6, 20);
        } else {
            EXPECT_LE(polls, 1u);
        }
        for (std::uint32_t i = 0x100; i < 0x300; ++i) {
            std::uint8_t expected = kData;
            if (c.written && i == 0x100) expected = kWritten0;
            if (c.written && i == 0x101) expected = kWritten1;
            if (c.lone_erase && i >= 0x180 && i < 0x200) expected = 0xFF;
            if (c.erased && i >= 0x200 && i < 0x280) expected = 0xFF;
            ASSERT_EQ(flash[i], expected) << std::hex << i;
        }
        for (std::uint32_t i = 0x7000; i < 0x7080; ++i) ASSERT_EQ(flash[i], c.loader_erased ? 0xFF : kData) << std::hex << i;
    }
}

// A host at another speed than the loader's. Within what a UART tolerates (about
// 4.5 % either way) every byte crosses both ways: our loader's 117 647 baud is 2.1 %
// off a 115 200 host. Beyond it the chip reads wrong bytes and low stop bits, and the
// loader never answers.
TEST(AvrCore, HostSpeedWorksOnlyWithinTheUartsTolerance) {
    struct Case {
        int baud;
        bool connects;
    };
    const std::array<Case, 8> cases{{
        {115200, true},
        {113000, true},
        {121500, true},
        {109000, false},
        {125000, false},
        {9600, false},
        {57600, false},
        {230400, false},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        Bench bench("ATmega328");
        AvrLink link(bench.board, c.baud);
        auto state = std::make_unique<ProgrammerState>();
        Programmer programmer(*state, link, link);
        programmer.set_model(*find_device_model("ATmega328"));
        EXPECT_EQ(programmer.connect() == HandshakeOutcome::Connected, c.connects);
        if (c.connects) {
            const auto written = programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX);
            EXPECT_TRUE(written.ok()) << status_text(written);
            EXPECT_EQ(bench.board.framing_errors(), 0u);
        } else {
            EXPECT_GT(bench.board.framing_errors(), 0u);
        }
    }
}

// The line on its own: a receiver within the tolerance reads every byte value, one
// beyond it does not, and a low pulse shorter than half a bit is no start bit.
TEST(SerialLine, ReceiverReadsFramesAtItsOwnSpeed) {
    struct Case {
        double ratio;  // the receiver's bit over the transmitter's
        int samples;
        bool exact;
    };
    const std::array<Case, 6> cases{{
        {1.0, 16, true}, {1.04, 16, true}, {0.96, 8, true}, {1.07, 16, false}, {0.93, 8, false}, {12.0, 8, false},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.ratio) + " " + std::to_string(c.samples));
        SerialLine line;
        const double bit = 139;
        for (int v = 0; v < 256; ++v) line.send(line.idle_from(), bit, static_cast<std::uint8_t>(v));
        std::vector<std::uint8_t> got;
        int framing_errors = 0;
        const double end = line.idle_from() + 100 * bit * c.ratio;
        while (auto r = line.next(bit * c.ratio, c.samples, end)) {
            if (r->sampled > end) break;
            line.take(*r);
            got.push_back(r->byte);
            framing_errors += r->framing_error ? 1 : 0;
        }
        std::vector<std::uint8_t> all(256);
        for (int v = 0; v < 256; ++v) all[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(v);
        if (c.exact) {
            EXPECT_EQ(got, all);
            EXPECT_EQ(framing_errors, 0);
        } else {
            EXPECT_NE(got, all);
            EXPECT_GT(framing_errors, 0);
        }
    }
    // 0xFF at eight times the receiver's speed: one low eighth of a bit, a spike.
    SerialLine line;
    line.send(0, 17, 0xFF);
    EXPECT_FALSE(line.next(136, 16, 10'000).has_value());
}

// A host at another speed than the chip's, with edges that land exactly on one of the
// receiver's samples: a rounding that read the bit before such an edge made the
// receiver find the same edge again for ever, and the board stopped answering even
// its own stop. Each case ends, with no more bytes read than there are start edges.
TEST(SerialLine, MismatchedSpeedsAlwaysReachTheEndOfTheLine) {
    struct Case {
        int host_baud;
        double receiver_bit;  // in cycles of a 16 MHz chip
        int samples;
        double start;
        std::uint8_t byte;
        int frames;
    };
    const std::array<Case, 3> cases{{
        {9600, 136, 8, 5, 0x40, 2},   // the loader at 115200 (U2X, UBRR 16), the host at 9600
        {9600, 16, 16, 0, 0x01, 2},   // a UART in its reset state (UBRR 0)
        {115200, 16, 16, 0, 0x10, 4},
    }};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host_baud);
        SerialLine line;
        for (int i = 0; i < c.frames; ++i) line.send(i == 0 ? c.start : line.idle_from(), 16e6 / c.host_baud, c.byte);
        int bytes = 0;
        while (auto r = line.next(c.receiver_bit, c.samples, 1e12)) {
            line.take(*r);
            ++bytes;
        }
        EXPECT_LE(bytes, c.frames * 5);
    }
}

// The board behind a USB adapter with a 16 ms latency timer, on simulated time: each
// short answer waits for the timer since the last delivery, a block streams in packets
// of 62 bytes and its last 4 bytes wait again. Writing still works, only slower.
TEST(AvrCore, LatencyTimerDelaysShortAnswers) {
    constexpr std::int64_t kLatencyMs = 16;
    std::array<std::int64_t, 2> took{};
    for (std::int64_t latency : {std::int64_t{0}, kLatencyMs}) {
        SCOPED_TRACE(latency);
        Bench bench("ATmega328");
        AvrLink link(bench.board, 115200, ReadTimeouts{}, latency);
        LoaderProtocol protocol(link, link);
        auto state = std::make_unique<ProgrammerState>();
        Programmer programmer(*state, link, link);
        programmer.set_model(*find_device_model("ATmega328"));
        ASSERT_EQ(programmer.connect(), HandshakeOutcome::Connected);
        Block read{};
        const std::int64_t before = link.now_us();
        ASSERT_FALSE(protocol.read_flash_block(0x7C00, read));
        took[latency == 0 ? 0 : 1] = link.now_us() - before;
        EXPECT_TRUE(std::equal(read.begin(), read.end(), bench.loader_area().begin()));
        const auto written = programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX);
        EXPECT_TRUE(written.ok()) << status_text(written);
    }
    // Without: 12 bytes out, 136 back, about 13 ms. With: the two acknowledgements 16 ms
    // apart, the block's two full packets at once, its last 4 bytes 16 ms later.
    EXPECT_LT(took[0], 15'000);
    EXPECT_GE(took[1], 3 * kLatencyMs * 1000);
    EXPECT_LE(took[1], 3 * kLatencyMs * 1000 + 15'000);
}

// What a line does to a loader on a bench: noise while a cable is plugged in
// restarts the wait from the second copy of the count instead of being taken for a
// command, and a packet or block that stops half-way is dropped after half a
// second, so the next sync finds the loader listening.
TEST(AvrCore, NoiseRestartsTheWaitAndAHalfBlockIsDropped) {
    Bench bench("ATmega88");
    const std::uint64_t count = kMhz16 / 12 + 1;
    bench.board.reset();
    bench.link.sleep_ms(500);
    const std::uint64_t noise_at = bench.board.cycle();
    const std::array<std::uint8_t, 1> noise{0x00};
    ASSERT_TRUE(bench.link.write(noise));
    for (int i = 0; i < 400 && !bench.board.user_program_after(); ++i) bench.board.run_until(bench.board.cycle() + 100'000);
    ASSERT_TRUE(bench.board.user_program_after());
    const std::uint64_t after_noise = *bench.board.user_program_after() - noise_at;
    EXPECT_GE(after_noise, 12 * count);
    EXPECT_LT(after_noise, 12 * count + kMhz16 / 1000);

    bench.board.reset();
    const std::array<std::uint8_t, 4> load{'B', 0, 0, 0};
    const std::vector<std::uint8_t> half(50, 0x11);
    ASSERT_TRUE(bench.link.write(load));
    ASSERT_TRUE(bench.link.write(half));
    bench.link.sleep_ms(600);
    EXPECT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
}

// The build for boards on the internal oscillator: 8 MHz and 38400 baud.
TEST(AvrCore, EightMegahertzBuildServesAt38400) {
    Bench bench("ATmega8", 8'000'000, 38400);
    EXPECT_EQ(bench.board.uart_baud(), 0);
    ASSERT_EQ(bench.programmer.connect(), HandshakeOutcome::Connected);
    EXPECT_NEAR(bench.board.uart_baud(), 38400, 38400 / 100);
    const auto written = bench.programmer.write(MemoryKind::Flash, blink(bench.board.chip(), ".hex"));
    EXPECT_TRUE(written.ok()) << status_text(written);
    const auto verified = bench.programmer.verify(MemoryKind::Flash, blink(bench.board.chip(), ".hex"));
    EXPECT_TRUE(verified.ok()) << status_text(verified);
    const std::uint64_t overhead = bench.cycles_to_user_program(20'000'000) - 12ull * (8'000'000 / 12 + 1);
    EXPECT_LT(overhead, 100u);
}

}  // namespace
}  // namespace zarvik
