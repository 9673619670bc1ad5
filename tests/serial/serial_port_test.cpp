#include "serial/serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "serial/port_scan.h"
#include "serial/posix_line.h"
#include "sim/pty_termios.h"
#include "support/pty_pair.h"

namespace zarvik {
namespace {

using testing::PtyPair;

TEST(SerialPort, OpensExclusively) {
    PtyPair pty;
    SteadyClock clock;
    SerialPort first(clock);
    ASSERT_TRUE(first.open(pty.path())) << first.error_text();
    SerialPort second(clock);
    EXPECT_FALSE(second.open(pty.path()));
    EXPECT_FALSE(probe_serial_port(pty.path()));
    first.close();
    EXPECT_TRUE(second.open(pty.path()));
}

TEST(SerialPort, AppliesEachSpeedExactlyWith8N1AndRestoresOnClose) {
    PtyPair pty;
    termios before{};
    ::tcgetattr(pty.master(), &before);
    ::cfsetspeed(&before, B9600);
    before.c_cflag |= CSTOPB;
    ::tcsetattr(pty.master(), TCSANOW, &before);

    SteadyClock clock;
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    for (int baud : kLineSpeeds) {
        EXPECT_TRUE(port.set_speed(baud)) << baud;
        PtyLineSettings line;
        ASSERT_TRUE(read_pty_line_settings(pty.master(), line));
        EXPECT_EQ(line.baud, baud);
        EXPECT_EQ(line.data_bits, 8) << baud;
        EXPECT_FALSE(line.two_stop_bits) << baud;
        EXPECT_FALSE(line.parity) << baud;
        EXPECT_FALSE(line.hardware_flow) << baud;
        EXPECT_FALSE(line.software_flow) << baud;
    }
    port.close();
    PtyLineSettings after;
    ASSERT_TRUE(read_pty_line_settings(pty.master(), after));
    EXPECT_EQ(after.baud, 9600);
    EXPECT_TRUE(after.two_stop_bits);
}

TEST(SerialPort, ReadsEndAtTheirTimeOutsWithOrWithoutASpeed) {
    PtyPair pty;
    SteadyClock clock;
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    std::array<std::uint8_t, 4> ack{};

    auto t0 = clock.now_ms();
    EXPECT_EQ(port.read(ack).count, 0u);  // no speed chosen yet: still bounded
    EXPECT_GE(clock.now_ms() - t0, 250);

    port.set_speed(115200);
    pty.send("OK");
    t0 = clock.now_ms();
    const ReadResult partial = port.read(ack);
    EXPECT_EQ(partial.count, 2u);
    EXPECT_FALSE(partial.line_lost);
    EXPECT_GE(clock.now_ms() - t0, 50);
    EXPECT_EQ(ack[0], 'O');

    pty.send("ABCD");
    EXPECT_EQ(port.read(ack).count, 4u);
    pty.send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.discard_input();
    EXPECT_EQ(port.read(std::span(ack).first(1)).count, 0u);
}

TEST(SerialPort, VanishedLineFailsAtOnce) {
    PtyPair pty;
    SteadyClock clock;
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    port.set_speed(115200);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.close_master();
    });
    std::array<std::uint8_t, 128> block{};
    const ReadResult r = port.read(block);  // would wait 6450 ms on a silent line
    unplug.join();
    EXPECT_TRUE(r.line_lost);
    const std::uint8_t packet[4] = {'A', 0, 0, 0};
    EXPECT_FALSE(port.write(packet));
}

TEST(SerialPort, AStopRequestEndsAWaitingReadUnlessAHoldDefersIt) {
    PtyPair pty;
    SteadyClock clock;
    SerialPort port(clock);
    Cancellation cancel;
    port.set_cancellation(&cancel);
    ASSERT_TRUE(port.open(pty.path()));
    port.set_speed(115200);

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancel.request();
    });
    std::array<std::uint8_t, 128> block{};
    const ReadResult stopped = port.read(block);  // would wait 6450 ms on a silent line
    stopper.join();
    EXPECT_TRUE(stopped.interrupted);
    EXPECT_FALSE(stopped.line_lost);
    EXPECT_EQ(stopped.count, 0u);

    // While a hold is in place the read runs to its own time-out.
    {
        CancellationHold hold(&cancel);
        std::array<std::uint8_t, 1> one{};
        const ReadResult held = port.read(one);
        EXPECT_FALSE(held.interrupted);
        EXPECT_FALSE(held.line_lost);
        EXPECT_EQ(held.count, 0u);
    }
    EXPECT_TRUE(port.read(std::span(block).first(4)).interrupted);
}

TEST(SerialPort, LowLatencyIsAskedForQuietlyWhereTheDriverHasNone) {
    // A pseudo-terminal has no serial settings to give: the request is skipped, the
    // port opens and works, and closing puts nothing back that was not changed.
    PtyPair pty;
    const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    posix_line::Saved saved;
    posix_line::ask_low_latency(fd, saved);
    EXPECT_EQ(saved.low_latency, -1);
    ::close(fd);
    SteadyClock clock;
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path())) << port.error_text();
    ASSERT_TRUE(port.set_speed(115200)) << port.error_text();
    EXPECT_TRUE(port.error_text().empty());
    pty.send("OK");
    std::array<std::uint8_t, 2> got{};
    EXPECT_EQ(port.read(got).count, 2u);
}

TEST(PortScan, KeepsWhatOpensAndSortsAsText) {
    PtyPair a, b;
    SteadyClock clock;
    SerialPort held(clock);
    ASSERT_TRUE(held.open(b.path()));
    const std::string pa = a.path();
    const std::vector<std::string> found = scan_serial_ports({pa, b.path(), "/dev/zarvik-no-such-port"});
    EXPECT_EQ(found, std::vector<std::string>{pa});
    EXPECT_EQ(scan_serial_ports({"/dev/pts/999999", pa}), std::vector<std::string>{pa});
}

}  // namespace
}  // namespace zarvik
