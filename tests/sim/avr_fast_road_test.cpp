// The fast road against our loader firmware on the real AVR core, for every chip, on the
// core's simulated time.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "sim/avr/avr_board.h"
#include "link/line_speed.h"
#include "sim/avr/avr_link.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

struct FastCore {
    explicit FastCore(const char* model)
        : board(model, 16'000'000), link(board, 115200), state(std::make_unique<ProgrammerState>()),
          programmer(*state, link, link) {
        EXPECT_TRUE(board.ok()) << board.error();
        const std::string loader = std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(board.chip().mcu) +
                                   "-" + ZARVIK_LOADER_SUFFIX + ".hex";
        EXPECT_TRUE(board.load_flash_hex(loader)) << loader;
        board.reset();
        programmer.set_model(*find_device_model(model));
        EXPECT_EQ(programmer.connect(), HandshakeOutcome::Connected);
    }
    ~FastCore() { EXPECT_EQ(board.misaddressed_page_writes(), 0u); }
    FastCore(const FastCore&) = delete;
    FastCore& operator=(const FastCore&) = delete;
    std::string file(const std::string& name, const std::vector<std::uint8_t>& data) {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << to_intel_hex(data);
        return path;
    }

    testing::TempDir dir;
    AvrBoard board;
    AvrLink link;
    std::unique_ptr<ProgrammerState> state;
    Programmer programmer;
};

// The host's port as a test wants it: one that refuses every speed above the base
// one, or one that says it switched and stays where it was (a line that garbles the
// new speed).
struct StubbornPort final : LineSpeed {
    StubbornPort(AvrLink& link, bool lies) : link_(link), lies_(lies) {}
    bool set_baud(int baud) override {
        if (baud == 115200) return link_.set_baud(baud);
        return lies_;
    }
    AvrLink& link_;
    bool lies_;
};

TEST(AvrFastRoad, EveryChipWritesVerifiesAndErasesOnOurLoadersCommands) {
    enum class Speed { Base, Switched, Refused, Garbled };
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
      for (const Speed speed : {Speed::Base, Speed::Switched, Speed::Refused, Speed::Garbled}) {
        SCOPED_TRACE(std::string(model) + " speed case " + std::to_string(static_cast<int>(speed)));
        FastCore core(model);
        StubbornPort stubborn(core.link, speed == Speed::Garbled);
        if (speed == Speed::Switched) core.programmer.allow_speed_switch(&core.link, 115200, 0);
        if (speed == Speed::Refused || speed == Speed::Garbled) core.programmer.allow_speed_switch(&stubborn, 115200, 0);
        const std::uint32_t start = find_device_model(model)->loader_start;
        const auto signature = find_signature(std::span<const std::uint8_t, kLoaderBlock>(core.board.flash().data() + start, kLoaderBlock));
        if (!signature || !signature->speaks_session()) {
            GTEST_SKIP() << "this build's loader image carries no signature of ours with the checked session";
        }
        ASSERT_EQ(core.programmer.road(), Road::Fast) << model;
        const std::uint32_t area = find_device_model(model)->loader_start;
        const std::vector<std::uint8_t> loader(core.board.flash().begin() + area, core.board.flash().begin() + area + 1024);
        // The start of the area and its last 2 KB, where the CPU halts while a page
        // programs on every one of these chips; blank units between are left alone.
        std::vector<std::uint8_t> program(area, 0xFF);
        const auto low = random_bytes(0x600, 1);
        const auto high = random_bytes(0x800, 2);
        std::copy(low.begin(), low.end(), program.begin());
        std::copy(high.begin(), high.end(), program.end() - 0x800);
        const std::string hex = core.file("p.hex", program);

        const auto w = core.programmer.write(MemoryKind::Flash, hex);
        ASSERT_TRUE(w.ok()) << model << ": " << status_text(w);
        EXPECT_EQ(w.road, Road::Fast);
        EXPECT_EQ(core.programmer.line_speed(), speed == Speed::Switched ? 1'000'000 : speed == Speed::Base ? 0 : 115200);
        EXPECT_EQ(core.programmer.refused_speed(), speed == Speed::Garbled ? 1'000'000 : 0);
        const auto v = core.programmer.verify(MemoryKind::Flash, hex);
        ASSERT_TRUE(v.ok()) << model << ": " << status_text(v);
        EXPECT_TRUE(std::equal(program.begin(), program.end(), core.board.flash().begin())) << model;

        // A byte changed behind the host's back: the checks find it, the read-back names it.
        core.board.flash()[area - 0x300] ^= 0x04;
        const auto diff = core.programmer.verify(MemoryKind::Flash, hex);
        ASSERT_EQ(diff.result, Result::Differences) << model << ": " << status_text(diff);
        ASSERT_EQ(diff.difference_count, 1u);
        EXPECT_EQ(diff.differences[0].address, area - 0x300);
        // Written again: that unit alone, and right.
        ASSERT_TRUE(core.programmer.write(MemoryKind::Flash, hex).ok()) << model;
        ASSERT_TRUE(core.programmer.verify(MemoryKind::Flash, hex).ok()) << model;

        const auto e = core.programmer.erase(MemoryKind::Flash);
        ASSERT_TRUE(e.ok()) << model << ": " << status_text(e);
        EXPECT_EQ(std::count(core.board.flash().begin(), core.board.flash().begin() + area, 0xFF), area) << model;
        EXPECT_TRUE(std::equal(loader.begin(), loader.end(), core.board.flash().begin() + area)) << model;

        const std::uint32_t eeprom_size = find_device_model(model)->eeprom_size;
        const auto data = random_bytes(eeprom_size - 10, 3);
        const std::string eep = core.file("d.eep", data);
        const auto ew = core.programmer.write(MemoryKind::Eeprom, eep);
        ASSERT_TRUE(ew.ok()) << model << ": " << status_text(ew);
        ASSERT_TRUE(core.programmer.verify(MemoryKind::Eeprom, eep).ok()) << model;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), core.board.eeprom().begin())) << model;
        const auto ee = core.programmer.erase(MemoryKind::Eeprom);
        ASSERT_TRUE(ee.ok()) << model << ": " << status_text(ee);
        EXPECT_EQ(std::count(core.board.eeprom().begin(), core.board.eeprom().end(), 0xFF), eeprom_size) << model;
      }
    }
}

TEST(AvrFastRoad, APauseBetweenOperationsIsNeverAFailure) {
    FastCore core("ATmega328");
    const std::uint32_t start = find_device_model("ATmega328")->loader_start;
    const auto signature = find_signature(std::span<const std::uint8_t, kLoaderBlock>(core.board.flash().data() + start, kLoaderBlock));
    if (!signature || !signature->speaks_session()) GTEST_SKIP() << "this build's loader image has no checked session";
    const auto program = random_bytes(0x900, 4);
    const std::string hex = core.file("p.hex", program);
    const auto data = random_bytes(200, 5);
    const std::string eep = core.file("d.eep", data);
    ASSERT_TRUE(core.programmer.write(MemoryKind::Flash, hex).ok());
    // Shorter than the loader's half second, about as long, and longer: the loader left
    // the session or did not, and the host finds it either way.
    for (const std::int64_t pause : {300, 450, 520, 700, 2000}) {
        core.link.sleep_ms(pause);
        const auto v = core.programmer.verify(MemoryKind::Flash, hex);
        EXPECT_TRUE(v.ok()) << pause << ": " << status_text(v);
        core.link.sleep_ms(pause);
        const auto w = core.programmer.write(MemoryKind::Eeprom, eep);
        EXPECT_TRUE(w.ok()) << pause << ": " << status_text(w);
        core.link.sleep_ms(pause);
        EXPECT_TRUE(core.programmer.read(MemoryKind::Eeprom).ok()) << pause;
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), core.board.eeprom().begin()));
    EXPECT_TRUE(std::equal(program.begin(), program.end(), core.board.flash().begin()));
    // After a pause too, the program is started: the sync that ends the session (or
    // finds the hunting loader), then the plain `S`.
    core.link.sleep_ms(700);
    EXPECT_TRUE(core.programmer.start_program());
}

}  // namespace
}  // namespace zarvik
