#include "serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

namespace zarvik {
namespace {

// Waits are sliced so that the injected clock, not Qt's timer, decides when a read
// has run out of time.
constexpr std::int64_t kWaitSliceMs = 10;

}  // namespace

SerialPort::SerialPort(Clock& clock, ReadTimeouts timeouts) : clock_(clock), timeouts_(timeouts) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const QString& name) {
    close();
    name_ = name;
    port_.setPortName(name);
    if (!port_.open(QIODevice::ReadWrite)) return false;
    // Keep the board out of reset: a freshly opened port raises DTR on many drivers.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    const int fd = static_cast<int>(port_.handle());
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void SerialPort::close() {
    if (port_.isOpen()) port_.close();
}

bool SerialPort::set_speed(int baud) {
    if (!port_.isOpen()) return false;
    bool ok = port_.setBaudRate(baud);
    ok = port_.setDataBits(QSerialPort::Data8) && ok;
    ok = port_.setStopBits(QSerialPort::OneStop) && ok;
    ok = port_.setParity(QSerialPort::NoParity) && ok;
    ok = port_.setFlowControl(QSerialPort::NoFlowControl) && ok;
    // A pseudo-terminal has no modem lines; that is no reason to refuse the speed.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    return ok;
}

bool SerialPort::pulse_dtr(std::int64_t ms) {
    if (!port_.isOpen()) return false;
    const bool raised = port_.setDataTerminalReady(true);
    clock_.sleep_ms(ms);
    const bool lowered = port_.setDataTerminalReady(false);
    port_.clearError();
    return raised && lowered;
}

bool SerialPort::lost() {
    // A pulled adapter or a closed pseudo-terminal hangs the line up; Qt may not say so
    // until much later, the descriptor does at once.
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    if (p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    const auto error = port_.error();
    return error == QSerialPort::ResourceError || error == QSerialPort::PermissionError ||
           error == QSerialPort::NotOpenError || error == QSerialPort::DeviceNotFoundError;
}

// Exchanges go straight to the descriptor: Qt's buffered writes and read notifications
// add a round of polling to every four-byte exchange, which at 250000 baud costs more
// than the bytes themselves. Anything Qt has already buffered is taken first, so bytes
// stay in order even when an event loop ran in between.
bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen() || lost()) return false;
    const int fd = static_cast<int>(port_.handle());
    const std::int64_t deadline = clock_.now_ms() + timeouts_.total_for(bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0 || (cancel_ != nullptr && cancel_->requested())) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(std::min(left, kWaitSliceMs)));
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
    }
    return true;
}

ReadResult SerialPort::read(std::span<std::uint8_t> into) {
    ReadResult result;
    if (!port_.isOpen()) return ReadResult{0, true};
    const int fd = static_cast<int>(port_.handle());
    const std::int64_t start = clock_.now_ms();
    const std::int64_t total_deadline = start + timeouts_.total_for(into.size());
    std::int64_t last_byte = start;
    if (port_.bytesAvailable() > 0) {
        const auto n = port_.read(reinterpret_cast<char*>(into.data()), static_cast<qint64>(into.size()));
        if (n > 0) result.count = static_cast<std::size_t>(n);
    }
    bool hung_up = false;
    while (result.count < into.size()) {
        const ssize_t n = ::read(fd, into.data() + result.count, into.size() - result.count);
        if (n > 0) {
            result.count += static_cast<std::size_t>(n);
            last_byte = clock_.now_ms();
            continue;
        }
        // A raw terminal returns 0 when nothing is there; a hung-up one fails with EIO
        // or shows POLLHUP below.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || (n == 0 && hung_up)) {
            result.line_lost = true;
            return result;
        }
        std::int64_t deadline = total_deadline;
        if (result.count > 0) deadline = std::min(deadline, last_byte + timeouts_.interval_ms);
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0) return result;
        if (cancel_ != nullptr && cancel_->requested()) {
            result.interrupted = true;
            return result;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min(left, kWaitSliceMs)));
        // Take what is still there first; the next empty read then ends the exchange.
        hung_up = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return result;
}

void SerialPort::discard_input() {
    if (!port_.isOpen()) return;
    port_.readAll();  // what Qt may have buffered
    const int fd = static_cast<int>(port_.handle());
    std::uint8_t sink[256];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}

}  // namespace zarvik
