#pragma once

namespace zarvik {

// What the far side of a pseudo-terminal has set, read on its master.
struct PtyLineSettings {
    int baud = 0;        // the exact speed, also for non-standard ones
    int data_bits = 0;
    bool two_stop_bits = false;
    bool parity = false;
    bool hardware_flow = false;
    bool software_flow = false;
};

bool read_pty_line_settings(int master_fd, PtyLineSettings& out);

}  // namespace zarvik
