// A board's serial number as a patch of a few bytes: written with a file or alone, on
// both roads, changing nothing beside it, and refused before a byte is sent when it
// would land on the file's data or outside the chip's memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "programmer/patch_check.h"
#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"
#include "text/language.h"

namespace zarvik {
namespace {

using testing::ProgrammerBench;
using testing::pattern;
using Result = OperationOutcome::Result;
using Bytes = std::vector<std::uint8_t>;

// The plain four-byte protocol, and our loader's checked session.
constexpr LoaderKind kKinds[] = {LoaderKind::Plain, LoaderKind::Ours};

const char* road_name(LoaderKind kind) { return kind == LoaderKind::Ours ? "fast road" : "plain road"; }

struct Record {
    std::uint32_t address;
    Bytes data;
};

std::string hex_file(ProgrammerBench& bench, const std::vector<Record>& records) {
    std::string text;
    for (const Record& r : records) text += ProgrammerBench::hex_records(r.address, r.data);
    return bench.dir.write("f.hex", text + ":00000001FF\r\n");
}

// Long enough that the fast road's checks from the write no longer stand in for a
// verify: the chip is asked again.
void let_time_pass(ProgrammerBench& bench) { bench.board.clock.sleep_ms(5000); }

Bytes chip_copy(std::span<const std::uint8_t> memory) { return Bytes(memory.begin(), memory.end()); }

// The plain road's EEPROM writes: where each `D` went (after its `A`) and how many bytes.
std::vector<std::pair<std::uint32_t, int>> plain_eeprom_writes(const SimLoader& loader) {
    std::vector<std::pair<std::uint32_t, int>> out;
    const auto& log = loader.log();
    std::uint32_t address = 0;
    for (std::size_t i = 0; i + 3 < log.size(); i += log[i].byte == 'B' ? 132 : 4) {
        if (log[i].byte == 'A') address = static_cast<std::uint32_t>(log[i + 1].byte << 8 | log[i + 2].byte);
        if (log[i].byte == 'D') out.emplace_back(address, log[i + 1].byte);
    }
    return out;
}

TEST(SerialPatch, AnEepromNumberBeyondTheFileLeavesTheBytesBetweenAsTheyWere) {
    for (const LoaderKind kind : kKinds) {
        SCOPED_TRACE(road_name(kind));
        ProgrammerBench bench("ATmega328", {}, kind);
        const auto chip = bench.board.loader.eeprom();
        const Bytes before = pattern(chip.size(), 7);
        std::copy(before.begin(), before.end(), chip.begin());
        const Bytes data = pattern(16, 100);
        const std::string file = hex_file(bench, {{0, data}});
        const Bytes number{0x12, 0x34};
        bench.programmer.set_patch(ImagePatch{MemoryKind::Eeprom, 0x40, number});

        const auto w = bench.programmer.write(MemoryKind::Eeprom, file);
        ASSERT_EQ(w.result, Result::Success) << status_text(w);
        if (kind == LoaderKind::Plain) {
            // The file's bytes, then the number's own two: nothing between is sent.
            EXPECT_EQ(plain_eeprom_writes(bench.board.loader),
                      (std::vector<std::pair<std::uint32_t, int>>{{0, 16}, {0x40, 2}}));
        }
        Bytes expected = before;
        std::copy(data.begin(), data.end(), expected.begin());
        std::copy(number.begin(), number.end(), expected.begin() + 0x40);
        EXPECT_EQ(chip_copy(chip), expected);

        const auto v = bench.programmer.verify(MemoryKind::Eeprom, file);
        EXPECT_EQ(v.result, Result::Success) << status_text(v);
        // The verify compares the number too.
        chip[0x41] ^= 0x01;
        let_time_pass(bench);
        const auto changed = bench.programmer.verify(MemoryKind::Eeprom, file);
        ASSERT_EQ(changed.result, Result::Differences) << status_text(changed);
        ASSERT_EQ(changed.difference_count, 1u);
        EXPECT_EQ(changed.differences[0].address, 0x41u);
        EXPECT_EQ(changed.differences[0].expected, 0x34);
    }
}

TEST(SerialPatch, AnEepromNumberAloneChangesOnlyItsBytes) {
    for (const LoaderKind kind : kKinds) {
        SCOPED_TRACE(road_name(kind));
        ProgrammerBench bench("ATmega328", {}, kind);
        const auto chip = bench.board.loader.eeprom();
        const Bytes before = pattern(chip.size(), 3);
        std::copy(before.begin(), before.end(), chip.begin());
        // The EEPROM's last three bytes.
        const Bytes number{'0', '4', '2'};
        bench.programmer.set_patch(ImagePatch{MemoryKind::Eeprom, 0x3FD, number});
        ASSERT_FALSE(bench.programmer.check_patch());

        const auto w = bench.programmer.write_patch();
        ASSERT_EQ(w.result, Result::Success) << status_text(w);
        Bytes expected = before;
        std::copy(number.begin(), number.end(), expected.begin() + 0x3FD);
        EXPECT_EQ(chip_copy(chip), expected);

        const auto v = bench.programmer.verify_patch();
        EXPECT_EQ(v.result, Result::Success) << status_text(v);
        chip[0x3FF] = '3';
        chip[0x3FC] ^= 0xFF;  // not the number's: not compared
        let_time_pass(bench);
        const auto changed = bench.programmer.verify_patch();
        ASSERT_EQ(changed.result, Result::Differences) << status_text(changed);
        ASSERT_EQ(changed.difference_count, 1u);
        EXPECT_EQ(changed.differences[0].address, 0x3FFu);
    }
}

TEST(SerialPatch, AFlashNumberKeepsTheOtherBytesOfItsPageAndIsVerifiedWithTheFile) {
    struct Case {
        const char* what;
        const char* model;
        std::vector<Record> file;
        std::uint32_t at;
    };
    const Case cases[] = {
        {"after the file, in its last chip page", "ATmega328", {{0x100, pattern(64, 9)}}, 0x150},
        {"after the file, in the next chip page of the same unit", "ATmega8", {{0x100, pattern(64, 9)}}, 0x150},
        {"far after the file", "ATmega168", {{0x100, pattern(64, 9)}}, 0x2F00},
        {"in a gap between the file's records", "ATmega328", {{0x200, pattern(16, 9)}, {0x220, pattern(16, 5)}}, 0x214},
        {"before the file", "ATmega328", {{0x200, pattern(64, 9)}}, 0x1F0},
    };
    const Bytes number{0xDE, 0xAD, 0xBE, 0xEF};
    for (const Case& c : cases) {
        for (const LoaderKind kind : kKinds) {
            SCOPED_TRACE(std::string(c.what) + ", " + c.model + ", " + road_name(kind));
            ProgrammerBench bench(c.model, {}, kind);
            const auto chip = bench.board.loader.flash().first(find_device_model(c.model)->loader_start);
            const std::uint32_t file_first = c.file.front().address;
            const std::uint32_t file_end = c.file.back().address + static_cast<std::uint32_t>(c.file.back().data.size());
            // Another program's bytes from the file's start on, which the file does not
            // hold (a verify from address 0 wants the chip blank below the file).
            const Bytes old = pattern(std::min<std::size_t>(0x3000, chip.size()) - file_first, 77);
            std::copy(old.begin(), old.end(), chip.begin() + file_first);
            Bytes expected = chip_copy(chip);
            std::fill(expected.begin() + file_first, expected.begin() + file_end, kBlank);
            for (const Record& r : c.file) std::copy(r.data.begin(), r.data.end(), expected.begin() + r.address);
            std::copy(number.begin(), number.end(), expected.begin() + c.at);
            const std::string file = hex_file(bench, c.file);
            bench.programmer.set_patch(ImagePatch{MemoryKind::Flash, c.at, number});

            const auto w = bench.programmer.write(MemoryKind::Flash, file, no_progress(), {.erase_pages = true});
            ASSERT_EQ(w.result, Result::Success) << status_text(w);
            EXPECT_EQ(chip_copy(chip), expected);

            const auto v = bench.programmer.verify(MemoryKind::Flash, file);
            EXPECT_EQ(v.result, Result::Success) << status_text(v);
            chip[c.at + 2] ^= 0x10;
            let_time_pass(bench);
            const auto changed = bench.programmer.verify(MemoryKind::Flash, file);
            ASSERT_EQ(changed.result, Result::Differences) << status_text(changed);
            ASSERT_EQ(changed.difference_count, 1u);
            EXPECT_EQ(changed.differences[0].address, c.at + 2);
            EXPECT_EQ(changed.differences[0].expected, 0xBE);
        }
    }
}

TEST(SerialPatch, AFlashNumberAloneKeepsTheRestOfItsPage) {
    for (const LoaderKind kind : kKinds) {
        SCOPED_TRACE(road_name(kind));
        ProgrammerBench bench("ATmega328", {}, kind);
        const auto chip = bench.board.loader.flash().first(0x7C00);
        const Bytes old = pattern(0x400, 21);
        std::copy(old.begin(), old.end(), chip.begin());
        const Bytes number{0x01, 0x00};
        bench.programmer.set_patch(ImagePatch{MemoryKind::Flash, 0x3FE, number});
        Bytes expected = chip_copy(chip);
        std::copy(number.begin(), number.end(), expected.begin() + 0x3FE);

        const auto w = bench.programmer.write_patch(no_progress(), {.erase_pages = true});
        ASSERT_EQ(w.result, Result::Success) << status_text(w);
        EXPECT_EQ(chip_copy(chip), expected);
        const auto v = bench.programmer.verify_patch();
        EXPECT_EQ(v.result, Result::Success) << status_text(v);
    }
}

TEST(SerialPatch, ANumberOnTheFilesDataOrOutsideTheMemoryIsRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* what;
        const char* model;
        MemoryKind memory;
        std::vector<Record> file;  // none: the patch alone
        std::uint32_t at;
        std::size_t size;
        Refusal refusal;
        std::uint32_t address;
        const char* says;
    };
    const Case cases[] = {
        {"on the EEPROM file's last bytes", "ATmega328", MemoryKind::Eeprom, {{0, pattern(16)}}, 0x0E, 4,
         Refusal::SerialOverFileData, 0x0E, "Серийный номер по адресу 000E ложится на данные файла"},
        {"on the flash file's first byte", "ATmega328", MemoryKind::Flash, {{0x100, pattern(64)}}, 0xFE, 4,
         Refusal::SerialOverFileData, 0x100, "по адресу 0100"},
        {"on one record beside a gap", "ATmega328", MemoryKind::Flash, {{0x200, pattern(16)}, {0x220, pattern(16)}},
         0x21E, 4, Refusal::SerialOverFileData, 0x220, "0220"},
        {"beyond the EEPROM, with a file", "ATmega168", MemoryKind::Eeprom, {{0, pattern(16)}}, 0x1FF, 2,
         Refusal::DataBeyondEeprom, 0x200, "Серийный номер доходит до адреса 200"},
        {"beyond the EEPROM, alone", "ATmega8", MemoryKind::Eeprom, {}, 0x200, 1, Refusal::DataBeyondEeprom, 0x200,
         "512 байт"},
        {"at the loader", "ATmega328", MemoryKind::Flash, {}, 0x7C00, 2, Refusal::DataOverLoader, 0x7C01,
         "загрузчик начинается с 7C00"},
        {"partly over the loader, with a file", "ATmega8", MemoryKind::Flash, {{0, pattern(64)}}, 0x1BFE, 4,
         Refusal::DataOverLoader, 0x1C01, "Серийный номер доходит до адреса 1C01"},
        {"at the top of the address space", "ATmega328", MemoryKind::Flash, {}, 0xFFFFFFFF, 2, Refusal::DataOverLoader,
         0xFFFFFFFF, "FFFFFFFF"},
    };
    for (const Case& c : cases) {
        for (const LoaderKind kind : kKinds) {
            SCOPED_TRACE(std::string(c.what) + ", " + road_name(kind));
            ProgrammerBench bench(c.model, {}, kind);
            const ImagePatch patch{c.memory, c.at, pattern(c.size, 40)};
            bench.programmer.set_patch(patch);
            std::vector<OperationOutcome> outcomes;
            std::vector<std::pair<MemoryKind, std::string>> files;
            if (c.file.empty()) {
                outcomes.push_back(*bench.programmer.check_patch());
                outcomes.push_back(bench.programmer.write_patch());
                outcomes.push_back(bench.programmer.verify_patch());
            } else {
                const std::string file = hex_file(bench, c.file);
                files.emplace_back(c.memory, file);
                outcomes.push_back(bench.programmer.check_file(c.memory, file));
                outcomes.push_back(bench.programmer.write(c.memory, file));
                outcomes.push_back(bench.programmer.verify(c.memory, file));
            }
            // The command line asks before it connects.
            const auto before_link = check_patch_place(*find_device_model(c.model), patch, files);
            ASSERT_TRUE(before_link);
            outcomes.push_back(*before_link);
            for (const OperationOutcome& o : outcomes) {
                EXPECT_EQ(o.result, Result::Refused) << status_text(o);
                EXPECT_EQ(o.refusal, c.refusal) << status_text(o);
                EXPECT_EQ(o.refused_address, c.address) << status_text(o);
                EXPECT_NE(status_text(o).find(c.says), std::string::npos) << status_text(o);
                EXPECT_NE(status_text(o).find("в устройство ничего не отправлено"), std::string::npos) << status_text(o);
            }
            EXPECT_EQ(bench.commands_sent(), 0u);
        }
    }
}

TEST(SerialPatch, TheRefusalsAreTranslated) {
    struct Case { Refusal refusal; std::uint32_t address, limit; const char* english; };
    const Case cases[] = {
        {Refusal::SerialOverFileData, 0x40, 0, "The serial number at 0040 lies on the file's data: nothing was sent to the device"},
        {Refusal::DataOverLoader, 0x7C01, 0x7C00,
         "The serial number reaches 7C01, but the loader starts at 7C00: nothing was sent to the device"},
        {Refusal::DataBeyondEeprom, 0x200, 512,
         "The serial number reaches 200, but this chip has only 512 bytes of EEPROM: nothing was sent to the device"},
    };
    for (const Case& c : cases) {
        OperationOutcome o;
        o.operation = Operation::Write;
        o.memory = MemoryKind::Eeprom;
        o.result = Result::Refused;
        o.refusal = c.refusal;
        o.refused_address = c.address;
        o.refusal_limit = c.limit;
        o.patch_refused = c.refusal != Refusal::SerialOverFileData;
        set_language(Language::English);
        const std::string english = status_text(o);
        set_language(Language::Russian);
        EXPECT_EQ(english, c.english);
        EXPECT_NE(status_text(o).find("Серийный номер"), std::string::npos) << status_text(o);
    }
}

TEST(SerialPatch, ThePlaceIsCheckedOnlyAgainstFilesOfItsMemory) {
    ProgrammerBench bench("ATmega328");
    const std::string flash = hex_file(bench, {{0, pattern(256)}});
    const DeviceModel model = *find_device_model("ATmega328");
    const ImagePatch eeprom_number{MemoryKind::Eeprom, 0x10, {1, 2}};
    EXPECT_FALSE(check_patch_place(model, eeprom_number, {{MemoryKind::Flash, flash}}));
    EXPECT_FALSE(check_patch_place(model, eeprom_number, {}));
    // A file of its memory that does not load is named as such.
    const auto missing = check_patch_place(model, eeprom_number, {{MemoryKind::Eeprom, bench.dir.file("none.eep")}});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->result, Result::FileFailure);
    EXPECT_NE(status_text(*missing).find("none.eep"), std::string::npos) << status_text(*missing);
    // A flash file with its patch elsewhere: a write covers both, and the rest of the
    // user area stays blank.
    bench.programmer.set_patch(ImagePatch{MemoryKind::Flash, 0x1000, {0xAB, 0xCD}});
    ASSERT_EQ(bench.programmer.write(MemoryKind::Flash, flash).result, Result::Success);
    const auto chip = bench.board.loader.flash();
    EXPECT_EQ(chip[0x1000], 0xAB);
    EXPECT_EQ(chip[0x1001], 0xCD);
    EXPECT_TRUE(std::all_of(chip.begin() + 0x100, chip.begin() + 0x1000, [](std::uint8_t b) { return b == kBlank; }));
    // Set to nothing, the patch is gone from the next image.
    bench.programmer.set_patch(std::nullopt);
    EXPECT_FALSE(bench.programmer.check_patch());
    EXPECT_EQ(bench.programmer.verify(MemoryKind::Flash, flash).result, Result::Success);
    EXPECT_EQ(bench.state->flash_image.bytes[0x1000], kBlank);
}

}  // namespace
}  // namespace zarvik
