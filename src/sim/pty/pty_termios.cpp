// Kept apart: <asm/termbits.h> (termios2, for exact speeds) cannot share a unit with <termios.h>.
#include "sim/pty/pty_termios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zarvik {

bool read_pty_line_settings(int master_fd, PtyLineSettings& out) {
    struct termios2 t {};
    if (::ioctl(master_fd, TCGETS2, &t) != 0) return false;
    out.baud = static_cast<int>(t.c_ospeed);
    switch (t.c_cflag & CSIZE) {
        case CS5: out.data_bits = 5; break;
        case CS6: out.data_bits = 6; break;
        case CS7: out.data_bits = 7; break;
        default: out.data_bits = 8; break;
    }
    out.two_stop_bits = (t.c_cflag & CSTOPB) != 0;
    out.parity = (t.c_cflag & PARENB) != 0;
    out.hardware_flow = (t.c_cflag & CRTSCTS) != 0;
    out.software_flow = (t.c_iflag & (IXON | IXOFF)) != 0;
    return true;
}

}  // namespace zarvik
