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


// Output of a running zarvik-cli, read as it comes.
class Following {
public:
    explicit Following(QProcess& process) : process_(process) {}
    // Whether `text` has come `times` times, waiting for it at most `ms`.
    bool saw(const std::string& text, std::size_t times = 1, int ms = 120000) {
        QDeadlineTimer deadline(ms);
        while (count(text) < times && !deadline.hasExpired()) {
            if (!process_.waitForReadyRead(100)) continue;
            seen_ += process_.readAllStandardOutput().toStdString();
        }
        return count(text) >= times;
    }
    std::size_t count(const std::string& text) const {
        std::size_t n = 0;
        for (std::size_t at = seen_.find(text); at != std::string::npos; at = seen_.find(text, at + 1)) ++n;
        return n;
    }
    // Ends the run as Ctrl-C does; its exit code, or -1.
    int interrupt() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
        if (!process_.waitForFinished(60000)) return -1;
        seen_ += process_.readAllStandardOutput().toStdString();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    const std::string& seen() const { return seen_; }

private:
    QProcess& process_;
    std::string seen_;
};

TEST(ProductionLine, RepeatProgramsABoardResetSoonAfterItsProgramStartedAndSaysOnceOfOneLeftInItsLoader) {
    struct Case {
        const char* name;
        QStringList tail;                // after the write
        std::vector<int> resets_after_start_ms;
        std::size_t boards;              // programmed
        bool still_in_loader;            // said once
    };
    const Case cases[] = {
        {"reset 0.3, 0.5 and 1 s after each start", {"start"}, {300, 500, 1000}, 4, false},
        {"left in its loader", {}, {}, 1, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string program = random_hex(dir, "app.hex", 2000, 4);
        SimProcess board({"-m", "ATmega328"});
        ASSERT_TRUE(board.ready()) << board.failure();
        const std::string log = dir.file("log.jsonl");
        QProcess line;
        line.setProcessEnvironment(testing::cli_environment());
        line.start(QStringLiteral(ZARVIK_CLI_BINARY), QStringList{"-p", board.path(), "--repeat", "--json", "--log",
                                                                  QString::fromStdString(log), "write", "flash",
                                                                  QString::fromStdString(program)} + c.tail);
        Following out(line);
        std::size_t started = 0;
        for (const int after_ms : c.resets_after_start_ms) {
            ASSERT_TRUE(out.saw("\"operation\":\"start\"", ++started)) << c.name << out.seen();
            QThread::msleep(static_cast<unsigned long>(after_ms));
            ::kill(static_cast<pid_t>(board.pid()), SIGUSR1);
        }
        ASSERT_TRUE(out.saw("\"event\":\"verdict\"", c.boards)) << c.name << out.seen();
        if (c.still_in_loader) {
            ASSERT_TRUE(out.saw("всё ещё в загрузчике")) << c.name << out.seen();
            QThread::msleep(2000);  // a dozen probes more, each answered
        }
        EXPECT_EQ(out.interrupt(), 0) << c.name;
        EXPECT_EQ(out.count("\"event\":\"verdict\""), c.boards) << c.name << out.seen();
        EXPECT_EQ(out.count("всё ещё в загрузчике"), c.still_in_loader ? 1u : 0u) << c.name << out.seen();
        const auto lines = log_lines(log);
        EXPECT_EQ(lines.size(), c.boards) << c.name;
        for (const QJsonObject& board_line : lines) EXPECT_EQ(board_line["outcome"].toString(), "passed") << c.name;
    }
}

TEST(ProductionLine, RepeatOnAPortThatIsNotThereSaysSoAndTakesTheBoardOnceItComes) {
    TempDir dir;
    const std::string program = random_hex(dir, "app.hex", 1000, 6);
    const QString later = QString::fromStdString(dir.file("fixture-1"));
    QProcess line;
    line.setProcessEnvironment(testing::cli_environment());
    line.start(QStringLiteral(ZARVIK_CLI_BINARY),
               {"-p", later, "--repeat", "--json", "--log", QString::fromStdString(dir.file("log.jsonl")), "write",
                "flash", QString::fromStdString(program), "start"});
    Following out(line);
    ASSERT_TRUE(out.saw("такого порта нет; ждём, когда порт появится")) << out.seen();
    EXPECT_NE(out.seen().find(later.toStdString()), std::string::npos) << "the path it tried" << out.seen();
    SimProcess board({"-m", "ATmega328", "--link", later});
    ASSERT_TRUE(board.ready()) << board.failure();
    ASSERT_TRUE(out.saw("\"event\":\"verdict\"")) << out.seen();
    EXPECT_EQ(out.interrupt(), 0);
    EXPECT_EQ(out.count("ждём, когда порт появится"), 1u) << "said once while it is missing" << out.seen();
    EXPECT_EQ(log_lines(dir.file("log.jsonl")).size(), 1u);
}

TEST(ProductionLine, PortsAreNamedByThePathTriedAndALinkIsTheSamePortAsItsTarget) {
    TempDir dir;
    SimProcess board({"-m", "ATmega328", "--link", QString::fromStdString(dir.file("board"))});
    ASSERT_TRUE(board.ready()) << board.failure();
    struct Case {
        QStringList args;
        int code;
        std::string says;
        std::string never;
    };
    const Case cases[] = {
        // A bare name is a device's; a relative path stays as it is.
        {{"-p", "zarvik-no-such-b1", "connect"}, 3, "/dev/zarvik-no-such-b1: такого порта нет", ""},
        {{"-p", "./zarvik-no-such-b1", "connect"}, 3, "./zarvik-no-such-b1: такого порта нет", "/dev/."},
        {{"-p", QString::fromStdString(dir.file("board")), "-p", board.path(), "connect"}, 2,
         "— один и тот же порт", "занят"},
        // One list, and the commands after it.
        {{"--simulate", "--ports", "a,b", "write", "flash", ZARVIK_BLINK_HEX}, 0, "Плат: 2, годных: 2", ""},
        {{"--simulate", "--ports", "a", "--ports", "b", "connect"}, 2, "--ports", ""},
    };
    for (const Case& c : cases) {
        const CliRun run = testing::cli(c.args);
        const std::string shown = c.args.join(' ').toStdString();
        EXPECT_EQ(run.code, c.code) << shown << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << shown << run.out << run.err;
        if (!c.never.empty()) {
            EXPECT_EQ((run.out + run.err).find(c.never), std::string::npos) << shown << run.err;
        }
    }
}

TEST(ProductionLine, NamedPositionsRunAgainWhereTheirLastLineInTheLogFailed) {
    TempDir dir;
    const QString log = QString::fromStdString(dir.file("log.jsonl"));
    const QStringList common = {"--station", "line-3", "--log", log, "write", "flash", ZARVIK_BLINK_HEX};
    // The boards are ATmega168s: with -m ATmega328, every one fails, touching nothing.
    const CliRun first = testing::cli(QStringList{"--simulate=ATmega168", "-m", "ATmega328", "--ports", "1=a,2=b"} + common);
    EXPECT_EQ(first.code, 5) << first.out << first.err;
    EXPECT_NE(first.out.find("Место"), std::string::npos) << first.out;
    const CliRun again = testing::cli(QStringList{"--simulate=ATmega328", "-m", "ATmega328", "--ports", "1=a,2=b,3=c",
                                                  "--rerun-failed", log} + common);
    EXPECT_EQ(again.code, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("Плат: 2, годных: 2"), std::string::npos) << "3 never ran: it did not fail" << again.out;
    const auto lines = log_lines(dir.file("log.jsonl"));
    ASSERT_EQ(lines.size(), 4u);
    for (const QJsonObject& board_line : lines) {
        EXPECT_EQ(board_line["station"].toString(), "line-3");
        EXPECT_FALSE(board_line["position"].toString().isEmpty());
        EXPECT_TRUE(board_line["ended"].toString().endsWith("Z"));
    }
    const CliRun nothing = testing::cli(QStringList{"--simulate", "--ports", "1=a,2=b", "--rerun-failed", log} + common);
    EXPECT_EQ(nothing.code, 0) << nothing.err;
    EXPECT_NE(nothing.err.find("запускать нечего"), std::string::npos) << nothing.err;
    EXPECT_EQ(log_lines(dir.file("log.jsonl")).size(), 4u);
}

}  // namespace
}  // namespace zarvik
