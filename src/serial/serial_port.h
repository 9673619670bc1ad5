#pragma once

#include <QSerialPort>
#include <QString>

#include "loader/byte_link.h"
#include "loader/cancellation.h"
#include "loader/clock.h"

namespace zarvik {

// The ten line speeds the loader is used at, in the order the window lists them.
inline constexpr int kLineSpeeds[] = {4800, 9600, 19200, 38400, 76800, 100000, 115200, 125000, 230400, 250000};

// A real serial port as the loader's byte link: exclusive open, 8N1 without flow
// control, DTR and RTS inactive, reads bounded by the link's time-outs from the moment
// the port is open. Closing puts back the line settings the port had before.
class SerialPort final : public ByteLink {
public:
    explicit SerialPort(Clock& clock, ReadTimeouts timeouts = {});
    ~SerialPort() override;

    bool open(const QString& name);
    void close();
    bool is_open() const { return port_.isOpen(); }
    QString name() const { return name_; }
    QString error_text() const { return port_.errorString(); }

    // Speed and line format; false when the driver refuses them.
    bool set_speed(int baud);
    // Pulses DTR for boards whose reset follows it; false where the port has no DTR.
    bool pulse_dtr(std::int64_t ms = 50);

    // Makes waits give up early, reported as interrupted, once a stop is requested
    // (Ctrl-C) and no hold delays it.
    void set_cancellation(const Cancellation* cancel) { cancel_ = cancel; }

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> into) override;
    void discard_input() override;

private:
    bool lost();

    QSerialPort port_;
    QString name_;
    Clock& clock_;
    ReadTimeouts timeouts_;
    const Cancellation* cancel_ = nullptr;
};

}  // namespace zarvik
