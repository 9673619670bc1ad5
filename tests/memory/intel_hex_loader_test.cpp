#include "memory/intel_hex_loader.h"

#include <gtest/gtest.h>

#include <array>

#include "memory/memory_image.h"
#include "programmer/status_texts.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

struct Loaded {
    HexLoadResult result;
    EepromImage image;
};

Loaded load(std::string_view text) {
    Loaded out{LoadedRange{}, {}};
    out.image.bytes.fill(0x00);  // proves the loader blanks the image itself
    out.result = load_intel_hex(text, out.image.span());
    return out;
}

LoadedRange range_of(const Loaded& l) {
    const auto* r = std::get_if<LoadedRange>(&l.result);
    EXPECT_NE(r, nullptr) << "expected a successful load";
    return r != nullptr ? *r : LoadedRange{};
}

HexError error_of(const Loaded& l) {
    const auto* e = std::get_if<HexError>(&l.result);
    EXPECT_NE(e, nullptr) << "expected a refused load";
    return e != nullptr ? *e : HexError{};
}

TEST(IntelHexLoader, SixteenByteRecordLandsAtItsAddress) {
    auto l = load(":10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n");
    auto r = range_of(l);
    EXPECT_EQ(r.start, 0u);
    EXPECT_EQ(r.end, 0x10u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(l.image.bytes[i], i);
    EXPECT_EQ(l.image.bytes[16], 0xFF);
}

TEST(IntelHexLoader, RangeCoversAllRecordsWhateverTheirOrder) {
    auto l = load(":020100001122CA\n:02000000334487\n");
    auto r = range_of(l);
    EXPECT_EQ(r.start, 0x0000u);
    EXPECT_EQ(r.end, 0x0102u);
    EXPECT_EQ(l.image.bytes[0x100], 0x11);
    EXPECT_EQ(l.image.bytes[0x001], 0x44);
    EXPECT_EQ(l.image.bytes[0x050], 0xFF);  // gaps stay blank
}

TEST(IntelHexLoader, FilledMarksTheBytesOfDataRecordsOnly) {
    // Two records with a gap, an address record and the end record: only the data's
    // bytes are the file's, even where the gap's blank equals a data byte.
    EepromImage image;
    std::array<std::uint8_t, kEepromCapacity> filled;
    filled.fill(0x55);
    const auto result = load_intel_hex(":0201000011FFED\n:020000040000FA\n:02000000334487\n:00000001FF\n", image.span(),
                                       filled);
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(result));
    for (std::size_t a = 0; a < filled.size(); ++a) {
        const bool data = a == 0 || a == 1 || a == 0x100 || a == 0x101;
        EXPECT_EQ(filled[a], data ? 1 : 0) << a;
    }
}

TEST(IntelHexLoader, AcceptedVariantsOfTheFormat) {
    struct Case { const char* what; const char* text; std::uint32_t start; std::uint32_t end; };
    const Case cases[] = {
        {"lower-case digits", ":02001000abcd76\n", 0x10, 0x12},
        {"text and BOM before the first colon", "\xEF\xBB\xBF# made by hand\n:01002000558A\n", 0x20, 0x21},
        {"last record without a line end", ":01003000428D", 0x30, 0x31},
        {"start address records are ignored", ":0400000300000000F9\n:0400000500000000F7\n:010000007E81\n", 0, 1},
        {"unknown record types are passed over", ":010000069960\n:010000007E81\n", 0, 1},
        {"later record overwrites earlier", ":0100000011EE\n:0100000022DD\n", 0, 1},
        {"segment base honoured", ":020000020010EC\n:0100000033CC\n", 0x100, 0x101},
        {"linear base zero honoured", ":020000040000FA\n:01004000447B\n", 0x40, 0x41},
    };
    for (const Case& c : cases) {
        auto l = load(c.text);
        auto r = range_of(l);
        EXPECT_EQ(r.start, c.start) << c.what;
        EXPECT_EQ(r.end, c.end) << c.what;
    }
    EXPECT_EQ(load(":0100000011EE\n:0100000022DD\n").image.bytes[0], 0x22);
    EXPECT_EQ(load(":02001000abcd76\n").image.bytes[0x11], 0xCD);
}

TEST(IntelHexLoader, DamagedFilesAreRefusedWithTheLine) {
    struct Case { const char* what; const char* text; HexError::Kind kind; std::size_t line; };
    const Case cases[] = {
        {"wrong checksum", ":0100000011EE\n:0100010022DD\n", HexError::Kind::BadChecksum, 2},
        // Off by an even amount: a test of only the lowest bit of the sum lets these through.
        {"checksum two too small", ":0100000011EC\n", HexError::Kind::BadChecksum, 1},
        {"checksum off by 0x80", ":01000000116E\n", HexError::Kind::BadChecksum, 1},
        {"one data bit flipped, the checksum as it was", ":0100000013EE\n", HexError::Kind::BadChecksum, 1},
        {"a jmp turned into a call, the checksum as it was", ":040000000C94340028\n:040004000E94340024\n",
         HexError::Kind::BadChecksum, 2},
        {"non-hex character in data", ":01000000G1EE\n", HexError::Kind::BadCharacter, 1},
        {"garbage after the checksum", ":0100000011EEx\n", HexError::Kind::BadCharacter, 1},
        {"record shorter than its count", "\n\n:10000000000102\n", HexError::Kind::ShortRecord, 3},
        {"record cut by a line end", ":0100000011\nEE\n", HexError::Kind::ShortRecord, 1},
        {"missing checksum at the end of file", ":0100000011", HexError::Kind::ShortRecord, 1},
        {"bare colon", ":\n", HexError::Kind::ShortRecord, 1},
        {"data beyond the image", ":020FFF001122BD\n", HexError::Kind::BeyondCapacity, 1},
        {"data behind a linear base beyond the image", ":020000040001F9\n:0100000011EE\n",
         HexError::Kind::BeyondCapacity, 2},
        {"address record with the wrong length", ":0100000400FB\n", HexError::Kind::BadRecord, 1},
        {"no data record", ":00000001FF\n", HexError::Kind::Empty, 0},
        {"no colon at all", "hello\n", HexError::Kind::NotHex, 0},
        {"an empty file", "", HexError::Kind::NotHex, 0},
        {"only empty data records", ":00001000F0\n", HexError::Kind::Empty, 0},
        // Text on a line of its own is no record; the colon in a comment is not its start.
        {"comment holding a colon before the records", "# loader\n# made by: hand\n:0100000011EE\n",
         HexError::Kind::NotARecord, 2},
        {"text before the colon on the first record's line", "data:0100000011EE\n", HexError::Kind::NotARecord, 1},
        {"text line between records", ":0100000011EE\n# next\n:0101000022DC\n", HexError::Kind::NotARecord, 2},
        {"comment with a colon between records", ":0100000011EE\n\n# see: below\n:0101000022DC\n",
         HexError::Kind::NotARecord, 3},
        {"text after the end record", ":0100000011EE\r\n:00000001FF\r\nend\r\n", HexError::Kind::NotARecord, 3},
    };
    for (const Case& c : cases) {
        auto e = error_of(load(c.text));
        EXPECT_EQ(e.kind, c.kind) << c.what;
        EXPECT_EQ(e.line, c.line) << c.what;
    }
}

// A loader's HEX file as some tools ship it: a comment block whose lines hold colons.
// Read as records, the colon in line 2 starts one that looks cut short; the user must
// be told instead that line 2 is text, not a damaged record.
TEST(IntelHexLoader, ACommentLineWithAColonIsNamedAsTextNotAsAShortRecord) {
    testing::TempDir dir;
    const std::string path = dir.write("commented.hex",
                                       "#\n"
                                       "# boot loader, v1.2: copy to flash at 0000\n"
                                       "# built: by hand\n"
                                       "#\n"
                                       ":040000000C94340028\n"
                                       ":020010000C944E\n"
                                       ":00000001FF\n");
    FlashImage image;
    const auto result = load_intel_hex_file(path, image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(result));
    const HexError& e = std::get<HexError>(result);
    EXPECT_EQ(e.kind, HexError::Kind::NotARecord);
    EXPECT_EQ(e.line, 2u);
    const std::string said = hex_error_text(e);
    EXPECT_NE(said.find("строка 2: это текст, а не запись Intel HEX"), std::string::npos) << said;
    EXPECT_EQ(said.find("короче"), std::string::npos) << said;

    // The same records without the comment's colons load: the comment block itself is
    // skipped, as text before the first record always was.
    const std::string plain = dir.write("plain.hex",
                                        "#\n# boot loader, v1.2, copy to flash at 0000\n#\n"
                                        ":040000000C94340028\n:020010000C944E\n:00000001FF\n");
    const auto loaded = load_intel_hex_file(plain, image.span());
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(loaded));
    EXPECT_EQ(std::get<LoadedRange>(loaded).end, 0x12u);
    EXPECT_EQ(image.bytes[0x11], 0x94);
}

TEST(IntelHexLoader, ErrorsCarryExpectedFoundAndAddress) {
    auto checksum = error_of(load(":0100000011FF\n"));
    EXPECT_EQ(checksum.expected, 0xEEu);
    EXPECT_EQ(checksum.found, 0xFFu);
    auto beyond = error_of(load(":020000040001F9\n:0100000011EE\n"));
    EXPECT_EQ(beyond.address, 0x10000u);
    auto character = error_of(load(":01000000G1EE\n"));
    EXPECT_EQ(character.found, static_cast<std::uint32_t>('G'));
}

TEST(IntelHexLoader, FileErrorsNameThePath) {
    testing::TempDir dir;
    FlashImage image;
    auto missing = load_intel_hex_file(dir.file("nope.hex"), image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(missing));
    EXPECT_EQ(std::get<HexError>(missing).kind, HexError::Kind::CannotOpen);
    EXPECT_EQ(std::get<HexError>(missing).file, dir.file("nope.hex"));
    EXPECT_FALSE(std::get<HexError>(missing).detail.empty());

    auto folder = load_intel_hex_file(dir.path().string(), image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(folder));
    EXPECT_EQ(std::get<HexError>(folder).kind, HexError::Kind::CannotOpen);

    auto bad = load_intel_hex_file(dir.write("bad.hex", ":0100000011FF\n"), image.span());
    ASSERT_TRUE(std::holds_alternative<HexError>(bad));
    EXPECT_EQ(std::get<HexError>(bad).file, dir.file("bad.hex"));
}

}  // namespace
}  // namespace zarvik
