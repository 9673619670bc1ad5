#pragma once

// The line set-up of the Windows port as pure functions, so that what the port asks
// of the driver is checked in unit tests: Wine, where the tests run, rounds some of
// the loader's speeds to the nearest one it knows, so the wire cannot show them.
#if defined(_WIN32)

#include <windows.h>

namespace zarvik::win {

// The whole line, whatever the driver or the program before held: the speed, 8 data
// bits, no parity, one stop bit, binary, no XON/XOFF either way, no CTS or DSR flow
// control, DSR ignored, DTR and RTS held inactive, no byte replaced or dropped, and no
// error that aborts every later read until it is cleared. A flow control or parity
// left behind by another program would swallow or change the loader's binary bytes.
// The XON/XOFF characters and limits are kept: with XON/XOFF off they are unused, and
// some drivers refuse a DCB whose two characters are equal.
void apply_loader_line(DCB& dcb, int baud);

// All five time-outs 50 ms: a read of N bytes ends after 50 + 50 x N ms, or 50 ms
// after a byte with no further one.
COMMTIMEOUTS loader_timeouts();

}  // namespace zarvik::win

#endif
