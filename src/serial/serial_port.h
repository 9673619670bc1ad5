#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/byte_link.h"
#include "link/cancellation.h"
#include "link/clock.h"

namespace zarvik {

// The ten line speeds the loader is used at, in the order the window lists them.
inline constexpr int kLineSpeeds[] = {4800, 9600, 19200, 38400, 76800, 100000, 115200, 125000, 230400, 250000};

// A real serial port as the loader's byte link: exclusive open, 8N1 without flow
// control, DTR and RTS inactive, reads bounded by the link's time-outs from the moment
// the port is open. Closing puts back the line settings the port had before it opened.
//
// One implementation per platform (serial_posix.cpp, serial_win.cpp), no Qt, so the
// command line ships without it. Names are what the user types: COM3 or \\.\COM12 on
// Windows; ttyUSB0 (meaning /dev/ttyUSB0) or a full path elsewhere.
class SerialPort final : public ByteLink {
public:
    explicit SerialPort(Clock& clock, ReadTimeouts timeouts = {});
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool open(const std::string& name);
    void close();
    bool is_open() const;
    const std::string& name() const { return name_; }
    // Why the last open or speed failed, naming the port: "Не удалось открыть порт COM5: ...".
    const std::string& error_text() const { return error_; }

    // Speed and line format, then the speed read back from the driver; false, with
    // error_text() naming both speeds, when the driver refuses the speed or runs the
    // line at another one (Wine sets some of the loader's speeds as 38400).
    bool set_speed(int baud);
    // Pulses DTR for boards whose reset follows it; false where the port has no DTR.
    bool pulse_dtr(std::int64_t ms = 50);

    // Makes waits give up early, reported as interrupted, once a stop is requested
    // (Ctrl-C) and no hold delays it.
    void set_cancellation(const Cancellation* cancel) { cancel_ = cancel; }

    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult read(std::span<std::uint8_t> into) override;
    void discard_input() override;

    struct Native;

private:
    bool stop_requested() const { return cancel_ != nullptr && cancel_->requested(); }
    // A stop has been asked for, but a hold defers it: the exchange under way must end.
    bool stop_deferred() const { return cancel_ != nullptr && cancel_->pending() && cancel_->held(); }

    std::unique_ptr<Native> native_;
    std::string name_;
    std::string error_;
    Clock& clock_;
    ReadTimeouts timeouts_;
    const Cancellation* cancel_ = nullptr;
};

// The path the system opens for a port's name: on Windows \\.\COM12 for COM12; elsewhere
// /dev/ttyUSB0 for a bare ttyUSB0, and the name itself when it holds a '/' (./b1,
// /dev/serial/by-id/...).
std::string port_path(const std::string& name);
// Whether two names reach one device: the same path once symbolic links are followed
// (/dev/serial/by-id/... and the tty it points to), or COM3 and \\.\com3 on Windows.
bool same_port(const std::string& a, const std::string& b);

// The sentence every front end shows when a port does not open.
std::string port_open_failure(const std::string& name, const std::string& why);

// Two environment variables lengthen the port's time-outs by their milliseconds (at
// most ten minutes each): the wait for every answer to begin, and the pause after a
// byte that ends an answer. For a line slower than a serial adapter (a port forwarded
// over a network, which also pauses inside an answer), and for tests whose boards run
// in other processes on a busy machine. Unset, they change nothing.
inline constexpr const char* kExtraWaitVariable = "ZARVIK_EXTRA_WAIT_MS";
inline constexpr const char* kExtraGapVariable = "ZARVIK_EXTRA_GAP_MS";
ReadTimeouts with_extra_wait(ReadTimeouts timeouts);

// Whether a port asked for `asked` baud that reports `actual` runs at that speed: within
// 2 %, so that the host's error and the chip's own (2.1 % at 115200 from 16 MHz) stay
// inside the 4.5 % a UART tolerates. A driver may report the rate it really made.
bool runs_at_speed(int asked, int actual);
// Why a speed was not taken; `actual` 0 when the driver refused it outright.
std::string speed_failure(const std::string& name, int asked, int actual);

// How long `bytes` take on the line at `baud`, ten bits a byte, rounded up.
std::int64_t line_time_ms(std::size_t bytes, int baud);

}  // namespace zarvik
