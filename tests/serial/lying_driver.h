#pragma once

namespace zarvik::testing {

// The serial driver as the port layer sees it through ioctl, made to read back
// `baud` as the line's speed whatever was set (0: the driver's own answer), as a
// driver does that takes a speed it cannot make and runs at a near one. Linux only.
void driver_reads_back_speed(int baud);

}  // namespace zarvik::testing
