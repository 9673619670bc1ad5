// Erase, write and verify with our own loader's commands, against the simulated board's
// loader, on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"

namespace zarvik {
namespace {

using testing::ProgrammerBench;
using testing::RecordingProgress;
using Result = OperationOutcome::Result;

struct Sent {
    std::uint8_t command;
    std::uint32_t address;  // a1 a2 as an address
    std::uint8_t a3;
};

// The packets the board saw, with the data of `B` and `W` skipped.
std::vector<Sent> packets(const SimLoader& loader) {
    std::vector<Sent> out;
    const auto& log = loader.log();
    for (std::size_t i = 0; i + 3 < log.size();) {
        const std::uint8_t c = log[i].byte;
        out.push_back({c, static_cast<std::uint32_t>(log[i + 1].byte << 8 | log[i + 2].byte), log[i + 3].byte});
        i += c == 'B' ? 4 + 128 : c == 'W' ? 4 + log[i + 3].byte + 4 : 4;
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

bool holds(std::span<const std::uint8_t> memory, std::uint32_t at, const std::vector<std::uint8_t>& data) {
    return std::equal(data.begin(), data.end(), memory.begin() + at);
}

TEST(FastRoad, WritesAndVerifiesEveryModelWithChecksAndFramesOnly) {
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
        // No page erase before the frames, no plain write, no read-back.
        const std::string sent = letters(bench.board.loader);
        EXPECT_EQ(sent.find_first_of("EFBAfbU"), std::string::npos) << model << ": " << sent;
        EXPECT_EQ(only(bench.board.loader, 'W').size(), area / 128) << model;
        for (const Sent& w_frame : only(bench.board.loader, 'W')) EXPECT_EQ(w_frame.a3, 128);
        // The status line names the road.
        EXPECT_NE(status_text(w).find("быстрый протокол"), std::string::npos);
    }
}

TEST(FastRoad, OnlyTheUnitsThatDifferAreWrittenAndTheSameImageAgainIsOneCheck) {
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

    // Nothing differs: one check exchange is the write, and it stands in for the verify.
    bench.board.loader.misbehave({});
    const std::int64_t before = bench.board.clock.now_ms();
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    const auto verify = bench.programmer.verify(MemoryKind::Flash, file);
    ASSERT_TRUE(verify.ok()) << status_text(verify);
    EXPECT_EQ(letters(bench.board.loader), "C");
    EXPECT_LT(bench.board.clock.now_ms() - before, 100);

    // Another operation in between, and the verify takes its own checks.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    ASSERT_TRUE(bench.programmer.read(MemoryKind::Eeprom).ok());
    ASSERT_TRUE(bench.programmer.verify(MemoryKind::Flash, file).ok());
    EXPECT_EQ(only(bench.board.loader, 'C').size(), 2u);
}

TEST(FastRoad, PartlyCoveredUnitsAtTheEndsKeepTheBytesOutsideTheFilesPages) {
    struct Case { std::uint32_t address; std::size_t size; std::vector<std::uint32_t> frames; std::vector<int> lengths; };
    const Case cases[] = {
        // Pages 0x40..0x13F: half a unit, a whole one, half a unit.
        {0x50, 0xE0, {0x40, 0x80, 0x100}, {64, 128, 64}},
        // One page in the upper half of a unit.
        {0x1C0, 8, {0x1C0}, {64}},
        // One page in the lower half of the model's last unit.
        {0x7B80, 64, {0x7B80}, {64}},
    };
    for (const Case& c : cases) {
        for (const char* model : {"ATmega88", "ATmega328"}) {
            if (c.address >= find_device_model(model)->loader_start) continue;
            FastBench bench(model);
            const auto before = random_bytes(0x1C00 > c.address ? 0x1C00 : 0x7C00, 9);
            std::copy(before.begin(), before.end(), bench.flash().begin());
            const auto data = random_bytes(c.size, 10);
            const std::string file = bench.hex_file("p.hex", c.address, data);
            const auto w = bench.programmer.write(MemoryKind::Flash, file);
            ASSERT_TRUE(w.ok()) << status_text(w);
            const auto frames = only(bench.board.loader, 'W');
            ASSERT_EQ(frames.size(), c.frames.size()) << model << " " << c.address;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].address, c.frames[i]);
                EXPECT_EQ(frames[i].a3, c.lengths[i]);
            }
            // The file's bytes, 0xFF in its pages around them, and nothing else changed.
            const std::uint32_t page_start = c.address / 64 * 64;
            const std::uint32_t page_end = static_cast<std::uint32_t>((c.address + c.size + 63) / 64 * 64);
            for (std::uint32_t a = 0; a < before.size(); ++a) {
                std::uint8_t want = before[a];
                if (a >= page_start && a < page_end) want = 0xFF;
                if (a >= c.address && a < c.address + c.size) want = data[a - c.address];
                ASSERT_EQ(bench.flash()[a], want) << model << " at " << a;
            }
            const auto v = bench.programmer.verify(MemoryKind::Flash, file);
            // Below the file the chip holds another program, which the verify reports.
            EXPECT_EQ(v.result, page_start > 0 ? Result::Differences : Result::Success) << status_text(v);
        }
    }
}

TEST(FastRoad, AByteCorruptedInOnePageIsCaughtByTheCheckedVerify) {
    FastBench bench("ATmega168", {.corrupt_at = 0x2345});
    const auto program = random_bytes(0x3C00, 5);
    const std::string file = bench.hex_file("p.hex", 0, program);
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Flash, file).ok());
    bench.board.loader.misbehave({.corrupt_at = 0x2345});
    const auto v = bench.programmer.verify(MemoryKind::Flash, file);
    ASSERT_EQ(v.result, Result::Differences) << status_text(v);
    ASSERT_EQ(v.differences.size(), 1u);
    EXPECT_EQ(v.differences[0].address, 0x2345u);
    EXPECT_EQ(v.differences[0].expected, program[0x2345]);
    EXPECT_EQ(v.difference_count, 1u);
    EXPECT_EQ(status_text(v), "Ошибка по адресу: 2345 ");
    // Only the unit whose check differs was read back, the plain way.
    const auto reads = only(bench.board.loader, 'A');
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].address, 0x2300u);
}

TEST(FastRoad, ALoaderThatAnswersACheckWronglyEndsInAnError) {
    const auto program = random_bytes(0x1000, 6);
    // During the write (the unit is written for nothing, then the verify disagrees
    // with the bytes), or only during the verify.
    for (const bool from_the_start : {true, false}) {
        FastBench bench("ATmega328");
        if (from_the_start) bench.board.loader.misbehave({.wrong_check_at = 0x0800});
        const std::string file = bench.hex_file("p.hex", 0, program);
        const auto w = bench.programmer.write(MemoryKind::Flash, file);
        ASSERT_TRUE(w.ok()) << status_text(w);
        bench.board.loader.misbehave({.wrong_check_at = 0x0800});
        const auto v = bench.programmer.verify(MemoryKind::Flash, file);
        EXPECT_EQ(v.result, Result::LinkFailure) << status_text(v);
        ASSERT_TRUE(v.link_failure.has_value());
        EXPECT_TRUE(v.link_failure->wrong_answer);
        EXPECT_EQ(v.link_failure->address, 0x0800u);
        EXPECT_EQ(status_text(v), "Загрузчик ответил неверно при сравнении flash: команда 'C', адрес 0800");
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

TEST(FastRoad, ALostLineInTheMiddleReportsNoPageThatWasNotConfirmed) {
    const auto program = random_bytes(0x2000, 8);
    // The line (and the board's power with it) goes at several points inside the stream.
    for (const std::int64_t gone_after : {4 + 1000, 4 + 5 * 136, 4 + 5 * 136 + 70, 4 + 20 * 136 + 3}) {
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

TEST(FastRoad, ADroppedByteChangesNoOtherPageAndFailsEvenWithoutVerify) {
    const auto old_program = random_bytes(0x2000, 11);
    const auto program = random_bytes(0x2000, 12);
    // In the data of the 6th frame, in its check, and in the last frame of all.
    for (const std::int64_t dropped : {4 + 5 * 136 + 60, 4 + 5 * 136 + 135, 4 + 63 * 136 + 10}) {
        FastBench bench("ATmega328");
        std::copy(old_program.begin(), old_program.end(), bench.flash().begin());
        bench.board.loader.misbehave({.drop_byte = dropped});
        const std::string file = bench.hex_file("p.hex", 0, program);
        RecordingProgress progress;
        const auto w = bench.programmer.write(MemoryKind::Flash, file, progress);
        ASSERT_FALSE(w.ok()) << dropped;
        EXPECT_EQ(w.result, Result::LinkFailure) << status_text(w);
        // The frame that lost the byte (the C packet is 4 bytes, each frame 136).
        const auto broken = static_cast<std::uint32_t>((dropped - 5) / 136 * 128);
        const std::uint32_t reported = progress.positions.back();
        EXPECT_LE(reported, broken);
        // Below it the new program, from it on the old one: no page half written, none
        // written at a wrong address.
        for (std::uint32_t a = 0; a < 0x2000; ++a) {
            ASSERT_EQ(bench.flash()[a], a < broken ? program[a] : old_program[a]) << dropped << " at " << a;
        }
        // The loader was brought back to taking commands: the write can simply be repeated.
        bench.board.loader.misbehave({});
        const auto again = bench.programmer.write(MemoryKind::Flash, file);
        ASSERT_TRUE(again.ok()) << status_text(again);
        EXPECT_TRUE(holds(bench.flash(), 0, program));
        EXPECT_EQ(only(bench.board.loader, 'W').front().address, broken);
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
    for (std::size_t i = 4; i < log.size() && log[i].byte == 'W'; i += 136) starts.push_back(log[i].time_us);
    ASSERT_EQ(starts.size(), 16u);
    EXPECT_EQ(starts[1], starts[0]);  // streamed
    EXPECT_GT(starts[4], starts[3]);  // waits before the frame that holds 55 55 55 55
    EXPECT_GT(starts[5], starts[4]);  // and after it
}

TEST(FastRoad, FlashEraseIsRangeErasesThatLeaveTheLoader) {
    for (const char* model : {"ATmega8", "ATmega168", "ATmega328"}) {
        FastBench bench(model);
        const std::uint32_t area = find_device_model(model)->loader_start;
        std::fill_n(bench.flash().begin(), area, 0x00);
        const std::vector<std::uint8_t> loader(bench.flash().begin() + area, bench.flash().end());
        const auto e = bench.programmer.erase(MemoryKind::Flash);
        ASSERT_TRUE(e.ok()) << status_text(e);
        EXPECT_EQ(e.road, Road::Fast);
        EXPECT_EQ(std::count(bench.flash().begin(), bench.flash().begin() + area, 0xFF), area);
        EXPECT_TRUE(holds(bench.flash(), area, loader));
        const auto erases = only(bench.board.loader, 'X');
        ASSERT_FALSE(erases.empty());
        EXPECT_EQ(erases.back().address + 128u * (erases.back().a3 == 0 ? 256 : erases.back().a3), area) << model;
        EXPECT_EQ(letters(bench.board.loader).find_first_not_of('X'), std::string::npos);
    }
}

TEST(FastRoad, EepromIsWrittenAndErasedOnlyWhereItDiffersWithoutFixedWaits) {
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
    EXPECT_EQ(d[2].address >> 8, 44u);  // n of the last block, in a1

    // The same data again: checks, one plain read of the part-covered last block, no D.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.write(MemoryKind::Eeprom, file).ok());
    EXPECT_TRUE(only(bench.board.loader, 'D').empty()) << letters(bench.board.loader);
    ASSERT_TRUE(bench.programmer.verify(MemoryKind::Eeprom, file).ok());

    // Erase: only the three blocks that hold data; then a blank EEPROM costs one check.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.erase(MemoryKind::Eeprom).ok());
    EXPECT_EQ(only(bench.board.loader, 'e').size(), 3u);
    EXPECT_EQ(std::count(bench.eeprom().begin(), bench.eeprom().end(), 0xFF), 1024);
    bench.board.loader.misbehave({});
    const std::int64_t t1 = bench.board.clock.now_ms();
    ASSERT_TRUE(bench.programmer.erase(MemoryKind::Eeprom).ok());
    EXPECT_EQ(letters(bench.board.loader), "c");
    EXPECT_LT(bench.board.clock.now_ms() - t1, 100);
}

TEST(FastRoad, ALoaderWithoutTheSignatureGetsExactlyThePlainRoad) {
    // The same operations with our loader held to the plain road, and with a loader of
    // the original kind left to choose: byte for byte the same wire, no new letter.
    const auto program = random_bytes(0x900, 15);
    const auto data = random_bytes(200, 16);
    auto run = [&](LoaderKind kind, RoadChoice choice) {
        ProgrammerBench bench("ATmega328", {}, kind);
        bench.programmer.set_road_choice(choice);
        const std::string file = bench.hex_file("p.hex", 0x40, program);
        const std::string eep = bench.hex_file("d.eep", 0, data);
        EXPECT_EQ(bench.programmer.road(), Road::Plain);
        EXPECT_TRUE(bench.programmer.erase(MemoryKind::Flash).ok());
        const auto w = bench.programmer.write(MemoryKind::Flash, file, no_progress(), {.erase_pages = true});
        EXPECT_TRUE(w.ok());
        EXPECT_EQ(w.road, Road::Plain);
        EXPECT_TRUE(bench.programmer.verify(MemoryKind::Flash, file).ok());
        EXPECT_TRUE(bench.programmer.write(MemoryKind::Eeprom, eep).ok());
        EXPECT_TRUE(bench.programmer.erase(MemoryKind::Eeprom).ok());
        EXPECT_EQ(status_text(w).find("быстрый"), std::string::npos);
        for (const Sent& p : packets(bench.board.loader)) {
            EXPECT_NE(std::string("UABFDfdbEeS").find(static_cast<char>(p.command)), std::string::npos) << p.command;
        }
        return bench.board.sent();
    };
    const auto plain_loader = run(LoaderKind::Plain, RoadChoice::Auto);
    const auto forced = run(LoaderKind::Ours, RoadChoice::Plain);
    EXPECT_FALSE(plain_loader.empty());
    EXPECT_EQ(plain_loader, forced);
}

TEST(FastRoad, ASignatureWithAnotherPageSizeOrVersionKeepsThePlainRoad) {
    struct Case { const char* model; std::uint8_t version; std::uint8_t page_words; Road road; };
    for (const Case& c : {Case{"ATmega8", 1, 32, Road::Fast}, Case{"ATmega8", 1, 64, Road::Plain},
                          Case{"ATmega328", 1, 64, Road::Fast}, Case{"ATmega328", 1, 32, Road::Plain},
                          Case{"ATmega328", 2, 64, Road::Plain}}) {
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

}  // namespace
}  // namespace zarvik
