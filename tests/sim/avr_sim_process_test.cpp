// zarvik-avr-sim as a user runs it: the real core in its own process, held to wall
// time, its UART on a pseudo-terminal that the host opens like a serial adapter.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <utility>
#include <variant>

#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
#include "support/busy_machine.h"
#include "support/hex_image.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::load_hex_image;

// Starts zarvik-avr-sim with `args`; the terminal it serves, or "" when it names none.
QString start_board(QProcess& sim, const QStringList& args) {
    sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
    sim.setArguments(args);
    sim.start();
    if (!sim.waitForStarted(10000)) return {};
    const QDeadlineTimer started(30000);
    while (!sim.canReadLine() && sim.state() == QProcess::Running && !started.hasExpired()) sim.waitForReadyRead(100);
    return QString::fromUtf8(sim.readLine()).trimmed();
}

// zarvik-cli's environment beside a board held to wall time in its own process: on a
// busy machine it falls behind, also in the middle of an answer, and the program waits
// accordingly.
QProcessEnvironment paced_board_environment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kExtraWaitVariable, QString::number(testing::kBusyMachineExtraWaitMs));
    env.insert(kExtraGapVariable, QString::number(testing::kBusyMachineExtraGapMs));
    return env;
}

TEST(AvrSimProcess, WritesStartsAndHearsTheExampleOverAPseudoTerminal) {
    testing::TempDir dir;
    const std::string dump = dir.file("flash-dump.hex");
    QProcess sim;
    sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
    sim.setArguments({"--model", "ATmega328", "--dump-flash", QString::fromStdString(dump)});
    sim.start();
    ASSERT_TRUE(sim.waitForStarted(10000));
    const QDeadlineTimer started(30000);
    while (!sim.canReadLine() && sim.state() == QProcess::Running && !started.hasExpired()) sim.waitForReadyRead(100);
    const QString path = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(path.startsWith("/dev/pts/")) << path.toStdString();

    SteadyClock clock;
    // The board runs on wall time in another process; on a machine busy with other
    // work it can be descheduled for longer than the port's usual 250 ms, which is
    // not what this test is about. The host here waits longer.
    SerialPort port(clock, testing::patient_timeouts_for_a_paced_board());
    ASSERT_TRUE(port.open(path.toStdString()));
    ASSERT_TRUE(port.set_speed(115200));
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, port, clock);
    programmer.set_model(*find_device_model("ATmega328"));
    ASSERT_EQ(programmer.connect(), HandshakeOutcome::Connected);
    const auto written = programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX);
    EXPECT_TRUE(written.ok()) << status_text(written);
    const auto data = programmer.write(MemoryKind::Eeprom, ZARVIK_BLINK_EEP);
    EXPECT_TRUE(data.ok()) << status_text(data);
    ASSERT_TRUE(programmer.start_program());
    std::array<std::uint8_t, 19> greeting{};
    const auto got = port.read(greeting);
    EXPECT_EQ(std::string(greeting.begin(), greeting.begin() + static_cast<std::ptrdiff_t>(got.count)),
              "Zarvik blink demo\r\n");
    port.close();

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 0);
    const auto program = load_hex_image(ZARVIK_BLINK_HEX, 0x7C00);
    const auto dumped = load_hex_image(dump, 0x8000);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), dumped.begin()));
}

// The command line against the board, as a user drives it: write and start the
// example, which never listens to the line; the loader is gone until the reset
// button (SIGUSR1), after which the program can be replaced.
TEST(AvrSimProcess, CommandLineStartsTheProgramAndReachesTheLoaderAfterAReset) {
    QProcess sim;
    const QString path = start_board(sim, {"--model", "ATmega168"});
    ASSERT_FALSE(path.isEmpty());
    const QString blink = QStringLiteral(ZARVIK_BLINK_MODELS_DIR "/blink-atmega168.hex");
    auto cli = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(paced_board_environment());
        p.start(QStringLiteral(ZARVIK_CLI_BINARY), QStringList{"-p", path, "-m", "ATmega168", "-q"} + args);
        p.waitForFinished(60000);
        return std::make_pair(p.exitCode(), p.readAllStandardError().toStdString());
    };
    // The loader listens at 115200 baud (117 647 on a 16 MHz chip): a host at 9600
    // sends it noise and gets no answer.
    EXPECT_EQ(cli({"-b", "9600", "connect"}).first, 3);
    // The loader waits one second after a reset as built; a program started on a busy
    // machine can take longer than that to send its first byte. Eight seconds, set here
    // by the host as a user would, leave it room.
    const auto written = cli({"write", "flash", blink, "configure", "16", "8", "start"});
    EXPECT_EQ(written.first, 0) << written.second;
    const auto gone = cli({"connect"});
    EXPECT_EQ(gone.first, 3) << gone.second;
    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
    const auto back = cli({"connect", "erase", "flash"});
    EXPECT_EQ(back.first, 0) << back.second;
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
}

// `--latency`: the answer to the second of two quick commands reaches the host no
// earlier than the latency after the first was delivered (a lower bound only, so
// that a busy machine cannot make it fail).
TEST(AvrSimProcess, LatencyTimerHoldsBackTheNextAnswer) {
    QProcess sim;
    sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
    sim.setArguments({"--model", "ATmega328", "--latency", "300"});
    sim.start();
    ASSERT_TRUE(sim.waitForStarted(10000));
    while (!sim.canReadLine() && sim.state() == QProcess::Running) sim.waitForReadyRead(100);
    const QString path = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_FALSE(path.isEmpty());
    SteadyClock clock;
    SerialPort port(clock, ReadTimeouts{2000, 500, 2000});
    ASSERT_TRUE(port.open(path.toStdString()));
    ASSERT_TRUE(port.set_speed(115200));
    const auto start = clock.now_ms();
    const std::array<std::uint8_t, 4> sync{'U', 'U', 'U', 'U'};
    const std::array<std::uint8_t, 4> address{'A', 0, 0, 0};
    std::array<std::uint8_t, 6> loader{};
    std::array<std::uint8_t, 4> ack{};
    ASSERT_TRUE(port.write(sync));
    EXPECT_EQ(port.read(loader).count, 6u);
    ASSERT_TRUE(port.write(address));
    EXPECT_EQ(port.read(ack).count, 4u);
    EXPECT_EQ(std::string(ack.begin(), ack.end()), "OK\r\n");
    EXPECT_GE(clock.now_ms() - start, 300);
    port.close();
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
}

// A host that sends commands and never reads the answers fills the terminal: the
// board must still end when told. The line carries about 11.7 KB a second, so the
// terminal's buffer is full after some seconds of it.
TEST(AvrSimProcess, EndsOnSigtermWhileItsAnswersPileUpUnread) {
    QProcess sim;
    sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
    sim.setArguments({"--model", "ATmega328"});
    sim.start();
    ASSERT_TRUE(sim.waitForStarted(10000));
    while (!sim.canReadLine() && sim.state() == QProcess::Running) sim.waitForReadyRead(100);
    const std::string path = QString::fromUtf8(sim.readLine()).trimmed().toStdString();
    ASSERT_FALSE(path.empty());
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    const std::string sync = "UUUU";
    const std::string fetch("b\0\0\0", 4);
    ASSERT_EQ(::write(fd, sync.data(), sync.size()), 4);
    // Each fetch is answered with 128 bytes, 11 ms on the line.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (std::chrono::steady_clock::now() < end) {
        [[maybe_unused]] const auto written = ::write(fd, fetch.data(), fetch.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(11));
    }
    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(10000));
    ::close(fd);
    if (sim.state() != QProcess::NotRunning) {
        sim.kill();
        sim.waitForFinished(10000);
    }
}

// A program that never comes back to the loader, whatever it does: sends on the UART
// without end, stores through a pointer far past RAM, loops on itself, or is random
// bytes (as a new user tries the board). Started by the loader, it runs until the
// reset button (SIGUSR1) brings the loader back, which then answers; started again,
// it runs until SIGTERM, which ends the board with its memories dumped.
TEST(AvrSimProcess, ResetsAndEndsWithItsMemoriesWhateverTheProgramDoes) {
    testing::TempDir dir;
    std::vector<std::uint8_t> random(0x7000);
    std::mt19937 rng(20);
    for (auto& b : random) b = static_cast<std::uint8_t>(rng());
    const std::string random_hex = dir.file("random.hex");
    std::ofstream(random_hex, std::ios::binary) << to_intel_hex(random);
    for (const std::string& program : {std::string(ZARVIK_BUSY_PROGRAM_DIR "/busy_chatter.hex"),
                                      std::string(ZARVIK_BUSY_PROGRAM_DIR "/busy_wild_pointer.hex"),
                                      std::string(ZARVIK_BUSY_PROGRAM_DIR "/busy_tight_loop.hex"), random_hex}) {
        SCOPED_TRACE(program);
        const std::string flash_dump = dir.file("flash-dump.hex");
        const std::string eeprom_dump = dir.file("eeprom-dump.hex");
        std::filesystem::remove(flash_dump);
        std::filesystem::remove(eeprom_dump);
        QProcess sim;
        sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
        sim.setArguments({"--model", "ATmega328", "--flash", QString::fromStdString(program), "--dump-flash",
                          QString::fromStdString(flash_dump), "--dump-eeprom", QString::fromStdString(eeprom_dump)});
        sim.start();
        ASSERT_TRUE(sim.waitForStarted(10000));
        const QDeadlineTimer started(30000);
        while (!sim.canReadLine() && sim.state() == QProcess::Running && !started.hasExpired()) sim.waitForReadyRead(100);
        const QString path = QString::fromUtf8(sim.readLine()).trimmed();
        ASSERT_TRUE(path.startsWith("/dev/pts/")) << path.toStdString();

        SteadyClock clock;
        SerialPort port(clock, testing::patient_timeouts_for_a_paced_board());
        ASSERT_TRUE(port.open(path.toStdString()));
        ASSERT_TRUE(port.set_speed(115200));
        auto run_program = [&] {
            ProgrammerState state;
            Programmer programmer(state, port, clock);
            programmer.set_model(*find_device_model("ATmega328"));
            // What a program sent before the reset may still be arriving and garble the
            // first answer; the loader, once it has the sync, answers the next one.
            HandshakeOutcome connected = programmer.connect();
            for (int again = 0; again < 3 && connected != HandshakeOutcome::Connected; ++again) {
                connected = programmer.connect();
            }
            EXPECT_EQ(connected, HandshakeOutcome::Connected);
            EXPECT_TRUE(programmer.start_program());
            // Long enough for the program to be well under way on an idle machine;
            // on a busy one the board's signals are still what is tested.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        };
        run_program();
        ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
        run_program();
        port.close();
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(10000));
        EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
        const auto expected = load_hex_image(program, 0x7C00);
        const auto dumped = load_hex_image(flash_dump, 0x8000);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dumped.begin()));
        EXPECT_TRUE(std::filesystem::exists(eeprom_dump));
    }
}

// --repeat on the real core: a board reset 0.3, 0.5 and 1 s after its program started is
// the next board, and is programmed each time.
TEST(AvrSimProcess, RepeatProgramsTheBoardEachTimeItIsResetSoonAfterItsProgramStarted) {
    testing::TempDir dir;
    QProcess sim;
    const QString path = start_board(sim, {"--model", "ATmega328"});
    ASSERT_FALSE(path.isEmpty());
    const QProcessEnvironment env = paced_board_environment();
    // Each probe for the next board may wait the busy machine's time for its answer: the
    // loader's wait after a reset, one second as built, is set longer, as a line would.
    QProcess setup;
    setup.setProcessEnvironment(env);
    setup.start(QStringLiteral(ZARVIK_CLI_BINARY), {"-p", path, "-q", "configure", "16", "8", "start"});
    ASSERT_TRUE(setup.waitForFinished(60000));
    ASSERT_EQ(setup.exitCode(), 0) << setup.readAllStandardError().toStdString();
    const QString log = QString::fromStdString(dir.file("log.jsonl"));
    QProcess line;
    line.setProcessEnvironment(env);
    line.start(QStringLiteral(ZARVIK_CLI_BINARY),
               {"-p", path, "--repeat", "--json", "--log", log, "write", "flash", ZARVIK_BLINK_HEX, "start"});
    std::string seen;
    auto saw = [&](const std::string& text, std::size_t times) {
        const QDeadlineTimer deadline(120000);
        auto count = [&] {
            std::size_t n = 0;
            for (std::size_t at = seen.find(text); at != std::string::npos; at = seen.find(text, at + 1)) ++n;
            return n;
        };
        while (count() < times && !deadline.hasExpired()) {
            if (line.waitForReadyRead(100)) seen += line.readAllStandardOutput().toStdString();
        }
        return count() >= times;
    };
    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);  // the first board
    std::size_t boards = 1;
    for (const int after_ms : {300, 500, 1000}) {
        ASSERT_TRUE(saw("\"operation\":\"start\"", boards)) << seen;
        std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
        ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
        ++boards;
    }
    ASSERT_TRUE(saw("\"event\":\"verdict\"", boards)) << seen;
    ::kill(static_cast<pid_t>(line.processId()), SIGINT);
    ASSERT_TRUE(line.waitForFinished(60000));
    EXPECT_EQ(line.exitCode(), 0);
    seen += line.readAllStandardOutput().toStdString();
    EXPECT_NE(seen.find("\"event\":\"summary\",\"passed\":4,\"failed\":0"), std::string::npos) << seen;
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
}

}  // namespace
}  // namespace zarvik
