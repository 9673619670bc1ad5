#pragma once

// Line settings that <termios.h> cannot express everywhere: speeds such as 76800 or
// 250000 need termios2 on Linux and IOSSIOSPEED on macOS. Kept in their own unit
// because Linux's <asm/termbits.h> cannot share one with <termios.h>.

#include <cstddef>

namespace zarvik::posix_line {

// Everything the driver holds for the line, kept opaque so that an exact speed the
// port had before it was opened is put back exactly.
struct Saved {
    alignas(8) unsigned char bytes[256];
    bool valid = false;
};

bool save(int fd, Saved& out);
bool restore(int fd, const Saved& saved);

// Raw 8N1 without flow control, reads that never block in the driver, the receiver
// on and modem-control lines ignored, at exactly `baud` (0 keeps the speed).
bool configure(int fd, int baud);

}  // namespace zarvik::posix_line
