// zarvik-cli as a build script runs it: a subprocess, against zarvik-sim on a
// pseudo-terminal.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <sstream>

#include "loader/chip_identity.h"
#include "loader/wait_count.h"
#include "memory/device_model.h"
#include "memory/intel_hex_loader.h"
#include "memory/memory_image.h"
#include "serial/serial_port.h"
#include "sim/board/sim_loader.h"
#include "support/cli_process.h"
#include "support/pty_pair.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::cli;
using testing::cli_environment;
using testing::CliRun;
using testing::Waits;

QStringList on(const testing::SimProcess& sim, QStringList args) {
    return QStringList{"-p", sim.path(), "-m", "ATmega8"} + args;
}

TEST(Cli, EveryCommandAgainstTheSimulatedBoard) {
    testing::TempDir dir;
    const std::string dump = dir.file("flash.hex");
    testing::SimProcess sim({"--model", "ATmega8", "--dump-flash", QString::fromStdString(dump)});
    ASSERT_FALSE(sim.path().isEmpty());

    const CliRun ports = cli({"ports"}, sim.path());
    EXPECT_EQ(ports.code, 0);
    EXPECT_EQ(ports.out, sim.path_string() + "\n");
    EXPECT_NE(ports.err.find("Доступно 1 COM порт"), std::string::npos);

    const CliRun connect = cli(on(sim, {"--reset", "dtr", "connect"}));
    EXPECT_EQ(connect.code, 0) << connect.err;
    EXPECT_EQ(connect.out, "Соединение установлено успешно!\n");
    EXPECT_NE(connect.err.find("DTR"), std::string::npos);  // a terminal without modem lines: a warning only

    const CliRun chain = cli(on(sim, {"erase", "flash", "write", "flash", ZARVIK_BLINK_HEX}));
    EXPECT_EQ(chain.code, 0) << chain.err;
    EXPECT_NE(chain.out.find("Стирание flash закончено!  Время стирания: "), std::string::npos) << chain.out;
    EXPECT_NE(chain.out.find("Запись flash закончена!  Время записи: "), std::string::npos);
    EXPECT_NE(chain.out.find("flash записан правильно!"), std::string::npos);  // the verify after write

    const std::string read_back = dir.file("back.hex");
    const CliRun rest = cli(on(sim, {"verify", "flash", ZARVIK_BLINK_HEX, "read", "flash", QString::fromStdString(read_back),
                                  "write", "eeprom", ZARVIK_BLINK_EEP, "--no-verify", "configure", "16", "2", "start"}));
    EXPECT_EQ(rest.code, 0) << rest.err;
    EXPECT_NE(rest.out.find("Чтение flash закончено!"), std::string::npos);
    EXPECT_EQ(rest.out.find("EEPROM записан правильно!"), std::string::npos);  // --no-verify
    EXPECT_NE(rest.out.find("Настройка загрузчика выполнена на частоту 16 МГц и 2 секунды"), std::string::npos);
    EXPECT_NE(rest.out.find("Программа запущена"), std::string::npos);
    EXPECT_EQ(testing::read_file(read_back).rfind(":10000000", 0), 0u);

    ASSERT_EQ(sim.stop(), 0);
    EXPECT_EQ(testing::read_file(read_back).substr(0, 200), testing::read_file(dump).substr(0, 200));
}

// The exit codes as the program returns them; the session's own cases, one for each
// code, are in session_test.cpp.
TEST(Cli, ExitCodes) {
    testing::SimProcess sim({"--model", "ATmega8"});
    testing::SimProcess silent({"--silent"});
    struct Case { const char* what; QStringList args; int code; const char* says; };
    const Case cases[] = {
        {"differences", on(sim, {"verify", "flash", ZARVIK_BLINK_HEX}), 1, "Ошибка по адресу: 0000 "},
        {"unknown command", {"frobnicate"}, 2, "unknown command"},
        {"speed not in the list", {"-b", "12345", "--simulate", "connect"}, 2, "12345"},
        {"no port", {"connect"}, 2, "--port"},
        {"wrong chip", {"--simulate=ATmega8", "-m", "ATmega328", "erase", "flash"}, 5,
         "Подключён ATmega8/88 (загрузчик с адреса 1C00), а выбран ATmega328"},
        {"no loader answers", {"-p", silent.path(), "erase", "flash"}, 3, "Соединение не удалось установить"},
        {"port that does not exist", {"-p", "/dev/zarvik-none", "connect"}, 3, "Не удалось открыть порт"},
        {"missing file", {"--simulate", "verify", "eeprom", "/nonexistent/none.eep"}, 4, "none.eep"},
    };
    for (const Case& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.what << "\n" << r.out << r.err;
    }
}

TEST(Cli, JsonLinesParseBack) {
    // A loader of the original kind: the host sleeps 9 ms for every EEPROM byte.
    testing::SimProcess sim({"--model", "ATmega8", "--plain-loader"});
    const CliRun r = cli(on(sim, {"--json", "write", "eeprom", ZARVIK_BLINK_EEP}));
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<QJsonObject> results;
    int progress = 0;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QJsonObject o = doc.object();
        if (o["event"] == "progress") ++progress;
        if (o["event"] == "result") results.push_back(o);
    }
    EXPECT_GT(progress, 1);
    ASSERT_EQ(results.size(), 3u);  // the handshake, the write, then its verify
    EXPECT_EQ(results[0]["operation"], "connect");
    results.erase(results.begin());
    EXPECT_EQ(results[0]["operation"], "write");
    EXPECT_EQ(results[0]["outcome"], "success");
    EXPECT_EQ(results[0]["memory"], "eeprom");
    EXPECT_GT(results[0]["bytes"].toInt(), 0);
    EXPECT_GE(results[0]["milliseconds"].toInt(), results[0]["bytes"].toInt() * 9);
    EXPECT_EQ(results[0]["road"], "plain");
    EXPECT_EQ(results[1]["operation"], "verify");

    const CliRun diff = cli(on(sim, {"--json", "verify", "flash", ZARVIK_BLINK_HEX}));
    EXPECT_EQ(diff.code, 1);
    const QJsonObject last =
        QJsonDocument::fromJson(QByteArray::fromStdString(diff.out).trimmed().split('\n').last()).object();
    EXPECT_EQ(last["outcome"], "differences");
    const QJsonObject first = last["differences"].toArray().first().toObject();
    EXPECT_EQ(first["address"].toInt(), 0);
    EXPECT_EQ(first["found"].toInt(), 0xFF);
}

TEST(Cli, AStopDuringConfigurationNeverLeavesTheLoaderBlank) {
    // The signal comes at each step of a slow configuration: after the handshake, after
    // the block was read, after it was first programmed, and after its read-back showed
    // that it must be erased. Whatever the moment, the loader's block afterwards holds
    // the old count or the new one.
    struct Moment { const char* seen; int signal; };
    for (const Moment& m : {Moment{"\"connect\"", SIGINT}, Moment{"\"position\":1,", SIGTERM},
                            Moment{"\"position\":2,", SIGINT}, Moment{"\"position\":3,", SIGTERM},
                            Moment{"\"position\":2,", SIGHUP}}) {
        testing::TempDir dir;
        const std::string dump = dir.file("flash.hex");
        testing::SimProcess sim({"--model", "ATmega328", "--wire", "--dump-flash", QString::fromStdString(dump)});
        ASSERT_TRUE(sim.ready()) << sim.failure();
        QProcess p;
        p.setProcessEnvironment(cli_environment());
        p.start(QStringLiteral(ZARVIK_CLI_BINARY), {"-p", sim.path(), "-b", "19200", "--json", "configure", "16", "2"});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray out;
        while (!out.contains(m.seen) && p.state() == QProcess::Running) {
            p.waitForReadyRead(5);
            out += p.readAllStandardOutput();
        }
        // Never kill(0): a process that has already ended has no id, and 0 is the
        // whole process group.
        if (p.state() == QProcess::Running && p.processId() > 0) ::kill(static_cast<pid_t>(p.processId()), m.signal);
        if (p.state() != QProcess::NotRunning) {
            ASSERT_TRUE(p.waitForFinished(60000));
        }
        out += p.readAllStandardOutput();
        const int code = p.exitCode();
        EXPECT_TRUE(code == 0 || code == 128 + m.signal) << m.seen << " " << code << "\n" << out.toStdString()
                                                         << p.readAllStandardError().toStdString();
        ASSERT_EQ(sim.stop(), 0);
        FlashImage flash;
        ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(dump, flash.span())));
        const std::span<const std::uint8_t, 128> block(flash.bytes.data() + 0x7C00, 128);
        ASSERT_TRUE(has_loader_layout(block)) << "signal after " << m.seen;
        const std::uint32_t count = decode_wait_count(block, 0);
        EXPECT_TRUE(count == SimLoader::kFactoryWaitCount || count == 2'666'667u) << count;
        if (code == 0) {
            EXPECT_EQ(count, 2'666'667u);
        }
    }
}

// zarvik-cli started as a shell starts it: SIGPIPE at its default, which ends a
// process (this test's runner may ignore it, and ignored signals are inherited), and
// SIGHUP ignored where `nohup` asks for it, in the tests' environment. Its standard
// output goes to `*out`.
pid_t spawn_cli(std::vector<std::string> args, int* out, bool nohup = false) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    if (!nohup) sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    args.insert(args.begin(), ZARVIK_CLI_BINARY);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (const QString& variable : cli_environment().toStringList()) variables.push_back(variable.toStdString());
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    struct sigaction before {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    if (nohup) ::sigaction(SIGHUP, &ignore, &before);
    pid_t pid = -1;
    if (::posix_spawn(&pid, ZARVIK_CLI_BINARY, &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
    if (nohup) ::sigaction(SIGHUP, &before, nullptr);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipe_ends[1]);
    *out = pipe_ends[0];
    return pid;
}

TEST(Cli, UnderNohupAHangUpEndsNothing) {
    testing::SimProcess sim({"--model", "ATmega8"});
    int out = -1;
    const pid_t pid = spawn_cli({"-p", sim.path_string(), "--json", "erase", "eeprom"}, &out, true);
    ASSERT_GT(pid, 0);
    std::string seen;
    char buf[256];
    ssize_t n = 0;
    while (seen.find("progress") == std::string::npos && (n = ::read(out, buf, sizeof buf)) > 0) seen.append(buf, n);
    ::kill(pid, SIGHUP);
    while ((n = ::read(out, buf, sizeof buf)) > 0) seen.append(buf, n);
    ::close(out);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
    EXPECT_NE(seen.find("\"outcome\":\"success\""), std::string::npos) << seen;
}

TEST(Cli, AReaderThatGoesAwayNeverEndsAConfiguration) {
    // `zarvik-cli ... configure 16 2 | head -c1`: the reader leaves after the first
    // byte, and every later line written to it fails. The configuration goes on to its
    // end and says so by its exit code.
    testing::TempDir dir;
    const std::string dump = dir.file("flash.hex");
    testing::SimProcess sim({"--model", "ATmega328", "--wire", "--dump-flash", QString::fromStdString(dump)});
    // As a shell starts it, with SIGPIPE at its default, which ends a process (this
    // test's runner may ignore it, and ignored signals are inherited).
    int out = -1;
    const pid_t pid = spawn_cli({"-p", sim.path_string(), "-b", "19200", "--json", "configure", "16", "2"}, &out);
    ASSERT_GT(pid, 0);
    char first = 0;
    EXPECT_EQ(::read(out, &first, 1), 1);  // head -c1
    ::close(out);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(sim.stop(), 0);
    FlashImage flash;
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(dump, flash.span())));
    const std::span<const std::uint8_t, 128> block(flash.bytes.data() + 0x7C00, 128);
    ASSERT_TRUE(has_loader_layout(block));
    EXPECT_EQ(decode_wait_count(block, 0), 2'666'667u);
}


TEST(Cli, MonitorShowsWhatTheDeviceSendsAndSendsWhatIsTyped) {
    testing::PtyPair board;  // the test is the device: it writes on the master side
    QProcess p;
    p.setProcessEnvironment(cli_environment({}, {}, Waits::AsShipped));  // the line's pauses are the subject
    p.start(QStringLiteral(ZARVIK_CLI_BINARY), {"-p", QString::fromStdString(board.path()), "monitor", "9600"});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray err;
    while (!err.contains("Ctrl-C") && p.state() == QProcess::Running) {
        p.waitForReadyRead(50);
        err += p.readAllStandardError();
    }
    EXPECT_NE(err.indexOf("9600"), -1) << err.toStdString();
    // A line is shown once the device pauses for 50 ms, not when a full buffer's read
    // time-out of 12.8 s has run out: the bound leaves a busy machine seconds to spare.
    QElapsedTimer shown;
    shown.start();
    board.send("Zarvik blink demo\r\n");
    QByteArray out;
    while (!out.contains("demo\r\n") && p.state() == QProcess::Running) {
        p.waitForReadyRead(50);
        out += p.readAllStandardOutput();
    }
    EXPECT_EQ(out, "Zarvik blink demo\r\n");
    EXPECT_LT(shown.elapsed(), 6000) << "the monitor waited for a full buffer instead of the line's pause";
    // What is typed reaches the device.
    p.write("x?");
    p.waitForBytesWritten(5000);  // no event loop here to send it otherwise
    std::string typed;
    for (int i = 0; i < 100 && typed.size() < 2; ++i) {
        pollfd ready{board.master(), POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0) continue;
        char c[8];
        const ssize_t n = ::read(board.master(), c, sizeof c);
        if (n > 0) typed.append(c, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(typed, "x?");
    ASSERT_GT(p.processId(), 0);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);  // Ctrl-C is how a terminal ends
    SteadyClock clock;
    SerialPort again(clock);
    EXPECT_TRUE(again.open(board.path()));  // restored and closed
}

TEST(Cli, APortWithoutPermissionSaysWhichGroupToJoin) {
    // The port belongs to the dialout group, as serial adapters do on Debian; the CLI
    // runs as a user outside it. Only root can set that up.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no dialout group";
    testing::PtyPair port;
    ASSERT_EQ(::chown(port.path().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(port.path().c_str(), 0660), 0);
    QProcess p;
    p.setProcessEnvironment(cli_environment());
    p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", ZARVIK_CLI_BINARY, "-p",
                        QString::fromStdString(port.path()), "connect"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 3);
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_NE(err.find("нет прав на порт"), std::string::npos) << err;
    EXPECT_NE(err.find("sudo usermod -aG dialout $USER"), std::string::npos) << err;
}

TEST(Cli, WritesAtTheLowestSpeed) {
    // At 4800 baud a block and its command take 275 ms on the wire, longer than an
    // acknowledgement is awaited: the wait must count from when the bytes have left.
    // That count is pinned down on a simulated clock in the serial port's tests; here
    // the whole road runs at that speed, with a busy machine's margin.
    testing::SimProcess sim({"--model", "ATmega328", "--wire"});
    const CliRun r = cli({"-p", sim.path(), "-b", "4800", "write", "eeprom", ZARVIK_BLINK_EEP});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("EEPROM записан правильно!"), std::string::npos) << r.out;
}

TEST(Cli, WriteAloneReplacesAnotherProgramAndTakesElf) {
    const QString other = QStringLiteral(ZARVIK_WITH_DATA ".hex");
    struct Case { QStringList args; int code; QStringList board = {}; };
    for (const Case& c : {Case{{"write", "flash", ZARVIK_BLINK_ELF, "write", "eeprom", ZARVIK_BLINK_ELF}, 0},
                          Case{{"write", "flash", ZARVIK_BLINK_HEX}, 0},
                          Case{{"--erase", "all", "write", "flash", ZARVIK_BLINK_HEX}, 0},
                          Case{{"--protocol", "plain", "write", "flash", ZARVIK_BLINK_HEX}, 0},
                          // Trusting blank pages that are not: the plain road's `F` only clears bits.
                          Case{{"--erase", "none", "write", "flash", ZARVIK_BLINK_HEX}, 1, {"--plain-loader"}},
                          // Our loader's frames erase what they program.
                          Case{{"--erase", "none", "write", "flash", ZARVIK_BLINK_HEX}, 0}}) {
        testing::SimProcess sim(QStringList{"--model", "ATmega328", "--flash", other} + c.board);
        const CliRun r = cli(QStringList{"-p", sim.path()} + c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString() << "\n" << r.out << r.err;
        if (c.code == 0) {
            EXPECT_NE(r.out.find("flash записан правильно!"), std::string::npos) << r.out;
        }
    }
}

TEST(Cli, SpeaksEnglishWhenAskedOrWhenTheSystemDoes) {
    const QStringList wrong_chip{"--simulate=ATmega8", "-m", "ATmega328", "erase", "flash"};
    struct Case { QStringList args; QString lang; const char* says; };
    for (const Case& c : {Case{QStringList{"--lang", "en"} + wrong_chip, "ru_RU.UTF-8", "The device is an ATmega8/88"},
                          Case{wrong_chip, "en_GB.UTF-8", "The device is an ATmega8/88"},
                          Case{wrong_chip, "ru_RU.UTF-8", "Подключён ATmega8/88"},
                          Case{QStringList{"--lang=ru"} + wrong_chip, "en_US.UTF-8", "Подключён ATmega8/88"},
                          Case{{"--lang", "en", "--simulate", "start"}, {}, "Program started."},
                          Case{{"--help"}, "ru_RU.UTF-8", "Команды выполняются по порядку"},
                          Case{{"--help"}, "en_US.UTF-8", "Commands, run in the order given"}}) {
        const CliRun r = cli(c.args, {}, c.lang);
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.args.join(' ').toStdString() << "\n" << r.out << r.err;
    }
}

TEST(Cli, InterruptRestoresAndClosesThePort) {
    // Ctrl-C and SIGTERM are told apart from a lost line and from each other. The read
    // runs on real line time at the lowest speed (8 KB, some 17 s), so the signal always
    // lands while it is under way, however late a busy machine delivers it.
    testing::TempDir dir;
    struct Case { int signal; int code; const char* says; };
    for (const Case& c : {Case{SIGINT, 130, "Ctrl-C"}, Case{SIGTERM, 143, "SIGTERM"}, Case{SIGHUP, 129, "SIGHUP"}}) {
        testing::SimProcess sim({"--model", "ATmega8", "--wire"});
        ASSERT_TRUE(sim.ready()) << sim.failure();
        QProcess p;
        p.setProcessEnvironment(cli_environment());
        p.start(QStringLiteral(ZARVIK_CLI_BINARY),
                on(sim, {"-b", "4800", "--json", "read", "flash", QString::fromStdString(dir.file("flash.hex"))}));
        ASSERT_TRUE(p.waitForStarted());
        while (!p.readAllStandardOutput().contains("progress") && p.state() == QProcess::Running) p.waitForReadyRead(100);
        ASSERT_GT(p.processId(), 0);
        ::kill(static_cast<pid_t>(p.processId()), c.signal);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), c.code);
        const QByteArray err = p.readAllStandardError();
        EXPECT_NE(err.indexOf(c.says), -1) << err.toStdString();
        EXPECT_EQ(err.indexOf("Связь с портом потеряна"), -1) << err.toStdString();
        SteadyClock clock;
        SerialPort again(clock);
        EXPECT_TRUE(again.open(sim.path_string()));  // closed and unlocked
    }
}

}  // namespace
}  // namespace zarvik
