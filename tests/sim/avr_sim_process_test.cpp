// zarvik-avr-sim as a user runs it: the real core in its own process, held to wall
// time, its UART on a pseudo-terminal that the host opens like a serial adapter.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <array>
#include <csignal>
#include <variant>

#include "memory/intel_hex_loader.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
#include "support/busy_machine.h"
#include "support/hex_image.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::load_hex_image;

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
    SerialPort port(clock, testing::patient_timeouts());
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
    sim.setProgram(QStringLiteral(ZARVIK_AVR_SIM_BINARY));
    sim.setArguments({"--model", "ATmega168"});
    sim.start();
    ASSERT_TRUE(sim.waitForStarted(10000));
    const QDeadlineTimer started(30000);
    while (!sim.canReadLine() && sim.state() == QProcess::Running && !started.hasExpired()) sim.waitForReadyRead(100);
    const QString path = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_FALSE(path.isEmpty());
    const QString blink = QStringLiteral(ZARVIK_BLINK_MODELS_DIR "/blink-atmega168.hex");
    auto cli = [&](const QStringList& args) {
        QProcess p;
        // The board is held to wall time in its own process; on a busy machine it falls
        // behind, and the program waits for its answers accordingly.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kExtraWaitVariable, QString::number(testing::kBusyMachineExtraWaitMs));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZARVIK_CLI_BINARY), QStringList{"-p", path, "-m", "ATmega168", "-q"} + args);
        p.waitForFinished(60000);
        return p.exitCode();
    };
    // The loader waits one second after a reset as built; a program started on a busy
    // machine can take longer than that to send its first byte. Eight seconds, set here
    // by the host as a user would, leave it room.
    EXPECT_EQ(cli({"write", "flash", blink, "configure", "16", "8", "start"}), 0);
    EXPECT_EQ(cli({"connect"}), 3);
    ::kill(static_cast<pid_t>(sim.processId()), SIGUSR1);
    EXPECT_EQ(cli({"connect", "erase", "flash"}), 0);
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
}

}  // namespace
}  // namespace zarvik
