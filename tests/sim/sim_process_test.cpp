// zarvik-sim as a process: it must end when told, also when nobody reads its answers.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>

#include <chrono>
#include <string>

#include "support/sim_process.h"

namespace zarvik {
namespace {

TEST(SimProcess, EndsOnSigtermWhileItsAnswersPileUpUnread) {
    testing::SimProcess sim({"--model", "ATmega328"});
    ASSERT_FALSE(sim.path().isEmpty());
    const int fd = ::open(sim.path_string().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    // Each `b` is answered with 128 bytes; 400 of them overfill the terminal's buffer.
    std::string fetches;
    for (int i = 0; i < 400; ++i) fetches += std::string("b\0\0\0", 4);
    ASSERT_EQ(::write(fd, fetches.data(), fetches.size()), static_cast<ssize_t>(fetches.size()));
    ::usleep(300'000);  // let it try to answer into the full buffer
    EXPECT_TRUE(sim.stop_within(10'000));
    ::close(fd);
}

// Opens the board's terminal raw and exchanges a command for an answer of `answer`
// bytes, reading until it has them all or 10 s have passed.
std::string exchange(int fd, const std::string& command, std::size_t answer) {
    EXPECT_EQ(::write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
    std::string got;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buf[256];
    while (got.size() < answer && std::chrono::steady_clock::now() < give_up) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

int open_raw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 1;
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// `--latency`: the second of two quick answers reaches the host no earlier than the
// latency after the first was delivered. Only a lower bound is checked, so a busy
// machine cannot make it fail.
TEST(SimProcess, LatencyTimerHoldsBackTheNextAnswer) {
    testing::SimProcess sim({"--model", "ATmega328", "--latency", "300"});
    ASSERT_FALSE(sim.path().isEmpty());
    const int fd = open_raw(sim.path_string());
    ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(fd, "UUUU", 6), "Loader");
    EXPECT_EQ(exchange(fd, std::string("A\0\0\0", 4), 4), "OK\r\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    ::close(fd);
    EXPECT_TRUE(sim.stop_within(10'000));
}

// The help in the language asked for, as every program gives it, naming the signal that
// presses the reset button.
TEST(SimProcess, HelpSpeaksTheLanguageAskedForAndNamesTheResetSignal) {
    struct Case {
        const char* lang;
        const char* says;
    };
    for (const Case& c : {Case{"ru", "SIGUSR1 нажимает кнопку сброса"}, Case{"en", "SIGUSR1 presses the reset button"}}) {
        QProcess sim;
        sim.start(QStringLiteral(ZARVIK_SIM_BINARY), {"--lang", c.lang, "--help"});
        ASSERT_TRUE(sim.waitForFinished(30000));
        EXPECT_EQ(sim.exitCode(), 0) << c.lang;
        const std::string help = sim.readAllStandardOutput().toStdString();
        EXPECT_NE(help.find(c.says), std::string::npos) << c.lang << "\n" << help;
        EXPECT_NE(help.find("--lang"), std::string::npos) << c.lang;
    }
}

}  // namespace
}  // namespace zarvik
