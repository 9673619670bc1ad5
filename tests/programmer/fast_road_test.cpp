// Erase, write and verify with our own loader's commands, against the simulated board's
// loader, on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "loader/wait_count.h"
#include "programmer/partial_pages.h"
#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"

namespace zarvik {
namespace {

using testing::ProgrammerBench;
using testing::RecordingProgress;
using Result = OperationOutcome::Result;

struct Sent {
    std::uint8_t command;
    std::uint32_t address;
    std::uint8_t len;    // a session frame's data length, or its count (`Z`, `C`, `f`, `d`)
    std::uint8_t first;  // its first data byte
    std::size_t at;      // where it starts in the board's log
};

// The frames the board saw in a session, a sync counted as one `U`.
std::vector<Sent> packets(const SimLoader& loader) {
    std::vector<Sent> out;
    const auto& log = loader.log();
    for (std::size_t i = 0; i + 3 < log.size();) {
        const std::uint8_t c = log[i].byte;
        if (c == 'U') {
            out.push_back({c, 0, 0, 0, i});
            i += 4;
            continue;
        }
        const std::uint8_t len = log[i + 1].byte;
        // Only `F`, `D` and `W` carry data.
        const std::size_t data = c == 'F' || c == 'D' || c == 'W' ? len : 0;
        out.push_back({c, static_cast<std::uint32_t>(log[i + 2].byte << 8 | log[i + 3].byte), len,
                       data > 0 && i + 4 < log.size() ? log[i + 4].byte : std::uint8_t{0}, i});
        i += 4 + data + 4;
    }
    return out;
}

std::string letters(const SimLoader& loader) {
    std::string out;
    for (const Sent& p : packets(loader)) out.push_back(static_cast<char>(p.command));
    return out;
}

std::vector<Sent> only(const SimLoader& loader, char command) {
    std::vector<Sent> out;
    for (const Sent& p : packets(loader)) {
        if (p.command == command) out.push_back(p);
    }
    return out;
}

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// Our loader on the board, the host confirmed the chip and found the signature.
struct FastBench : ProgrammerBench {
    explicit FastBench(const char* model = "ATmega328", SimFaults faults = {})
        : ProgrammerBench(model, faults, LoaderKind::Ours) {}
    std::span<std::uint8_t> flash() { return board.loader.flash(); }
    std::span<std::uint8_t> eeprom() { return board.loader.eeprom(); }
};

// The command letters of plain four-byte packets, the data of `B` skipped.
std::string plain_letters(const SimLoader& loader) {
    std::string out;
    const auto& log = loader.log();
    for (std::size_t i = 0; i + 3 < log.size(); i += log[i].byte == 'B' ? 4 + 128 : 4) out.push_back(static_cast<char>(log[i].byte));
    return out;
}

bool holds(std::span<const std::uint8_t> memory, std::uint32_t at, const std::vector<std::uint8_t>& data) {
    return std::equal(data.begin(), data.end(), memory.begin() + at);
}

TEST(FastRoad, WritesAndVerifiesEveryModelWithSessionFramesOnly) {
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        FastBench bench(model);
        const std::uint32_t area = find_device_model(model)->loader_start;
        const auto program = random_bytes(area, 3);
        const std::string file = bench.hex_file("p.hex", 0, program);
        EXPECT_EQ(bench.programmer.road(), Road::Fast) << model;
        const auto w = bench.programmer.write(MemoryKind::Flash, file, no_progress(), {.erase_pages = true});
        ASSERT_TRUE(w.ok()) << model << ": " << status_text(w);
        EXPECT_EQ(w.road, Road::Fast);
        const auto v = bench.programmer.verify(MemoryKind::Flash, file);
        ASSERT_TRUE(v.ok()) << model << ": " << status_text(v);
        EXPECT_TRUE(holds(bench.flash(), 0, program)) << model;
        // The session's opening, checks and frames; nothing plain, no read-back.
        const std::string sent = letters(bench.board.loader);
        EXPECT_EQ(sent.find_first_not_of("ZCW"), std::string::npos) << model << ": " << sent;
        EXPECT_EQ(sent.front(), 'Z');
        EXPECT_EQ(only(bench.board.loader, 'W').size(), area / 128) << model;
        for (const Sent& w_frame : only(bench.board.loader, 'W')) EXPECT_EQ(w_frame.len, 128);
        for (const Sent& c : only(bench.board.loader, 'C')) EXPECT_LE(c.len, 32);
        // The status line names the road.
        EXPECT_NE(status_text(w).find("быстрый протокол"), std::string::npos);
    }
}

TEST(FastRoad, OnlyTheUnitsThatDifferAreWrittenAndTheSameImageAgainIsOneSetOfChecks) {
    FastBench bench;
    const auto program = random_bytes(0x2000, 4);
    const std::string file = bench.hex_file("p.hex", 0, program);
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    ASSERT_TRUE(bench.programmer.verify(MemoryKind::Flash, file).ok());

    // One byte changed on the chip behind the host's back: its unit alone is rewritten.
    bench.flash()[0x1234] ^= 0xFF;
    bench.board.loader.misbehave({});
    const auto again = bench.programmer.write(MemoryKind::Flash, file);
    ASSERT_TRUE(again.ok()) << status_text(again);
    const auto frames = only(bench.board.loader, 'W');
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].address, 0x1200u);
    EXPECT_TRUE(holds(bench.flash(), 0, program));

    // Nothing differs: the checks of the 64 units (two frames) are the write, and they
    // stand in for the verify.
    bench.board.loader.misbehave({});
    const std::int64_t before = bench.board.clock.now_ms();
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    const auto verify = bench.programmer.verify(MemoryKind::Flash, file);
    ASSERT_TRUE(verify.ok()) << status_text(verify);
    EXPECT_EQ(letters(bench.board.loader), "CC");
    EXPECT_LT(bench.board.clock.now_ms() - before, 100);

    // Another operation in between, and the verify takes its own checks.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    ASSERT_TRUE(bench.programmer.read(MemoryKind::Eeprom).ok());
    ASSERT_TRUE(bench.programmer.verify(MemoryKind::Flash, file).ok());
    EXPECT_EQ(only(bench.board.loader, 'C').size(), 4u);
    EXPECT_EQ(only(bench.board.loader, 'd').size(), 8u);  // the read, in session frames
}

TEST(Programmer, BytesOfTheFilesFirstAndLastChipPagesOutsideTheFileAreKeptOnBothRoads) {
    struct Case { std::uint32_t address; std::size_t size; };
    const Case cases[] = {{0x50, 0xE0}, {0x1C0, 8}, {0x1B85, 3}, {0x7B80, 64}, {0x100, 0x80}};
    for (const Case& c : cases) {
        for (const char* model : {"ATmega88", "ATmega328"}) {
            const std::uint32_t area = find_device_model(model)->loader_start;
            if (c.address + c.size > area) continue;
            for (const LoaderKind kind : {LoaderKind::Ours, LoaderKind::Plain}) {
                ProgrammerBench bench(model, {}, kind);
                const auto before = random_bytes(area, 9);
                std::copy(before.begin(), before.end(), bench.board.loader.flash().begin());
                const auto data = random_bytes(c.size, 10);
                const std::string file = bench.hex_file("p.hex", c.address, data);
                // The plain road's `F` only clears bits: its pages are erased first.
                const auto w = bench.programmer.write(MemoryKind::Flash, file, no_progress(), {.erase_pages = true});
                const char* road = kind == LoaderKind::Ours ? "fast" : "plain";
                ASSERT_TRUE(w.ok()) << model << " " << road << ": " << status_text(w);
                // The file's bytes, and every other byte as it was.
                for (std::uint32_t a = 0; a < area; ++a) {
                    const bool in_file = a >= c.address && a < c.address + c.size;
                    ASSERT_EQ(bench.board.loader.flash()[a], in_file ? data[a - c.address] : before[a])
                        << model << " " << road << " " << c.address << " at " << a;
                }
                // The range written is whole chip pages.
                const std::uint32_t page = chip_page_bytes(*find_device_model(model));
                EXPECT_EQ(w.first_address % page, 0u);
                EXPECT_EQ(w.end_address % page, 0u);
                if (kind == LoaderKind::Ours) {
                    for (const Sent& f : only(bench.board.loader, 'W')) EXPECT_EQ(f.len % page, 0u) << model;
                }
            }
        }
    }
}

TEST(FastRoad, AByteCorruptedOnTheChipIsReportedByTheWriteAndByTheVerify) {
    FastBench bench("ATmega168", {.corrupt_at = 0x2345});
    const auto program = random_bytes(0x3C00, 5);
    const std::string file = bench.hex_file("p.hex", 0, program);
    // The write takes the checks again after its frames: no success for a byte the chip
    // does not hold, also without a verify.
    const auto w = bench.programmer.write(MemoryKind::Flash, file);
    ASSERT_EQ(w.result, Result::Differences) << status_text(w);
    ASSERT_EQ(w.differences.size(), 1u);
    EXPECT_EQ(w.differences[0].address, 0x2345u);
    bench.board.loader.misbehave({.corrupt_at = 0x2345});
    const auto v = bench.programmer.verify(MemoryKind::Flash, file);
    ASSERT_EQ(v.result, Result::Differences) << status_text(v);
    ASSERT_EQ(v.differences.size(), 1u);
    EXPECT_EQ(v.differences[0].address, 0x2345u);
    EXPECT_EQ(v.differences[0].expected, program[0x2345]);
    EXPECT_EQ(v.difference_count, 1u);
    EXPECT_EQ(status_text(v), "Ошибка по адресу: 2345 ");
    // Only the unit whose check differs was read back.
    const auto reads = only(bench.board.loader, 'f');
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].address, 0x2300u);
}

TEST(FastRoad, ALoaderThatAnswersACheckWronglyEndsInAnError) {
    const auto program = random_bytes(0x1000, 6);
    {
        // Before the write a wrong check only sends the unit again; its frame's own
        // answer then confirms what the flash holds.
        FastBench bench("ATmega328");
        bench.board.loader.misbehave({.wrong_check_at = 0x0800});
        const auto w = bench.programmer.write(MemoryKind::Flash, bench.hex_file("p.hex", 0, program));
        ASSERT_TRUE(w.ok()) << status_text(w);
        EXPECT_TRUE(holds(bench.flash(), 0, program));
    }
    // In a verify: the check says the unit differs, its bytes say it does not.
    struct Case { bool from_the_start; const char* text; };
    for (const Case c : {Case{false, "Загрузчик ответил неверно при сравнении flash: команда 'C', адрес 0800"}}) {
        FastBench bench("ATmega328");
        if (c.from_the_start) bench.board.loader.misbehave({.wrong_check_at = 0x0800});
        const std::string file = bench.hex_file("p.hex", 0, program);
        auto o = bench.programmer.write(MemoryKind::Flash, file);
        if (!c.from_the_start) {
            ASSERT_TRUE(o.ok()) << status_text(o);
            bench.board.loader.misbehave({.wrong_check_at = 0x0800});
            bench.board.clock.sleep_ms(3000);  // the write's own checks no longer stand
            o = bench.programmer.verify(MemoryKind::Flash, file);
        }
        EXPECT_EQ(o.result, Result::LinkFailure) << status_text(o);
        ASSERT_TRUE(o.link_failure.has_value());
        EXPECT_TRUE(o.link_failure->wrong_answer);
        EXPECT_EQ(o.link_failure->address, 0x0800u);
        EXPECT_EQ(status_text(o), c.text);
    }
}

// Stops the operation once the progress has passed `after`.
struct StopAfter final : ProgressObserver {
    StopAfter(Cancellation& c, std::uint32_t at) : cancel(c), after(at) {}
    void on_position(std::uint32_t p) override {
        positions.push_back(p);
        if (p >= after) cancel.request();
    }
    Cancellation& cancel;
    std::uint32_t after;
    std::vector<std::uint32_t> positions;
};

TEST(FastRoad, AStopInTheMiddleReportsOnlyPagesThatAreWritten) {
    FastBench bench;
    Cancellation cancel;
    bench.programmer.set_cancellation(&cancel);
    const auto program = random_bytes(0x4000, 7);
    const std::string file = bench.hex_file("p.hex", 0, program);
    StopAfter stop(cancel, 0x1000);
    const auto w = bench.programmer.write(MemoryKind::Flash, file, stop);
    ASSERT_EQ(w.result, Result::Interrupted) << status_text(w);
    ASSERT_FALSE(stop.positions.empty());
    EXPECT_TRUE(std::is_sorted(stop.positions.begin(), stop.positions.end()));
    const std::uint32_t reported = stop.positions.back();
    EXPECT_GE(reported, 0x1000u);
    EXPECT_LT(reported, 0x4000u);
    // What the frames in flight carried is programmed and reported; nothing more was sent.
    EXPECT_EQ(w.stopped_address, reported);
    EXPECT_TRUE(holds(bench.flash(), 0, std::vector<std::uint8_t>(program.begin(), program.begin() + reported)));
    EXPECT_EQ(only(bench.board.loader, 'W').back().address + 128, reported);
    EXPECT_EQ(std::count(bench.flash().begin() + reported, bench.flash().begin() + 0x4000, 0xFF), 0x4000 - reported);
}

// The opening and two frames of checks (8 bytes each) come before the page frames, 136
// bytes each, of a 0x2000-byte image.
constexpr std::int64_t kBeforeFrames = 8 + 2 * 8;
constexpr std::int64_t kFrameBytes = 8 + 128;

TEST(FastRoad, ALostLineInTheMiddleReportsNoPageThatWasNotConfirmed) {
    const auto program = random_bytes(0x2000, 8);
    // The line (and the board's power with it) goes at several points inside the stream.
    for (const std::int64_t gone_after : {kBeforeFrames + 1000, kBeforeFrames + 5 * kFrameBytes,
                                          kBeforeFrames + 5 * kFrameBytes + 70, kBeforeFrames + 20 * kFrameBytes + 3}) {
        FastBench bench("ATmega328", {.line_gone_after = gone_after});
        const std::string file = bench.hex_file("p.hex", 0, program);
        RecordingProgress progress;
        const auto w = bench.programmer.write(MemoryKind::Flash, file, progress);
        ASSERT_EQ(w.result, Result::LinkFailure) << gone_after;
        EXPECT_TRUE(w.link_failure->line_lost);
        const std::uint32_t reported = progress.positions.empty() ? 0 : progress.positions.back();
        EXPECT_LE(w.stopped_address, reported);
        // Every unit below what was reported holds the file's bytes.
        EXPECT_TRUE(holds(bench.flash(), 0, std::vector<std::uint8_t>(program.begin(), program.begin() + reported)))
            << gone_after << " reported " << reported;
        EXPECT_NE(status_text(w).find("Связь с портом потеряна"), std::string::npos);
    }
}

TEST(FastRoad, AByteLostOrChangedChangesNoOtherPageFailsEvenWithoutVerifyAndSaysWhatWasWritten) {
    const auto old_program = random_bytes(0x2000, 11);
    const auto program = random_bytes(0x2000, 12);
    struct Case { SimFaults faults; std::int64_t at; };
    // In the data of the 6th frame, in its check, in its address, in the last frame.
    std::vector<Case> cases;
    for (const std::int64_t at : {kBeforeFrames + 5 * kFrameBytes + 60, kBeforeFrames + 5 * kFrameBytes + 135,
                                  kBeforeFrames + 5 * kFrameBytes + 3, kBeforeFrames + 63 * kFrameBytes + 10}) {
        cases.push_back({{.drop_byte = at}, at});
        cases.push_back({{.flip_byte = at}, at});
    }
    for (const Case& c : cases) {
        FastBench bench("ATmega328");
        std::copy(old_program.begin(), old_program.end(), bench.flash().begin());
        bench.board.loader.misbehave(c.faults);
        const std::string file = bench.hex_file("p.hex", 0, program);
        RecordingProgress progress;
        const auto w = bench.programmer.write(MemoryKind::Flash, file, progress);
        ASSERT_EQ(w.result, Result::LinkFailure) << c.at << ": " << status_text(w);
        // The frame that lost or changed the byte, named with what it left on the chip.
        const auto broken = static_cast<std::uint32_t>((c.at - kBeforeFrames - 1) / kFrameBytes * 128);
        EXPECT_EQ(w.link_failure->command, 'W');
        EXPECT_EQ(w.link_failure->address, broken) << c.at;
        EXPECT_EQ(w.link_failure->frame_effect, FrameEffect::NothingWritten) << c.at;
        char where[8];
        std::snprintf(where, sizeof where, "%.4X", broken);
        const std::string text = status_text(w);
        EXPECT_NE(text.find(std::string("при записи flash: команда 'W', адрес ") + where), std::string::npos) << text;
        EXPECT_NE(text.find("Из этого кадра в память ничего не записано"), std::string::npos) << text;
        EXPECT_LE(progress.positions.back(), broken);
        // Below it the new program, from it on the old one: no page half written, none
        // written at a wrong address.
        for (std::uint32_t a = 0; a < 0x2000; ++a) {
            ASSERT_EQ(bench.flash()[a], a < broken ? program[a] : old_program[a]) << c.at << " at " << a;
        }
        // The loader was brought back to taking commands: the write can simply be repeated.
        bench.board.loader.misbehave({});
        const auto again = bench.programmer.write(MemoryKind::Flash, file);
        ASSERT_TRUE(again.ok()) << status_text(again);
        EXPECT_TRUE(holds(bench.flash(), 0, program));
        EXPECT_EQ(only(bench.board.loader, 'W').front().address, broken);
    }
}

TEST(FastRoad, NoAnswerToAnyConfirmationAfterTheLastFrameIsASuccess) {
    // 64 units: the opening, two frames of checks, then 64 page frames, each answered
    // with the check of what the flash then holds. A loader that answers every frame but
    // one of the last must not give a written flash.
    const auto program = random_bytes(0x2000, 17);
    for (const int muted : {65, 66, 67}) {
        FastBench bench("ATmega328");
        bench.board.loader.misbehave({.mute_command = muted});
        const std::string file = bench.hex_file("p.hex", 0, program);
        const auto w = bench.programmer.write(MemoryKind::Flash, file);
        EXPECT_EQ(w.result, Result::LinkFailure) << muted << ": " << status_text(w);
        ASSERT_TRUE(w.link_failure.has_value()) << muted;
        EXPECT_EQ(w.link_failure->command, 'W') << muted;
    }
}

TEST(FastRoad, FramesThatHoldASyncTravelAlone) {
    FastBench bench;
    auto program = random_bytes(0x800, 13);
    std::fill_n(program.begin() + 0x210, 8, 0x55);
    const std::string file = bench.hex_file("p.hex", 0, program);
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    EXPECT_TRUE(holds(bench.flash(), 0, program));
    // The frame at 0x200 went out only when every frame before it was answered, and the
    // next one only after its own answer: the log shows the host waiting on each side.
    const auto& log = bench.board.loader.log();
    std::vector<std::int64_t> starts;
    for (const Sent& w : only(bench.board.loader, 'W')) starts.push_back(log[w.at].time_us);
    ASSERT_EQ(starts.size(), 16u);
    EXPECT_EQ(starts[1], starts[0]);  // streamed
    EXPECT_GT(starts[4], starts[3]);  // waits before the frame that holds 55 55 55 55
    EXPECT_GT(starts[5], starts[4]);  // and after it
}

TEST(FastRoad, FlashEraseIsBlankPageFramesForTheUnitsThatAreNotBlankAndLeavesTheLoader) {
    for (const char* model : {"ATmega8", "ATmega168", "ATmega328"}) {
        FastBench bench(model);
        const std::uint32_t area = find_device_model(model)->loader_start;
        std::fill_n(bench.flash().begin(), area, 0x00);
        // Two units blank already, and the last one but for a byte.
        std::fill_n(bench.flash().begin() + 0x100, 0x100, 0xFF);
        std::fill_n(bench.flash().begin() + area - 128, 127, 0xFF);
        const std::vector<std::uint8_t> loader(bench.flash().begin() + area, bench.flash().end());
        const auto e = bench.programmer.erase(MemoryKind::Flash);
        ASSERT_TRUE(e.ok()) << status_text(e);
        EXPECT_EQ(e.road, Road::Fast);
        EXPECT_EQ(std::count(bench.flash().begin(), bench.flash().begin() + area, 0xFF), area);
        EXPECT_TRUE(holds(bench.flash(), area, loader));
        const auto frames = only(bench.board.loader, 'W');
        ASSERT_EQ(frames.size(), area / 128 - 2) << model;
        for (const Sent& f : frames) {
            EXPECT_EQ(f.len, 128);
            EXPECT_EQ(f.first, 0xFF);
            EXPECT_TRUE(f.address < 0x100 || f.address >= 0x200) << f.address;
        }
        EXPECT_EQ(frames.back().address, area - 128) << model;
        // The checks, then the frames, each answered with the check of the blank range.
        const std::string checks((area / 128 + 31) / 32, 'C');
        EXPECT_EQ(letters(bench.board.loader), "Z" + checks + std::string(frames.size(), 'W')) << model;
        // A blank flash: the checks only.
        bench.board.loader.misbehave({});
        ASSERT_TRUE(bench.programmer.erase(MemoryKind::Flash).ok());
        EXPECT_EQ(letters(bench.board.loader), checks) << model;
    }
}

TEST(FastRoad, EepromIsWrittenAndErasedOnlyWhereItDiffersConfirmedByTheBytesReadBack) {
    FastBench bench;
    const auto data = random_bytes(300, 14);
    const std::string file = bench.hex_file("d.eep", 0, data);
    const std::int64_t t0 = bench.board.clock.now_ms();
    const auto w = bench.programmer.write(MemoryKind::Eeprom, file);
    ASSERT_TRUE(w.ok()) << status_text(w);
    EXPECT_EQ(w.road, Road::Fast);
    EXPECT_TRUE(holds(bench.eeprom(), 0, data));
    // 300 bytes at 3.4 ms each, not the 9 ms a byte that the plain road sleeps.
    EXPECT_LT(bench.board.clock.now_ms() - t0, 300 * 9 - 500);
    const auto d = only(bench.board.loader, 'D');
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[2].len, 44u);
    EXPECT_EQ(letters(bench.board.loader), "ZdddDDD");

    // The same data again: the reads, no D.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Eeprom, file).ok());
    EXPECT_EQ(letters(bench.board.loader), "ddd");
    ASSERT_TRUE(bench.programmer.verify(MemoryKind::Eeprom, file).ok());

    // Bytes changed in the middle of a unit: only from the first to the last of them.
    bench.eeprom()[140] ^= 0x01;
    bench.eeprom()[150] ^= 0x01;
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Eeprom, file).ok());
    ASSERT_EQ(only(bench.board.loader, 'D').size(), 1u);
    EXPECT_EQ(only(bench.board.loader, 'D')[0].address, 140u);
    EXPECT_EQ(only(bench.board.loader, 'D')[0].len, 11u);
    EXPECT_TRUE(holds(bench.eeprom(), 0, data));

    // Erase: blank bytes written only into the three blocks that hold data; then a
    // blank EEPROM costs its reading.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.erase(MemoryKind::Eeprom).ok());
    EXPECT_EQ(only(bench.board.loader, 'D').size(), 3u);
    EXPECT_EQ(std::count(bench.eeprom().begin(), bench.eeprom().end(), 0xFF), 1024);
    bench.board.loader.misbehave({});
    const std::int64_t t1 = bench.board.clock.now_ms();
    ASSERT_TRUE(bench.programmer.erase(MemoryKind::Eeprom).ok());
    EXPECT_EQ(letters(bench.board.loader), "dddddddd");
    EXPECT_LT(bench.board.clock.now_ms() - t1, 100);
}

TEST(FastRoad, AnEepromByteChangedOnTheWayInFailsTheWriteAndWritesNothingOfItsFrame) {
    const auto data = random_bytes(200, 18);
    // The opening and the two reads of the EEPROM (8 bytes each), then `D` of 128 bytes:
    // a byte of its data, of its address, of its check; then a byte of the second `D`.
    for (const std::int64_t at : {24 + 4 + 50, 24 + 3, 24 + 136, 24 + 136 + 4 + 20}) {
        FastBench bench;
        std::fill(bench.eeprom().begin(), bench.eeprom().end(), 0x5A);
        bench.board.loader.misbehave({.flip_byte = at});
        const std::string file = bench.hex_file("d.eep", 0, data);
        const auto w = bench.programmer.write(MemoryKind::Eeprom, file);
        ASSERT_EQ(w.result, Result::LinkFailure) << at << ": " << status_text(w);
        const std::uint32_t broken = at <= 24 + 136 ? 0 : 128;
        EXPECT_EQ(w.link_failure->command, 'D');
        EXPECT_EQ(w.link_failure->address, broken);
        EXPECT_EQ(w.link_failure->frame_effect, FrameEffect::NothingWritten) << at;
        for (std::uint32_t a = 0; a < 1024; ++a) {
            ASSERT_EQ(bench.eeprom()[a], a < broken ? data[a] : 0x5A) << at << " at " << a;
        }
    }
}

TEST(FastRoad, ALoaderWithoutTheSignatureOrOfVersionOneGetsExactlyThePlainRoad) {
    // The same operations with our loader held to the plain road, with a loader of the
    // original kind and with ours of version 1 left to choose: byte for byte the same
    // wire, no new letter. Version 1 comes with the advice to replace the loader.
    const auto program = random_bytes(0x900, 15);
    const auto data = random_bytes(200, 16);
    auto run = [&](LoaderKind kind, RoadChoice choice) {
        ProgrammerBench bench("ATmega328", {}, kind);
        bench.programmer.set_road_choice(choice);
        const std::string file = bench.hex_file("p.hex", 0x40, program);
        const std::string eep = bench.hex_file("d.eep", 0, data);
        EXPECT_EQ(bench.programmer.road(), Road::Plain);
        const LoaderAdvice advice = kind == LoaderKind::OursVersion1 ? LoaderAdvice::ReplaceVersion1 : LoaderAdvice::None;
        EXPECT_EQ(bench.programmer.loader_advice(), advice);
        std::vector<OperationOutcome> outcomes;
        outcomes.push_back(bench.programmer.erase(MemoryKind::Flash));
        outcomes.push_back(bench.programmer.write(MemoryKind::Flash, file, no_progress(), {.erase_pages = true}));
        outcomes.push_back(bench.programmer.verify(MemoryKind::Flash, file));
        outcomes.push_back(bench.programmer.write(MemoryKind::Eeprom, eep));
        outcomes.push_back(bench.programmer.erase(MemoryKind::Eeprom));
        for (const auto& o : outcomes) {
            EXPECT_TRUE(o.ok()) << status_text(o);
            EXPECT_EQ(o.road, Road::Plain);
            EXPECT_EQ(o.advice, advice);
            EXPECT_EQ(status_text(o).find("быстрый протокол"), std::string::npos);
            EXPECT_EQ(status_text(o).find("Замените загрузчик новым") != std::string::npos,
                      advice == LoaderAdvice::ReplaceVersion1) << status_text(o);
        }
        EXPECT_EQ(plain_letters(bench.board.loader).find_first_not_of("UABFDfdbEeS"), std::string::npos);
        return bench.board.sent();
    };
    const auto plain_loader = run(LoaderKind::Plain, RoadChoice::Auto);
    const auto forced = run(LoaderKind::Ours, RoadChoice::Plain);
    const auto version1 = run(LoaderKind::OursVersion1, RoadChoice::Auto);
    EXPECT_FALSE(plain_loader.empty());
    EXPECT_EQ(plain_loader, forced);
    EXPECT_EQ(plain_loader, version1);
}

TEST(FastRoad, ASignatureWithAnotherPageSizeOrVersionKeepsThePlainRoad) {
    struct Case { const char* model; std::uint8_t version; std::uint8_t page_words; Road road; };
    for (const Case& c : {Case{"ATmega8", 2, 32, Road::Fast}, Case{"ATmega8", 2, 64, Road::Plain},
                          Case{"ATmega328", 2, 64, Road::Fast}, Case{"ATmega328", 2, 32, Road::Plain},
                          Case{"ATmega328", 1, 64, Road::Plain}, Case{"ATmega328", 3, 64, Road::Fast},
                          Case{"ATmega328", 4, 64, Road::Plain}}) {
        testing::SimBoard board(c.model, {}, LoaderKind::Ours);
        const std::uint32_t start = find_device_model(c.model)->loader_start;
        board.loader.flash()[start + 6] = c.version;
        board.loader.flash()[start + 7] = c.page_words;
        auto state = std::make_unique<ProgrammerState>();
        Programmer programmer(*state, board.link, board.clock);
        programmer.set_model(*find_device_model(c.model));
        EXPECT_EQ(programmer.road(), c.road) << c.model << " v" << int{c.version} << " " << int{c.page_words};
    }
}

TEST(FastRoad, PlainExchangesComeOnlyAfterTheSessionIsEndedByASync) {
    FastBench bench;
    const std::string file = bench.hex_file("p.hex", 0, random_bytes(0x100, 19));
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    // Configuration goes inside the session: the block read, the new one as a checked
    // `F` frame for the loader's guard, the block read back.
    bench.board.loader.misbehave({});
    const auto c = bench.programmer.configure_loader("16", "2");
    ASSERT_TRUE(c.ok()) << status_text(c);
    EXPECT_EQ(letters(bench.board.loader), "fFf");
    EXPECT_EQ(decode_wait_count(bench.board.loader.loader_first_block(), 0), 2'666'667u);
    // The next operation goes on in the same session; the program is started by the
    // plain `S`, after the sync that ends the session.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    EXPECT_EQ(letters(bench.board.loader).front(), 'C');
    ASSERT_TRUE(bench.programmer.start_program());
    const std::string sent = letters(bench.board.loader);
    EXPECT_EQ(sent.substr(sent.size() - 2), "US") << sent;
    // The same after a pause that made the loader leave the session.
    testing::SimBoard board("ATmega328", {}, LoaderKind::Ours);
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, board.link, board.clock);
    programmer.set_model(*find_device_model("ATmega328"));
    ASSERT_TRUE(programmer.write(MemoryKind::Flash, file).ok());
    board.clock.sleep_ms(800);
    EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Session);  // it learns of the silence with the next byte
    ASSERT_TRUE(programmer.start_program());
    EXPECT_EQ(board.loader.mode(), SimLoader::Mode::Plain);
    const auto tail = board.sent(board.sent().size() - 8);
    EXPECT_EQ(tail, testing::bytes({'U', 'U', 'U', 'U', 'S', '0', '0', '0'})) << int{tail[4]};
}

}  // namespace
}  // namespace zarvik
