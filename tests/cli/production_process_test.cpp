// zarvik-cli on a production line, as processes: several boards on real pseudo-terminals,
// two programs sharing one counter file, and one killed in the middle of a board.
#include <QJsonDocument>
#include <QJsonObject>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "memory/intel_hex_writer.h"
#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::CliRun;
using testing::SimProcess;
using testing::TempDir;

std::string random_hex(TempDir& dir, const std::string& name, std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    return dir.write(name, to_intel_hex(data));
}

std::vector<QJsonObject> log_lines(const std::string& path) {
    std::vector<QJsonObject> out;
    std::istringstream in(testing::read_file(path));
    for (std::string line; std::getline(in, line);) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        out.push_back(doc.object());
    }
    return out;
}

TEST(ProductionLine, TwoBoardsOnTheirOwnPortsAtOnce) {
    TempDir dir;
    const std::string program = random_hex(dir, "app.hex", 4000, 3);
    SimProcess a({"-m", "ATmega328"});
    SimProcess b({"-m", "ATmega168", "--plain-loader"});
    ASSERT_TRUE(a.ready() && b.ready()) << a.failure() << b.failure();
    const CliRun run = testing::cli({"-p", a.path(), "--ports", b.path(), "--serial-at", "eeprom:0x10",
                                     "--serial-format", "ascii:5", "--serial-file", QString::fromStdString(dir.file("n.txt")),
                                     "--serial-start", "41", "--log", QString::fromStdString(dir.file("log.jsonl")),
                                     "write", "flash", QString::fromStdString(program)});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    // Not a terminal: each line names its port; the table ends the output.
    EXPECT_NE(run.out.find(a.path_string() + ": "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(b.path_string() + ": "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Плат: 2, годных: 2"), std::string::npos) << run.out;
    std::set<int> numbers;
    for (const QJsonObject& line : log_lines(dir.file("log.jsonl"))) {
        numbers.insert(line["serial"].toInt());
        EXPECT_EQ(line["loader"].toString(), line["port"].toString().toStdString() == a.path_string() ? "zarvik" : "other");
    }
    EXPECT_EQ(numbers, (std::set<int>{41, 42}));
    EXPECT_EQ(testing::read_file(dir.file("n.txt")), "43\n");
}

TEST(ProductionLine, TwoProgramsSharingOneCounterNeverGiveANumberTwice) {
    TempDir dir;
    const std::string eeprom = dir.write("cal.hex", to_intel_hex(std::vector<std::uint8_t>(16, 0x11)));
    const QStringList common = {"--simulate", "--ports", "a,b,c,d,e,f", "--serial-at", "eeprom:0x40",
                                "--serial-file", QString::fromStdString(dir.file("n.txt")), "--serial-start", "1",
                                "--log", QString::fromStdString(dir.file("log.jsonl")), "--json",
                                "write", "eeprom", QString::fromStdString(eeprom)};
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        p->setProcessEnvironment(testing::cli_environment());
        p->start(QStringLiteral(ZARVIK_CLI_BINARY), common);
    }
    for (QProcess* p : {&first, &second}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    std::set<int> numbers;
    const auto lines = log_lines(dir.file("log.jsonl"));
    for (const QJsonObject& line : lines) numbers.insert(line["serial"].toInt());
    EXPECT_EQ(lines.size(), 12u);
    EXPECT_EQ(numbers.size(), 12u) << "a number was given twice";
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), 12);
}

TEST(ProductionLine, AProgramKilledAfterTakingANumberLeavesAGapNeverADuplicate) {
    TempDir dir;
    const std::string program = random_hex(dir, "app.hex", 31 * 1024, 5);
    // On the wire's own time, so that the write is still under way when the kill comes.
    SimProcess board({"-m", "ATmega328", "--wire"});
    ASSERT_TRUE(board.ready()) << board.failure();
    const QStringList args = {"-p", board.path(), "--json", "--serial-at", "eeprom:0", "--serial-file",
                              QString::fromStdString(dir.file("n.txt")), "--serial-start", "100", "--log",
                              QString::fromStdString(dir.file("log.jsonl")), "write", "flash",
                              QString::fromStdString(program)};
    QProcess killed;
    killed.setProcessEnvironment(testing::cli_environment());
    killed.start(QStringLiteral(ZARVIK_CLI_BINARY), args);
    std::string seen;
    while (seen.find("\"event\":\"serial\"") == std::string::npos && killed.waitForReadyRead(60000)) {
        seen += killed.readAllStandardOutput().toStdString();
    }
    ASSERT_NE(seen.find("\"number\":100"), std::string::npos) << seen;
    killed.kill();  // SIGKILL: no handler runs
    killed.waitForFinished(10000);
    EXPECT_EQ(testing::read_file(dir.file("n.txt")), "101\n") << "taken and on disk before the board was written";

    const CliRun again = testing::cli(args);
    ASSERT_EQ(again.code, 0) << again.out << again.err;
    const auto lines = log_lines(dir.file("log.jsonl"));
    ASSERT_EQ(lines.size(), 1u) << "the killed run left no line, not even half of one";
    EXPECT_EQ(lines[0]["serial"].toInt(), 101) << "100 stays a gap";
}

// Waits for the log to hold `count` lines; a generous deadline, for a busy machine.
bool log_reaches(const std::string& path, std::size_t count) {
    QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired()) {
        std::istringstream in(testing::read_file(path));
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        if (lines >= count) return true;
        QThread::msleep(50);
    }
    return false;
}

TEST(ProductionLine, RepeatOnARealPortTakesEachResetBoardUntilCtrlC) {
    TempDir dir;
    const std::string program = random_hex(dir, "app.hex", 3000, 9);
    SimProcess board({"-m", "ATmega328"});
    ASSERT_TRUE(board.ready()) << board.failure();
    const std::string log = dir.file("log.jsonl");
    QProcess line;
    line.setProcessEnvironment(testing::cli_environment());
    line.start(QStringLiteral(ZARVIK_CLI_BINARY),
               {"-p", board.path(), "--repeat", "--json", "--log", QString::fromStdString(log), "write", "flash",
                QString::fromStdString(program), "start"});
    // The first board is programmed and started; once the program says it is gone, the
    // reset button stands for the next board on the same cable.
    std::string seen;
    auto says = [&](const std::string& text) {
        while (seen.find(text) == std::string::npos && line.waitForReadyRead(120000)) {
            seen += line.readAllStandardOutput().toStdString();
        }
        return seen.find(text) != std::string::npos;
    };
    ASSERT_TRUE(says("ждём следующую")) << seen;
    ASSERT_TRUE(log_reaches(log, 1));
    ::kill(static_cast<pid_t>(board.pid()), SIGUSR1);
    ASSERT_TRUE(log_reaches(log, 2)) << line.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(line.processId()), SIGINT);
    ASSERT_TRUE(line.waitForFinished(60000));
    EXPECT_EQ(line.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(line.exitCode(), 0) << "Ctrl-C is how a repeat ends";
    seen += line.readAllStandardOutput().toStdString();
    const QList<QByteArray> out = QByteArray::fromStdString(seen).trimmed().split('\n');
    const QJsonObject summary = QJsonDocument::fromJson(out.last()).object();
    EXPECT_EQ(summary["event"].toString(), "summary") << out.last().toStdString();
    EXPECT_EQ(summary["passed"].toInt(), 2);
    EXPECT_EQ(summary["failed"].toInt(), 0);
    for (const QJsonObject& board_line : log_lines(log)) EXPECT_EQ(board_line["outcome"].toString(), "passed");
}

}  // namespace
}  // namespace zarvik
