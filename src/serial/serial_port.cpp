#include "serial/serial_port.h"

#include <poll.h>

#include <algorithm>

namespace zarvik {
namespace {

// Waits are sliced so that the injected clock, not Qt's timer, decides when a read
// has run out of time.
constexpr std::int64_t kWaitSliceMs = 10;

}  // namespace

bool is_line_speed(int baud) { return std::find(std::begin(kLineSpeeds), std::end(kLineSpeeds), baud) != std::end(kLineSpeeds); }

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

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!port_.isOpen() || lost()) return false;
    const auto written = port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) return false;
    const std::int64_t deadline = clock_.now_ms() + timeouts_.total_for(bytes.size());
    while (port_.bytesToWrite() > 0) {
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0) return false;
        if (!port_.waitForBytesWritten(static_cast<int>(std::min(left, kWaitSliceMs)))) {
            if (lost()) return false;
            port_.clearError();
        }
    }
    return true;
}

ReadResult SerialPort::read(std::span<std::uint8_t> into) {
    ReadResult result;
    if (!port_.isOpen()) return ReadResult{0, true};
    const std::int64_t start = clock_.now_ms();
    const std::int64_t total_deadline = start + timeouts_.total_for(into.size());
    std::int64_t last_byte = start;
    for (;;) {
        if (port_.bytesAvailable() > 0) {
            const auto n = port_.read(reinterpret_cast<char*>(into.data() + result.count),
                                      static_cast<qint64>(into.size() - result.count));
            if (n > 0) {
                result.count += static_cast<std::size_t>(n);
                last_byte = clock_.now_ms();
            }
        }
        if (result.count == into.size()) return result;
        if (lost()) {
            result.line_lost = true;
            return result;
        }
        std::int64_t deadline = total_deadline;
        if (result.count > 0) deadline = std::min(deadline, last_byte + timeouts_.interval_ms);
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0) return result;
        if (!port_.waitForReadyRead(static_cast<int>(std::min(left, kWaitSliceMs)))) {
            if (lost()) {
                result.line_lost = true;
                return result;
            }
            port_.clearError();
        }
    }
}

void SerialPort::discard_input() {
    if (!port_.isOpen()) return;
    port_.waitForReadyRead(0);  // let Qt take in what the driver holds
    port_.readAll();
    port_.clear(QSerialPort::Input);
    port_.clearError();
}

}  // namespace zarvik
