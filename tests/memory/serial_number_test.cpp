#include "memory/serial_number.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace zarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(SerialNumber, EachFormatLaysOutTheNumberAsItsNameSays) {
    struct Case { SerialLayout layout; std::uint64_t number; Bytes bytes; };
    const Case cases[] = {
        {{SerialFormat::U16Le}, 0x1234, {0x34, 0x12}},
        {{SerialFormat::U16Be}, 0x1234, {0x12, 0x34}},
        {{SerialFormat::U16Le}, 0, {0x00, 0x00}},
        {{SerialFormat::U16Be}, 0xFFFF, {0xFF, 0xFF}},
        {{SerialFormat::U32Le}, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {{SerialFormat::U32Be}, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
        {{SerialFormat::U32Le}, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {{SerialFormat::U32Be}, 1, {0x00, 0x00, 0x00, 0x01}},
        {{SerialFormat::Ascii, 6}, 42, text_bytes("000042")},
        {{SerialFormat::Ascii, 1}, 0, text_bytes("0")},
        {{SerialFormat::Ascii, 1}, 9, text_bytes("9")},
        {{SerialFormat::Ascii, 3}, 999, text_bytes("999")},
        {{SerialFormat::Ascii, 20}, std::numeric_limits<std::uint64_t>::max(), text_bytes("18446744073709551615")},
        {{SerialFormat::Ascii, 20}, 7, text_bytes("00000000000000000007")},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(serial_fits(c.layout, c.number)) << c.number;
        EXPECT_EQ(c.layout.size(), c.bytes.size()) << c.number;
        EXPECT_EQ(encode_serial(c.layout, c.number), c.bytes) << c.number;
    }
}

TEST(SerialNumber, ANumberFitsUpToTheLargestItsLayoutHolds) {
    struct Case { SerialLayout layout; std::uint64_t largest; };
    const Case cases[] = {
        {{SerialFormat::U16Le}, 0xFFFF},
        {{SerialFormat::U16Be}, 0xFFFF},
        {{SerialFormat::U32Le}, 0xFFFFFFFF},
        {{SerialFormat::U32Be}, 0xFFFFFFFF},
        {{SerialFormat::Ascii, 1}, 9},
        {{SerialFormat::Ascii, 4}, 9999},
        {{SerialFormat::Ascii, 19}, 9999999999999999999u},
        {{SerialFormat::Ascii, 20}, std::numeric_limits<std::uint64_t>::max()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.layout.largest(), c.largest) << c.largest;
        EXPECT_TRUE(serial_fits(c.layout, c.largest)) << c.largest;
        EXPECT_TRUE(serial_fits(c.layout, 0)) << c.largest;
        if (c.largest < std::numeric_limits<std::uint64_t>::max()) {
            EXPECT_FALSE(serial_fits(c.layout, c.largest + 1)) << c.largest;
        }
    }
    // A layout of no digits holds nothing, not even 0.
    EXPECT_FALSE(serial_fits(SerialLayout{SerialFormat::Ascii, 0}, 0));
}

TEST(SerialNumber, FormatWords) {
    struct Case { const char* text; SerialFormat format; int digits; };
    for (const Case& c : {Case{"u16le", SerialFormat::U16Le, 0}, Case{"u16be", SerialFormat::U16Be, 0},
                          Case{"u32le", SerialFormat::U32Le, 0}, Case{"u32be", SerialFormat::U32Be, 0},
                          Case{"ascii:1", SerialFormat::Ascii, 1}, Case{"ascii:8", SerialFormat::Ascii, 8},
                          Case{"ascii:20", SerialFormat::Ascii, 20}, Case{"ascii:08", SerialFormat::Ascii, 8}}) {
        const auto layout = parse_serial_format(c.text);
        ASSERT_TRUE(layout) << c.text;
        EXPECT_EQ(layout->format, c.format) << c.text;
        EXPECT_EQ(layout->digits, c.digits) << c.text;
    }
    for (const char* bad : {"", "u16", "U16LE", "u16le ", " u16le", "u64le", "u8", "ascii", "ascii:", "ascii:0",
                            "ascii:21", "ascii:-3", "ascii:+3", "ascii:3x", "ascii: 3", "ascii:99999999999999999999999",
                            "u32le:4"}) {
        EXPECT_FALSE(parse_serial_format(bad)) << '"' << bad << '"';
    }
}

TEST(SerialNumber, PlaceWords) {
    struct Case { const char* text; MemoryKind memory; std::uint32_t address; };
    for (const Case& c : {Case{"eeprom:0", MemoryKind::Eeprom, 0}, Case{"eeprom:64", MemoryKind::Eeprom, 64},
                          Case{"eeprom:0x40", MemoryKind::Eeprom, 0x40}, Case{"flash:0X7BFE", MemoryKind::Flash, 0x7BFE},
                          Case{"flash:0x7bfe", MemoryKind::Flash, 0x7BFE}, Case{"flash:00100", MemoryKind::Flash, 100},
                          Case{"flash:4294967295", MemoryKind::Flash, 0xFFFFFFFF}}) {
        const auto place = parse_serial_place(c.text);
        ASSERT_TRUE(place) << c.text;
        EXPECT_EQ(place->memory, c.memory) << c.text;
        EXPECT_EQ(place->address, c.address) << c.text;
    }
    for (const char* bad : {"", "eeprom", "eeprom:", "eeprom:0x", "EEPROM:0", "ram:0", "flash:-1", "flash:+1",
                            "flash:1a", "flash:0x1g", "flash: 1", "flash:1 ", "flash:4294967296", "flash:0x100000000",
                            "eeprom:0x40:2", "0x40"}) {
        EXPECT_FALSE(parse_serial_place(bad)) << '"' << bad << '"';
    }
}

}  // namespace
}  // namespace zarvik
