// The avr-gcc example's files, loaded by us and converted by two independent tools.
#include <gtest/gtest.h>

#include "memory/elf_loader.h"
#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "memory/memory_image.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::read_file;
using testing::run_command;

struct Oracle {
    const char* name;
    std::string command;  // %in and %out are replaced
};

std::string replace_all(std::string s, const std::string& what, const std::string& with) {
    for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size())) s.replace(p, what.size(), with);
    return s;
}

std::vector<Oracle> oracles() {
    return {{"avr-objcopy", std::string(ZARVIK_AVR_OBJCOPY) + " -I ihex -O binary %in %out"},
            {"srec_cat", std::string(ZARVIK_SREC_CAT) + " %in -Intel -o %out -Binary"}};
}

TEST(RealFiles, ExampleLoadsByteForByteAsTheToolsSeeIt) {
    testing::TempDir dir;
    for (const char* file : {ZARVIK_BLINK_HEX, ZARVIK_BLINK_EEP}) {
        FlashImage image;
        auto result = load_intel_hex_file(file, image.span());
        ASSERT_TRUE(std::holds_alternative<LoadedRange>(result)) << file;
        const auto range = std::get<LoadedRange>(result);
        EXPECT_EQ(range.start, 0u) << file;
        EXPECT_GT(range.end, 16u) << file;
        for (const auto& oracle : oracles()) {
            const std::string out = dir.file(std::string(oracle.name) + ".bin");
            std::string log;
            ASSERT_EQ(run_command(replace_all(replace_all(oracle.command, "%in", file), "%out", out), &log), 0) << log;
            const std::string binary = read_file(out);
            ASSERT_EQ(binary.size(), range.end) << oracle.name << " " << file;
            EXPECT_TRUE(std::equal(binary.begin(), binary.end(), image.bytes.begin(),
                                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
                << oracle.name << " " << file;
        }
    }
}

TEST(RealFiles, OurExportIsReadBySrecCat) {
    testing::TempDir dir;
    FlashImage image;
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(ZARVIK_BLINK_HEX, image.span())));
    const std::string hex = dir.write("export.hex", to_intel_hex(std::span(image.bytes).first(0x7C00)));
    const std::string bin = dir.file("export.bin");
    std::string log;
    ASSERT_EQ(run_command(std::string(ZARVIK_SREC_CAT) + " " + hex + " -Intel -o " + bin + " -Binary", &log), 0) << log;
    EXPECT_TRUE(log.empty()) << log;  // no warnings either
    const std::string binary = read_file(bin);
    ASSERT_FALSE(binary.empty());
    EXPECT_TRUE(std::equal(binary.begin(), binary.end(), image.bytes.begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

TEST(RealFiles, TheElfGivesTheSameBytesAsTheHexMadeFromIt) {
    struct Case { MemoryKind memory; std::string elf; std::string hex; };
    const std::string with_data = ZARVIK_WITH_DATA;
    for (const Case& c : {Case{MemoryKind::Flash, ZARVIK_BLINK_ELF, ZARVIK_BLINK_HEX},
                          Case{MemoryKind::Eeprom, ZARVIK_BLINK_ELF, ZARVIK_BLINK_EEP},
                          Case{MemoryKind::Flash, with_data + ".elf", with_data + ".hex"},
                          Case{MemoryKind::Eeprom, with_data + ".elf", with_data + ".eep"}}) {
        FlashImage from_hex, from_elf, filled_hex, filled_elf;
        const auto hex = load_image_file(c.hex, c.memory, from_hex.span(), filled_hex.span());
        ASSERT_TRUE(std::holds_alternative<LoadedRange>(hex)) << c.hex;
        const auto elf = load_image_file(c.elf, c.memory, from_elf.span(), filled_elf.span());
        ASSERT_TRUE(std::holds_alternative<LoadedRange>(elf)) << c.hex;
        EXPECT_EQ(std::get<LoadedRange>(elf).start, std::get<LoadedRange>(hex).start);
        EXPECT_EQ(std::get<LoadedRange>(elf).end, std::get<LoadedRange>(hex).end);
        EXPECT_EQ(from_elf.bytes, from_hex.bytes) << c.hex;
        // Which bytes the file holds (a serial number may go only elsewhere) is the same
        // from the segments as from the records the tools wrote for them.
        EXPECT_EQ(filled_elf.bytes, filled_hex.bytes) << c.hex;
    }
}

TEST(RealFiles, AnElfForAnotherMachineOrTooBigIsRefused) {
    FlashImage image;
    // This test program itself is an ELF file, for the host's machine.
    const auto native = load_image_file("/proc/self/exe", MemoryKind::Flash, image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(native));
    EXPECT_EQ(std::get<HexError>(native).kind, HexError::Kind::NotAvrElf);

    std::array<std::uint8_t, 64> small{};
    const auto too_big = load_image_file(ZARVIK_BLINK_ELF, MemoryKind::Flash, small);
    ASSERT_TRUE(std::holds_alternative<HexError>(too_big));
    EXPECT_EQ(std::get<HexError>(too_big).kind, HexError::Kind::BeyondCapacity);

    testing::TempDir dir;
    const std::string cut = dir.write("cut.elf", read_file(ZARVIK_BLINK_ELF).substr(0, 200));
    const auto damaged = load_image_file(cut, MemoryKind::Flash, image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(damaged));
    EXPECT_EQ(std::get<HexError>(damaged).kind, HexError::Kind::BadElf);
}

}  // namespace
}  // namespace zarvik
