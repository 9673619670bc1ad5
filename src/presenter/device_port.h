#pragma once

#include <memory>
#include <string>

#include "link/byte_link.h"
#include "link/cancellation.h"
#include "link/clock.h"

namespace zarvik {

// The port the presenter opens on its device thread: a real serial port in the
// windows, an in-process simulated board in the presenter's tests.
class DevicePort : public ByteLink {
public:
    // False when it cannot be opened; error_text() then says why, naming the port.
    virtual bool open(const std::string& name) = 0;
    // Puts back the line settings the port had; nothing when it is not open.
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // False when the driver refuses the speed.
    virtual bool set_speed(int baud) = 0;
    // Raises DTR for a moment and lowers it again: a board whose reset follows DTR
    // restarts its loader. False where the port has no DTR line.
    virtual bool pulse_dtr() = 0;
    virtual std::string error_text() const = 0;
    // Waits give up early once a stop is requested and no hold delays it.
    virtual void set_cancellation(const Cancellation* cancel) = 0;
};

// The system's serial port behind DevicePort (src/serial), for the windows.
std::unique_ptr<DevicePort> make_serial_device_port(Clock& clock);

}  // namespace zarvik
