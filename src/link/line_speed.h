#pragma once

namespace zarvik {

// A byte link whose speed can change while it is open: a serial port, or the host's
// side of a simulated line.
class LineSpeed {
public:
    virtual ~LineSpeed() = default;
    // Runs the line at exactly `baud` from now on; false when the port refuses that
    // speed or reads back another, and then the line keeps the speed it had.
    virtual bool set_baud(int baud) = 0;
};

}  // namespace zarvik
