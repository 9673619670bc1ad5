// zarvik-sim as a process: it must end when told, also when nobody reads its answers.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zarvik
