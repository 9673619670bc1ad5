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
    // Whether the driver had low latency on before we asked for it; -1 when it does
    // not offer the setting (pseudo-terminals, most USB drivers outside Linux).
    int low_latency = -1;
};

bool save(int fd, Saved& out);
bool restore(int fd, const Saved& saved);

// Raw 8N1 without flow control, reads that never block in the driver, the receiver
// on and modem-control lines ignored, at exactly `baud` (0 keeps the speed).
bool configure(int fd, int baud);

// The speed the line runs at, as the driver reports it after configure(); 0 when it
// cannot say (then the speed asked for is taken as set).
int speed(int fd);

// Asks the driver to hand each received byte on at once rather than on its latency
// timer (Linux: ASYNC_LOW_LATENCY through TIOCSSERIAL). Quietly nothing where the
// driver does not offer it. What the driver had is kept in `saved` for restore().
void ask_low_latency(int fd, Saved& saved);

}  // namespace zarvik::posix_line
