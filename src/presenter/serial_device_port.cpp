#include "presenter/device_port.h"

#include "serial/serial_port.h"

namespace zarvik {
namespace {

class SerialDevicePort final : public DevicePort {
public:
    explicit SerialDevicePort(Clock& clock) : port_(clock) {}
    bool open(const std::string& name) override { return port_.open(name); }
    void close() override { port_.close(); }
    bool is_open() const override { return port_.is_open(); }
    bool set_speed(int baud) override { return port_.set_speed(baud); }
    bool pulse_dtr() override { return port_.pulse_dtr(); }
    std::string error_text() const override { return port_.error_text(); }
    void set_cancellation(const Cancellation* cancel) override { port_.set_cancellation(cancel); }
    bool write(std::span<const std::uint8_t> bytes) override { return port_.write(bytes); }
    ReadResult read(std::span<std::uint8_t> into) override { return port_.read(into); }
    void discard_input() override { port_.discard_input(); }

private:
    SerialPort port_;
};

}  // namespace

std::unique_ptr<DevicePort> make_serial_device_port(Clock& clock) { return std::make_unique<SerialDevicePort>(clock); }

}  // namespace zarvik
