#pragma once

// The line set-up of the Windows port as pure functions, so that what the port asks
// of the driver is checked in unit tests: Wine, where the tests run, rounds some of
// the loader's speeds to the nearest one it knows, so the wire cannot show them.
#if defined(_WIN32)

#include <windows.h>

namespace zarvik::w32 {

// Speed, 8 data bits, one stop bit, no parity checking, no CTS flow control, DTR and
// RTS held inactive, DSR ignored. Exactly bits 1, 2, 4, 5, 6, 12 and 13 of the flag
// word are cleared; every other field keeps what the driver holds.
void apply_loader_line(DCB& dcb, int baud);

// All five time-outs 50 ms: a read of N bytes ends after 50 + 50 x N ms, or 50 ms
// after a byte with no further one.
COMMTIMEOUTS loader_timeouts();

}  // namespace zarvik::w32

#endif
