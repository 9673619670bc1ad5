#include "serial/serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_scan.h"
#include "serial/posix_line.h"
#include "sim/pty/pty_termios.h"
#include "support/busy_machine.h"
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

// Reads `into` until the first byte has come, however long the machine takes to carry
// it across the terminal; returns how many bytes that read took.
std::size_t read_once_arrived(SerialPort& port, std::span<std::uint8_t> into) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const ReadResult r = port.read(into);
        if (r.count > 0 || r.line_lost) return r.count;
    }
    return 0;
}

// The port counts its waits on the clock it is given: on a clock that moves one step
// each time it is read, a time-out ends within a step or two of its length, however
// long the machine takes between two looks.
constexpr std::int64_t kStep = 10;

TEST(SerialPort, ReadsEndAtTheirTimeOutsWithOrWithoutASpeed) {
    PtyPair pty;
    testing::TickingClock clock(kStep);
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    std::array<std::uint8_t, 4> ack{};

    // Nothing comes: 50 + 50 per byte, also before a speed was chosen.
    auto t0 = clock.peek();
    EXPECT_EQ(port.read(ack).count, 0u);
    EXPECT_GE(clock.peek() - t0, 250);
    EXPECT_LE(clock.peek() - t0, 250 + 3 * kStep);

    port.set_speed(115200);
    pty.send("OK");
    ASSERT_EQ(read_once_arrived(port, std::span(ack).first(1)), 1u);
    EXPECT_EQ(ack[0], 'O');
    // Part of an answer: it ends 50 ms after the last byte, long before its total.
    t0 = clock.peek();
    const ReadResult partial = port.read(std::span(ack).first(3));
    EXPECT_EQ(partial.count, 1u);
    EXPECT_FALSE(partial.line_lost);
    EXPECT_EQ(ack[0], 'K');
    EXPECT_GE(clock.peek() - t0, 50);
    EXPECT_LE(clock.peek() - t0, 50 + 3 * kStep);

    pty.send("ABCD");
    EXPECT_EQ(read_once_arrived(port, ack), 4u);
    pty.send("stale");
    ASSERT_EQ(read_once_arrived(port, std::span(ack).first(1)), 1u);  // it has come
    port.discard_input();
    EXPECT_EQ(port.read(std::span(ack).first(1)).count, 0u);
}

// The monitor reads one byte, then whatever follows it until the line pauses for 50 ms.
// Without that gap rule a read for a full buffer waits out its total, 12.8 s, before it
// shows a line the device sent at once.
TEST(SerialPort, AReadEndsFiftyMillisecondsAfterTheLastByteNotAtItsTotal) {
    PtyPair pty;
    testing::TickingClock clock(kStep);
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    ASSERT_TRUE(port.set_speed(9600));
    std::array<std::uint8_t, 256> buf{};
    pty.send("Zarvik blink demo\r\n");
    ASSERT_EQ(read_once_arrived(port, std::span(buf).first(1)), 1u);
    const auto t0 = clock.peek();
    const ReadResult rest = port.read(std::span(buf).subspan(1));
    const std::int64_t took = clock.peek() - t0;
    ASSERT_GT(rest.count, 0u);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(1 + rest.count)),
              std::string("Zarvik blink demo\r\n").substr(0, 1 + rest.count));
    EXPECT_GE(took, 50);
    EXPECT_LE(took, 50 + 3 * kStep) << "the read ran to its total of " << 50 + 50 * 255 << " ms";
}

// At 4800 baud a block and its command take 275 ms on the wire, longer than the 250 ms
// an acknowledgement is given: the wait starts when the bytes have left the line.
TEST(SerialPort, AnAnswerIsAwaitedFromWhenTheBytesHaveLeftTheLine) {
    PtyPair pty;
    testing::TickingClock clock(kStep);
    SerialPort port(clock);
    ASSERT_TRUE(port.open(pty.path()));
    ASSERT_TRUE(port.set_speed(4800));
    const std::vector<std::uint8_t> block(4 + 128, 0x42);
    const auto t0 = clock.peek();
    ASSERT_TRUE(port.write(block));
    std::array<std::uint8_t, 4> ack{};
    EXPECT_EQ(port.read(ack).count, 0u);
    const std::int64_t on_the_wire = (132 * 10'000 + 4799) / 4800;
    EXPECT_GE(clock.peek() - t0, on_the_wire + 250);
    EXPECT_LE(clock.peek() - t0, on_the_wire + 250 + 4 * kStep);
}

// ZARVIK_EXTRA_WAIT_MS lengthens the wait for an answer by its milliseconds, not the
// pause that ends one; anything but a number of milliseconds leaves the time-outs as
// they are.
TEST(SerialPort, TheExtraWaitVariableLengthensTheTimeOuts) {
    struct Case { const char* value; std::int64_t total; };
    for (const Case& c : {Case{"300", 550}, Case{"1", 251}, Case{"", 250}, Case{"abc", 250}, Case{"-5", 250},
                          Case{"20ms", 250}, Case{"0", 250}, Case{"600001", 250}}) {
        ::setenv(kExtraWaitVariable, c.value, 1);
        PtyPair pty;
        testing::TickingClock clock(kStep);
        SerialPort port(clock);
        ::unsetenv(kExtraWaitVariable);
        ASSERT_TRUE(port.open(pty.path()));
        std::array<std::uint8_t, 4> ack{};
        const auto t0 = clock.peek();
        EXPECT_EQ(port.read(ack).count, 0u);
        EXPECT_GE(clock.peek() - t0, c.total) << c.value;
        EXPECT_LE(clock.peek() - t0, c.total + 3 * kStep) << c.value;
    }
    ::setenv(kExtraWaitVariable, "300", 1);
    PtyPair pty;
    testing::TickingClock clock(kStep);
    SerialPort port(clock);
    ::unsetenv(kExtraWaitVariable);
    ASSERT_TRUE(port.open(pty.path()));
    std::array<std::uint8_t, 8> answer{};
    pty.send("OK");
    ASSERT_EQ(read_once_arrived(port, std::span(answer).first(1)), 1u);
    const auto t0 = clock.peek();
    EXPECT_EQ(port.read(answer).count, 1u);
    EXPECT_LE(clock.peek() - t0, 50 + 3 * kStep);  // the pause after the last byte is as before
}

// ZARVIK_EXTRA_GAP_MS lengthens that pause, and only that.
TEST(SerialPort, TheExtraGapVariableLengthensThePauseThatEndsAnAnswer) {
    ::setenv(kExtraGapVariable, "100", 1);
    PtyPair pty;
    testing::TickingClock clock(kStep);
    SerialPort port(clock);
    ::unsetenv(kExtraGapVariable);
    ASSERT_TRUE(port.open(pty.path()));
    std::array<std::uint8_t, 8> answer{};
    pty.send("OK");
    ASSERT_EQ(read_once_arrived(port, std::span(answer).first(1)), 1u);
    auto t0 = clock.peek();
    EXPECT_EQ(port.read(answer).count, 1u);
    EXPECT_GE(clock.peek() - t0, 150);
    EXPECT_LE(clock.peek() - t0, 150 + 3 * kStep);
    t0 = clock.peek();
    EXPECT_EQ(port.read(std::span(answer).first(4)).count, 0u);  // the wait to begin is as before
    EXPECT_GE(clock.peek() - t0, 250);
    EXPECT_LE(clock.peek() - t0, 250 + 3 * kStep);
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
