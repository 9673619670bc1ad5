// zarvik-cli's road with our own loader and with one of the original kind, against
// zarvik-sim on a pseudo-terminal, from the wire log the board keeps.
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "memory/memory_image.h"
#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::CliRun;

// The waits as shipped: the roads' own time-outs are part of what these tests see.
CliRun cli(const QStringList& args) { return testing::cli(args, {}, {}, testing::Waits::AsShipped); }

std::vector<std::uint8_t> logged_bytes(const std::string& path) {
    std::vector<std::uint8_t> out;
    std::istringstream in(testing::read_file(path));
    long long time = 0;
    int byte = 0;
    while (in >> time >> byte) out.push_back(static_cast<std::uint8_t>(byte));
    return out;
}

// The command letters in a wire log: plain packets (the data of `B` skipped) until a
// `Z` opens a session, then frames until a sync ends it.
std::string letters(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    bool session = false;
    for (std::size_t i = 0; i + 3 < bytes.size();) {
        const std::uint8_t c = bytes[i];
        out.push_back(static_cast<char>(c));
        if (c == 'U') {
            session = false;
            i += 4;
        } else if (session || c == 'Z') {
            // Only `D` and `W` carry data; the others' `len` is a count.
            session = true;
            i += 4 + (c == 'D' || c == 'W' ? bytes[i + 1] : 0) + 4;
        } else {
            i += c == 'B' ? 4 + 128 : 4;
        }
    }
    return out;
}

std::vector<QJsonObject> results(const std::string& out) {
    std::vector<QJsonObject> found;
    for (const QByteArray& line : QByteArray::fromStdString(out).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o["event"] == "result" && o["operation"] != "connect") found.push_back(o);
    }
    return found;
}

std::string random_hex(testing::TempDir& dir, const std::string& name, std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << to_intel_hex(data);
    return path;
}

TEST(CliFastRoad, ALoaderWithoutTheSignatureSeesExactlyTheBytesOfThePlainProtocol) {
    testing::TempDir dir;
    const QStringList commands{"--json", "-m", "ATmega168", "write", "flash", ZARVIK_BLINK_HEX, "verify", "flash",
                               ZARVIK_BLINK_HEX, "write", "eeprom", ZARVIK_BLINK_EEP};
    // Our loader told to keep to the plain road, a loader of the original kind left to
    // choose, and our loader left to choose.
    struct Board { QStringList sim; QStringList host; const char* road; };
    const Board boards[] = {{{}, {"--protocol", "plain"}, "plain"},
                            {{"--plain-loader"}, {}, "plain"},
                            {{"--plain-loader"}, {"--protocol", "auto"}, "plain"},
                            {{}, {}, "fast"}};
    std::vector<std::vector<std::uint8_t>> wires;
    for (const Board& b : boards) {
        const std::string log = dir.file("log" + std::to_string(wires.size()));
        {
            testing::SimProcess sim(QStringList{"--model", "ATmega168", "--log", QString::fromStdString(log)} + b.sim);
            const CliRun r = cli(QStringList{"-p", sim.path()} + b.host + commands);
            ASSERT_EQ(r.code, 0) << r.out << r.err;
            const auto done = results(r.out);
            ASSERT_EQ(done.size(), 5u) << r.out;  // write and its verify, verify, write and its verify
            for (const QJsonObject& o : done) EXPECT_EQ(o["road"], b.road) << r.out;
            ASSERT_EQ(sim.stop(), 0);
        }
        wires.push_back(logged_bytes(log));
    }
    ASSERT_FALSE(wires[0].empty());
    EXPECT_EQ(wires[1], wires[0]);
    EXPECT_EQ(wires[2], wires[0]);
    for (const std::size_t plain : {0u, 1u, 2u}) {
        EXPECT_EQ(letters(wires[plain]).find_first_not_of("UABFDfdbEeS"), std::string::npos) << letters(wires[plain]);
    }
    // Our loader left to choose: after the identity's plain reads, a session of checks,
    // frames and reads, no page erase, no block load.
    const std::string fast = letters(wires[3]);
    const std::size_t opened = fast.find('Z');
    ASSERT_NE(opened, std::string::npos) << fast;
    EXPECT_EQ(fast.substr(0, opened), "UAfbAfbAfb");
    EXPECT_NE(fast.find('W'), std::string::npos) << fast;
    EXPECT_EQ(fast.find_first_not_of("ZCWfdD", opened), std::string::npos) << fast;
}

TEST(CliFastRoad, ADroppedByteFailsTheWriteEvenWithoutVerifyAndChangesNoOtherPage) {
    testing::TempDir dir;
    const std::string program = random_hex(dir, "p.hex", 0x2000, 21);
    const std::string dump = dir.file("dump.hex");
    // The sync (4 bytes), three block reads for the chip (36), the session's opening
    // (8), two frames of checks (16); then frames of 136 bytes: the byte lost is inside
    // the sixth.
    const std::int64_t dropped = 4 + 36 + 8 + 16 + 5 * 136 + 50;
    CliRun r;
    {
        testing::SimProcess sim({"--model", "ATmega328", "--drop-byte", QString::number(dropped), "--dump-flash",
                                 QString::fromStdString(dump)});
        r = cli({"-p", sim.path(), "--json", "--no-verify", "write", "flash", QString::fromStdString(program)});
        ASSERT_EQ(sim.stop(), 0);
    }
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    const auto done = results(r.out);
    ASSERT_EQ(done.size(), 1u) << r.out;
    EXPECT_EQ(done[0]["outcome"], "link-error");
    EXPECT_EQ(done[0]["road"], "fast");
    const QString text = done[0]["text"].toString();
    EXPECT_NE(text.indexOf(QString::fromUtf8("при записи flash: команда 'W', адрес 0280")), -1) << r.out;
    EXPECT_NE(text.indexOf(QString::fromUtf8("Из этого кадра в память ничего не записано")), -1) << r.out;

    FlashImage wanted, chip;
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(program, wanted.span())));
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(dump, chip.span())));
    for (std::uint32_t a = 0; a < 0x2000; ++a) {
        ASSERT_EQ(chip.bytes[a], a < 5 * 128 ? wanted.bytes[a] : 0xFF) << "at " << a;
    }
}

TEST(CliFastRoad, OurLoaderOfVersionOneGetsThePlainRoadAndTheAdviceToReplaceIt) {
    testing::TempDir dir;
    const std::string log = dir.file("log");
    CliRun r;
    {
        testing::SimProcess sim({"--model", "ATmega88", "--version1-loader", "--log", QString::fromStdString(log)});
        r = cli({"-p", sim.path(), "--json", "-m", "ATmega88", "write", "flash", ZARVIK_BLINK_HEX});
        ASSERT_EQ(sim.stop(), 0);
    }
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const auto done = results(r.out);
    ASSERT_EQ(done.size(), 2u) << r.out;  // the write and its verify
    for (const QJsonObject& o : done) {
        EXPECT_EQ(o["road"], "plain");
        EXPECT_EQ(o["advice"], "replace-loader");
        EXPECT_NE(o["text"].toString().indexOf(QString::fromUtf8("Замените загрузчик новым")), -1) << r.out;
    }
    EXPECT_EQ(letters(logged_bytes(log)).find_first_not_of("UABFDfdbEeS"), std::string::npos);
    // In English too, in the text a person reads.
    testing::SimProcess sim({"--model", "ATmega88", "--version1-loader"});
    const CliRun english = cli({"-p", sim.path(), "--lang", "en", "-m", "ATmega88", "verify", "flash", ZARVIK_BLINK_HEX});
    EXPECT_NE(english.out.find("Replace the loader"), std::string::npos) << english.out << english.err;
}

}  // namespace
}  // namespace zarvik
