// The ELF reader on files made here, byte by byte: what avr-gcc writes loads, and every
// field that could lead a read outside the file is refused with its reason. The same
// reader runs in every build, the Windows one included.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "memory/elf_loader.h"
#include "memory/memory_image.h"

namespace zarvik {
namespace {

void put(std::string& bytes, std::size_t at, std::uint32_t value, std::size_t size, bool little = true) {
    if (bytes.size() < at + size) bytes.resize(at + size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t shift = 8 * (little ? i : size - 1 - i);
        bytes[at + i] = static_cast<char>((value >> shift) & 0xFF);
    }
}

struct Segment {
    std::uint32_t type = 1;  // PT_LOAD
    std::uint32_t paddr = 0;
    std::string data;
};

// A 32-bit little-endian AVR ELF file as avr-gcc lays it out: the header, the segment
// table right after it, then each segment's bytes.
std::string elf_file(const std::vector<Segment>& segments, std::uint16_t machine = 83) {
    std::string bytes = std::string("\x7F" "ELF\x01\x01\x01", 7);
    bytes.resize(52, '\0');
    put(bytes, 16, 2, 2);        // ET_EXEC
    put(bytes, 18, machine, 2);
    put(bytes, 20, 1, 4);        // EV_CURRENT
    put(bytes, 28, 52, 4);       // e_phoff
    put(bytes, 40, 52, 2);       // e_ehsize
    put(bytes, 42, 32, 2);       // e_phentsize
    put(bytes, 44, static_cast<std::uint32_t>(segments.size()), 2);
    std::size_t data_at = 52 + 32 * segments.size();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::size_t at = 52 + 32 * i;
        put(bytes, at, segments[i].type, 4);
        put(bytes, at + 4, static_cast<std::uint32_t>(data_at), 4);
        put(bytes, at + 8, segments[i].paddr, 4);
        put(bytes, at + 12, segments[i].paddr, 4);
        put(bytes, at + 16, static_cast<std::uint32_t>(segments[i].data.size()), 4);
        put(bytes, at + 20, static_cast<std::uint32_t>(segments[i].data.size()), 4);
        data_at += segments[i].data.size();
    }
    bytes.resize(52 + 32 * segments.size(), '\0');
    for (const Segment& s : segments) bytes += s.data;
    return bytes;
}

// Text, initialised data placed after it, and EEPROM, as avr-gcc links a program.
std::string program() {
    return elf_file({{1, 0x0000, std::string("\x0C\x94\x34\x00", 4)},
                     {1, 0x0004, "AB"},
                     {6, 0x0100, "not loaded"},  // PT_PHDR and the like: ignored
                     {1, 0x810000, "\x11\x22\x33"},
                     {1, 0x800100, "RAM only"}});  // .bss and .noinit live in RAM
}

TEST(ElfLoader, FlashFromTheLoadableSegmentsAndEepromFromItsOwn) {
    FlashImage flash;
    std::array<std::uint8_t, kFlashCapacity> filled{};
    const auto loaded = load_elf(program(), MemoryKind::Flash, flash.span(), "p.elf", filled);
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(loaded));
    EXPECT_EQ(std::get<LoadedRange>(loaded).start, 0u);
    EXPECT_EQ(std::get<LoadedRange>(loaded).end, 6u);
    EXPECT_EQ(std::string(flash.bytes.begin(), flash.bytes.begin() + 7), std::string("\x0C\x94\x34\x00" "AB\xFF", 7));
    EXPECT_EQ(filled[5], 1);
    EXPECT_EQ(filled[6], 0);

    EepromImage eeprom;
    const auto data = load_elf(program(), MemoryKind::Eeprom, eeprom.span(), "p.elf");
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(data));
    EXPECT_EQ(std::get<LoadedRange>(data).end, 3u);
    EXPECT_EQ(eeprom.bytes[2], 0x33);
    EXPECT_EQ(eeprom.bytes[3], 0xFF);
}

TEST(ElfLoader, WhatCannotBeReadIsRefusedWithItsReason) {
    const std::string good = program();
    struct Case {
        const char* what;
        std::string bytes;
        HexError::Kind kind;
        ElfDefect defect;
    };
    std::string big_endian = good;
    big_endian[5] = 2;
    put(big_endian, 18, 83, 2, false);
    std::string sixty_four = good;
    sixty_four[4] = 2;
    std::string x86_64 = std::string("\x7F" "ELF\x02\x01\x01", 7);
    put(x86_64, 18, 62, 2);
    std::string odd_entries = good;
    put(odd_entries, 42, 40, 2);
    std::string table_past_end = good;
    put(table_past_end, 28, static_cast<std::uint32_t>(good.size() - 40), 4);
    std::string table_far_away = good;
    put(table_far_away, 28, 0xFFFFFFF0u, 4);
    std::string counted_elsewhere = good;
    put(counted_elsewhere, 44, 0xFFFF, 2);
    std::string data_past_end = good;
    put(data_past_end, 52 + 16, 0xFFFFFFFFu, 4);  // the first segment's file size
    std::string offset_past_end = good;
    put(offset_past_end, 52 + 4, 0xFFFFFFF0u, 4);
    const Case cases[] = {
        {"the magic alone", std::string("\x7F" "ELF", 4), HexError::Kind::BadElf, ElfDefect::Header},
        {"a header cut short", good.substr(0, 40), HexError::Kind::BadElf, ElfDefect::Header},
        {"a class ELF has not", std::string("\x7F" "ELF\x07\x01\x01", 7) + std::string(45, '\0'), HexError::Kind::BadElf,
         ElfDefect::Header},
        {"big-endian", big_endian, HexError::Kind::BadElf, ElfDefect::Header},
        {"64-bit", sixty_four, HexError::Kind::BadElf, ElfDefect::Header},
        {"another machine's, named", x86_64, HexError::Kind::NotAvrElf, ElfDefect::None},
        {"entries of another size", odd_entries, HexError::Kind::BadElf, ElfDefect::SegmentTable},
        {"a table past the end", table_past_end, HexError::Kind::BadElf, ElfDefect::SegmentTable},
        {"a table where the offset wraps", table_far_away, HexError::Kind::BadElf, ElfDefect::SegmentTable},
        {"a count kept in a section", counted_elsewhere, HexError::Kind::BadElf, ElfDefect::SegmentTable},
        {"a segment's bytes past the end", data_past_end, HexError::Kind::BadElf, ElfDefect::SegmentData},
        {"a segment that starts past the end", offset_past_end, HexError::Kind::BadElf, ElfDefect::SegmentData},
        {"cut inside a segment", elf_file({{1, 0x0000, "abcdef"}}).substr(0, 52 + 32 + 4), HexError::Kind::BadElf, ElfDefect::SegmentData},
        {"no segment", elf_file({}), HexError::Kind::Empty, ElfDefect::None},
        {"only RAM", elf_file({{1, 0x800060, "xy"}}), HexError::Kind::Empty, ElfDefect::None},
        {"past the flash", elf_file({{1, 0x7FFE, "abcd"}}), HexError::Kind::BeyondCapacity, ElfDefect::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlashImage flash;
        flash.bytes.fill(0);
        const auto result = load_elf(c.bytes, MemoryKind::Flash, flash.span(), "bad.elf");
        ASSERT_TRUE(std::holds_alternative<HexError>(result));
        const HexError& e = std::get<HexError>(result);
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(e.elf_defect, c.defect);
        EXPECT_EQ(e.file, "bad.elf");
        if (c.kind == HexError::Kind::NotAvrElf) {
            EXPECT_EQ(e.found, 62u);
        }
        if (c.kind == HexError::Kind::BeyondCapacity) {
            EXPECT_EQ(e.address, kFlashCapacity);
        }
        EXPECT_TRUE(std::all_of(flash.bytes.begin(), flash.bytes.end(), [](std::uint8_t b) { return b == kBlank; }));
    }
}

}  // namespace
}  // namespace zarvik
