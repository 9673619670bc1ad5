#include <gtest/gtest.h>

#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"

namespace zarvik {
namespace {

using testing::pattern;
using testing::ProgrammerBench;
using testing::RecordingProgress;
using Result = OperationOutcome::Result;

// The addresses of every packet with this command byte, in order.
std::vector<std::uint32_t> addresses_of(const SimLoader& loader, std::uint8_t cmd) {
    std::vector<std::uint32_t> out;
    const auto& log = loader.log();
    std::uint32_t address = 0;
    for (std::size_t i = 0; i + 3 < log.size();) {
        const std::uint8_t c = log[i].byte;
        if (c == 'A') address = static_cast<std::uint32_t>(log[i + 1].byte << 8 | log[i + 2].byte);
        if (c == cmd) out.push_back(address);
        i += c == 'B' ? 132 : 4;
    }
    return out;
}

// The a2 argument of every `F` (pages) or a1 of every `D` (bytes).
std::vector<int> counts_of(const SimLoader& loader, std::uint8_t cmd) {
    std::vector<int> out;
    const auto& log = loader.log();
    for (std::size_t i = 0; i + 3 < log.size();) {
        const std::uint8_t c = log[i].byte;
        if (c == cmd) out.push_back(cmd == 'F' ? log[i + 2].byte : log[i + 1].byte);
        i += c == 'B' ? 132 : 4;
    }
    return out;
}

TEST(FlashOperations, EraseCoversTheUserAreaOfTheModel) {
    struct Case { const char* model; std::size_t pages; std::uint32_t last; };
    for (const Case& c : {Case{"ATmega8", 112, 0x1BC0}, Case{"ATmega168", 240, 0x3BC0}, Case{"ATmega328", 496, 0x7BC0}}) {
        ProgrammerBench bench(c.model);
        bench.board.loader.flash()[0x100] = 0x00;
        const auto outcome = bench.programmer.erase(MemoryKind::Flash);
        ASSERT_TRUE(outcome.ok()) << status_text(outcome);
        const auto erased = addresses_of(bench.board.loader, 'E');
        EXPECT_EQ(erased.size(), c.pages) << c.model;
        EXPECT_EQ(erased.back(), c.last) << c.model;
        EXPECT_EQ(bench.board.loader.flash()[0x100], 0xFF);
        EXPECT_EQ(status_text(outcome).rfind("Стирание flash закончено!  Время стирания: ", 0), 0u);
    }
}

TEST(FlashOperations, WriteAlignsToPagesAndSendsPageCounts) {
    // Whole chip pages: 64 bytes on the ATmega8, 128 on the ATmega328.
    struct Case { const char* model; std::uint32_t address; std::size_t size; std::vector<std::uint32_t> blocks;
                  std::vector<int> pages; std::uint32_t range; std::uint32_t last_position; };
    const Case cases[] = {
        {"ATmega8", 0x0000, 16, {0x0000}, {1}, 0x40, 0x80},
        {"ATmega8", 0x0000, 192, {0x0000, 0x0080}, {2, 1}, 0xC0, 0x100},
        {"ATmega8", 0x0110, 100, {0x0100}, {2}, 0x180, 0x180},
        {"ATmega328", 0x0000, 16, {0x0000}, {2}, 0x80, 0x80},
        {"ATmega328", 0x0000, 192, {0x0000, 0x0080}, {2, 2}, 0x100, 0x100},
        {"ATmega328", 0x0110, 100, {0x0100}, {2}, 0x180, 0x180},
    };
    for (const Case& c : cases) {
        ProgrammerBench bench(c.model);
        bench.programmer.erase(MemoryKind::Flash);
        const auto data = pattern(c.size);
        const std::string file = bench.hex_file("p.hex", c.address, data);
        RecordingProgress progress;
        const auto outcome = bench.programmer.write(MemoryKind::Flash, file, progress);
        ASSERT_TRUE(outcome.ok()) << status_text(outcome);
        EXPECT_EQ(addresses_of(bench.board.loader, 'F'), c.blocks);
        EXPECT_EQ(counts_of(bench.board.loader, 'F'), c.pages);
        EXPECT_EQ(progress.ranges.back(), c.range);
        EXPECT_EQ(progress.positions.back(), c.last_position);
        EXPECT_EQ(progress.phases, std::vector<Phase>{Phase::Writing});
        EXPECT_TRUE(std::equal(data.begin(), data.end(), bench.board.loader.flash().begin() + c.address));
        EXPECT_EQ(status_text(outcome).rfind("Запись flash закончена!  Время записи: ", 0), 0u);
        // The 10 ms waits on the fake clock, and nothing more: every answer came in time,
        // so no read waited for its time-out.
        EXPECT_EQ(outcome.elapsed_ms, 10 * static_cast<std::int64_t>(c.blocks.size()));

        const auto verified = bench.programmer.verify(MemoryKind::Flash, file);
        EXPECT_TRUE(verified.ok()) << status_text(verified);
        EXPECT_EQ(status_text(verified).rfind("flash записан правильно!  Время чтения: ", 0), 0u);
    }
}

TEST(FlashOperations, RecordsOutOfOrderStillWriteTheirWholeRange) {
    ProgrammerBench bench;
    bench.programmer.erase(MemoryKind::Flash);
    const auto high = pattern(16, 7);
    const auto low = pattern(16, 9);
    const std::string file = bench.dir.write(
        "o.hex", ProgrammerBench::hex_records(0x0100, high) + ProgrammerBench::hex_records(0x0000, low) + ":00000001FF\r\n");
    const auto outcome = bench.programmer.write(MemoryKind::Flash, file);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(addresses_of(bench.board.loader, 'F'), (std::vector<std::uint32_t>{0x0000, 0x0080, 0x0100}));
    EXPECT_TRUE(bench.programmer.verify(MemoryKind::Flash, file).ok());
}

TEST(FlashOperations, VerifyListsSevenAddressesThenAndSoOn) {
    struct Case { std::size_t differing; const char* text; };
    const Case cases[] = {
        {2, "Ошибка по адресу: 0000 0001 "},
        {7, "Ошибка по адресу: 0000 0001 0002 0003 0004 0005 0006  и далее"},
        {20, "Ошибка по адресу: 0000 0001 0002 0003 0004 0005 0006  и далее"},
    };
    for (const Case& c : cases) {
        ProgrammerBench bench;
        const std::string file = bench.hex_file("v.hex", 0, pattern(64));
        ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
        for (std::size_t i = 0; i < c.differing; ++i) bench.board.loader.flash()[i] ^= 0x01;
        const auto outcome = bench.programmer.verify(MemoryKind::Flash, file);
        EXPECT_EQ(outcome.result, Result::Differences);
        EXPECT_EQ(outcome.difference_count, c.differing);
        EXPECT_EQ(status_text(outcome), c.text);
        EXPECT_EQ(outcome.differences[0].expected, pattern(1)[0]);
        EXPECT_EQ(outcome.differences[0].found, pattern(1)[0] ^ 0x01);
    }
}

TEST(FlashOperations, VerifyComparesFromAddressZero) {
    ProgrammerBench bench;
    bench.board.loader.flash()[0x10] = 0x00;  // below the file's data, not blank on the device
    const std::string file = bench.hex_file("v.hex", 0x0100, pattern(16));
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    const auto outcome = bench.programmer.verify(MemoryKind::Flash, file);
    EXPECT_EQ(status_text(outcome), "Ошибка по адресу: 0010 ");
}

TEST(FlashOperations, ReadTakesTheWholeUserAreaAndSavesIt) {
    ProgrammerBench bench("ATmega8");
    bench.board.loader.flash()[0x1BFF] = 0x42;
    RecordingProgress progress;
    auto outcome = bench.programmer.read(MemoryKind::Flash, progress);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(addresses_of(bench.board.loader, 'f').size(), 0x1C00u / 128);
    EXPECT_EQ(progress.ranges.back(), 0x1C00u);
    EXPECT_EQ(progress.phases, std::vector<Phase>{Phase::Reading});
    const std::string path = bench.dir.file("r.hex");
    outcome = bench.programmer.save_read(outcome, path);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(status_text(outcome).rfind("Чтение flash закончено!  Время чтения: ", 0), 0u);
    const std::string saved = testing::read_file(path);
    const std::string tail = ":101BF000" + std::string(30, 'F') + "42B2\r\n:00000001FF\r\n";
    ASSERT_GE(saved.size(), tail.size());
    EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);

    const auto unsaved = bench.programmer.save_read(outcome, bench.dir.file("missing/r.hex"));
    EXPECT_EQ(unsaved.result, Result::FileFailure);
    EXPECT_NE(status_text(unsaved).find("Не удалось записать файл"), std::string::npos);
}

TEST(EepromOperations, EraseWritesBlocksOf128WithLongWaits) {
    ProgrammerBench bench("ATmega8");
    const auto outcome = bench.programmer.erase(MemoryKind::Eeprom);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(addresses_of(bench.board.loader, 'e'), (std::vector<std::uint32_t>{0, 128, 256, 384}));
    EXPECT_EQ(outcome.elapsed_ms, 4 * 1152);  // the waits, and no time-out on top
    EXPECT_EQ(status_text(outcome).rfind("Стирание EEPROM закончено! Время стирания: ", 0), 0u);
}

TEST(EepromOperations, WriteOf300BytesSendsTwoFullBlocksAndOneOf44) {
    ProgrammerBench bench;
    const auto data = pattern(300);
    const std::string file = bench.hex_file("d.eep", 0, data);
    RecordingProgress progress;
    const auto outcome = bench.programmer.write(MemoryKind::Eeprom, file, progress);
    ASSERT_TRUE(outcome.ok()) << status_text(outcome);
    EXPECT_EQ(addresses_of(bench.board.loader, 'D'), (std::vector<std::uint32_t>{0, 128, 256}));
    EXPECT_EQ(counts_of(bench.board.loader, 'D'), (std::vector<int>{128, 128, 44}));
    EXPECT_EQ(progress.positions.back(), 300u);
    EXPECT_EQ(outcome.elapsed_ms, 300 * 9);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bench.board.loader.eeprom().begin()));
    EXPECT_EQ(bench.board.loader.eeprom()[300], 0xFF);
    EXPECT_EQ(status_text(outcome).rfind("Запись EEPROM закончена!  Время записи: ", 0), 0u);
    EXPECT_EQ(status_text(bench.programmer.verify(MemoryKind::Eeprom, file)).rfind("EEPROM записан правильно!", 0), 0u);
}

TEST(EepromOperations, VerifyListsNineAddressesOfThreeDigits) {
    ProgrammerBench bench;
    const std::string file = bench.hex_file("d.eep", 0x3F0, pattern(16));
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Eeprom, file).ok());
    for (std::size_t i = 0x3F0; i < 0x400; ++i) bench.board.loader.eeprom()[i] ^= 0x80;
    const auto outcome = bench.programmer.verify(MemoryKind::Eeprom, file);
    EXPECT_EQ(status_text(outcome), "Ошибка по адресу: 3F0 3F1 3F2 3F3 3F4 3F5 3F6 3F7 3F8  и далее");
    EXPECT_EQ(outcome.difference_count, 16u);
}

TEST(Operations, FilesThatMustNotReachTheDeviceSendNothing) {
    struct Case { const char* what; const char* model; MemoryKind memory; std::string text; Result result; const char* says; };
    const Case cases[] = {
        {"flash over the loader", "ATmega8", MemoryKind::Flash, ProgrammerBench::hex_records(0x1BF8, pattern(16)),
         Result::Refused, "загрузчик начинается с 1C00"},
        {"EEPROM past its size", "ATmega168", MemoryKind::Eeprom, ProgrammerBench::hex_records(0x200, pattern(1)),
         Result::Refused, "200"},
        {"no data", "ATmega8", MemoryKind::Flash, ":00000001FF\r\n", Result::FileFailure, "нет данных"},
        {"damaged", "ATmega8", MemoryKind::Eeprom, ":0100000011FF\r\n", Result::FileFailure, "контрольная сумма"},
    };
    for (const Case& c : cases) {
        for (bool verify : {false, true}) {
            ProgrammerBench bench(c.model);
            const std::string file = bench.dir.write("f.hex", c.text);
            const auto outcome = verify ? bench.programmer.verify(c.memory, file) : bench.programmer.write(c.memory, file);
            EXPECT_EQ(outcome.result, c.result) << c.what;
            EXPECT_NE(status_text(outcome).find(c.says), std::string::npos) << c.what << ": " << status_text(outcome);
            EXPECT_EQ(bench.commands_sent(), 0u) << c.what;
        }
    }
    ProgrammerBench bench;
    const auto missing = bench.programmer.write(MemoryKind::Flash, bench.dir.file("none.hex"));
    EXPECT_EQ(missing.result, Result::FileFailure);
    EXPECT_NE(status_text(missing).find("none.hex"), std::string::npos);
}

TEST(Operations, EveryLoaderFaultEndsInAnError) {
    struct Fault { const char* what; SimFaults faults; };
    std::vector<Fault> faults;
    SimFaults f;
    f.silent = true;
    faults.push_back({"silence", f});
    f = {};
    f.mute_command = 3;
    faults.push_back({"no answer to the third command", f});
    f = {};
    f.short_block = true;
    faults.push_back({"short block", f});
    f = {};
    f.late_ms = 400;
    faults.push_back({"late answers", f});
    f = {};
    f.line_gone_after = 10;
    faults.push_back({"line gone", f});
    f = {};
    f.echo = true;
    faults.push_back({"echoing line", f});
    f = {};
    f.garbage = true;
    faults.push_back({"garbage", f});

    enum class Op { Verify, Read, Erase, Write };
    for (const Fault& fault : faults) {
        // Acknowledgements are counted, never read for content: an echo or noise shows
        // only where data comes back, and so does a short block.
        std::vector<Op> ops{Op::Verify};
        if (!fault.faults.garbage) ops.push_back(Op::Read);
        if (!fault.faults.garbage && !fault.faults.echo && !fault.faults.short_block) {
            ops.push_back(Op::Erase);
            ops.push_back(Op::Write);
        }
        for (MemoryKind memory : {MemoryKind::Flash, MemoryKind::Eeprom}) {
            for (Op op : ops) {
                ProgrammerBench bench("ATmega8", fault.faults);
                bench.board.loader.flash()[0] = 0x00;  // the device holds something to compare
                bench.board.loader.eeprom()[0] = 0x00;
                const std::string file = bench.hex_file("x.hex", 0, pattern(300));
                OperationOutcome outcome;
                switch (op) {
                    case Op::Verify: outcome = bench.programmer.verify(memory, file); break;
                    case Op::Read: outcome = bench.programmer.read(memory); break;
                    case Op::Erase: outcome = bench.programmer.erase(memory); break;
                    case Op::Write: outcome = bench.programmer.write(memory, file); break;
                }
                EXPECT_FALSE(outcome.ok()) << fault.what << ": " << status_text(outcome);
            }
        }
    }
}

TEST(Operations, LinkErrorsNameTheOperationAndAddress) {
    SimFaults f;
    f.mute_command = 6;  // the second block's `b`
    ProgrammerBench bench("ATmega8", f);
    const auto outcome = bench.programmer.read(MemoryKind::Flash);
    ASSERT_EQ(outcome.result, Result::LinkFailure);
    EXPECT_EQ(status_text(outcome), "Загрузчик не ответил при чтении flash: команда 'b', адрес 0080");

    SimFaults s;
    s.short_block = true;
    ProgrammerBench short_bench("ATmega8", s);
    EXPECT_EQ(status_text(short_bench.programmer.read(MemoryKind::Eeprom)),
              "Загрузчик ответил не полностью при чтении EEPROM: команда 'b', адрес 0000, получено 100 байт из 128");

    // The next operation first brings the loader back in step; one that no longer
    // answers the sync is named as such, not as a silent command.
    SimFaults silent;
    silent.silent = true;
    short_bench.board.loader.misbehave(silent);
    EXPECT_EQ(status_text(short_bench.programmer.read(MemoryKind::Eeprom)),
              "Обмен с загрузчиком сбился при чтении EEPROM, адрес 0000, и на синхронизацию он не ответил: проверьте "
              "линию и сбросьте плату");
}

}  // namespace
}  // namespace zarvik

namespace zarvik {
namespace {

TEST(FlashOperations, AWriteThatErasesItsPagesReplacesAnotherProgram) {
    testing::ProgrammerBench bench;
    const auto old_program = testing::pattern(1000, 7);
    std::copy(old_program.begin(), old_program.end(), bench.board.loader.flash().begin());
    const std::string hex = bench.hex_file("new.hex", 0x40, testing::pattern(300, 99));  // pages 0x40..0x17F

    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, hex, no_progress(), {.erase_pages = true}).ok());
    const auto sent = bench.board.sent();
    std::vector<std::uint32_t> erased;
    for (std::size_t i = 0; i + 3 < sent.size();) {
        if (sent[i] == 'A' && i + 4 < sent.size() && sent[i + 4] == 'E') erased.push_back(sent[i + 1] << 8 | sent[i + 2]);
        i += sent[i] == 'B' ? 132 : 4;
    }
    // Exactly the pages written: the ATmega328's 128-byte pages that the file touches.
    EXPECT_EQ(erased, (std::vector<std::uint32_t>{0x00, 0x40, 0x80, 0xC0, 0x100, 0x140}));
    const auto flash = bench.board.loader.flash();
    // The pages written hold the file, every other byte the old program: the bytes of
    // the file's first and last chip pages outside the file were read and written back.
    EXPECT_TRUE(std::equal(old_program.begin(), old_program.begin() + 0x40, flash.begin()));
    EXPECT_TRUE(std::equal(old_program.begin() + 0x180, old_program.end(), flash.begin() + 0x180));
    EXPECT_TRUE(bench.programmer.verify(MemoryKind::Flash, hex).result != OperationOutcome::Result::Success);  // 0..3F old
    const auto file = testing::pattern(300, 99);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), flash.begin() + 0x40));
    EXPECT_TRUE(std::equal(old_program.begin() + 0x40 + 300, old_program.begin() + 0x180, flash.begin() + 0x40 + 300));

    // Without the erase, programming only clears bits: the old program shows through.
    testing::ProgrammerBench plain;
    std::copy(old_program.begin(), old_program.end(), plain.board.loader.flash().begin());
    const std::string again = plain.hex_file("new.hex", 0, testing::pattern(300, 99));
    ASSERT_TRUE(plain.programmer.write(MemoryKind::Flash, again).ok());
    EXPECT_EQ(plain.programmer.verify(MemoryKind::Flash, again).result, OperationOutcome::Result::Differences);
}

}  // namespace
}  // namespace zarvik
