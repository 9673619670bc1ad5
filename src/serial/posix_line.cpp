#include "serial/posix_line.h"

#include <sys/ioctl.h>

#include <cstring>

#if defined(__linux__)
#include <asm/termbits.h>
#include <linux/serial.h>
#else
#include <termios.h>
#endif
#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>
#endif

namespace zarvik::posix_line {

#if defined(__linux__)
using Line = struct termios2;
static bool get(int fd, Line& t) { return ::ioctl(fd, TCGETS2, &t) == 0; }
static bool set(int fd, const Line& t) { return ::ioctl(fd, TCSETS2, &t) == 0; }
#else
using Line = struct termios;
static bool get(int fd, Line& t) { return ::tcgetattr(fd, &t) == 0; }
static bool set(int fd, const Line& t) { return ::tcsetattr(fd, TCSANOW, &t) == 0; }
#endif
static_assert(sizeof(Line) <= sizeof(Saved::bytes));

bool save(int fd, Saved& out) {
    Line t{};
    out.valid = get(fd, t);
    if (out.valid) std::memcpy(out.bytes, &t, sizeof t);
    return out.valid;
}

namespace {

#if defined(__linux__)
// Sets or clears ASYNC_LOW_LATENCY; the driver's previous setting, or -1 when it has
// no serial settings to give (a pseudo-terminal answers ENOTTY).
int set_low_latency(int fd, bool on) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return -1;
    const int before = (info.flags & ASYNC_LOW_LATENCY) != 0 ? 1 : 0;
    if (before != (on ? 1 : 0)) {
        info.flags = on ? (info.flags | ASYNC_LOW_LATENCY) : (info.flags & ~ASYNC_LOW_LATENCY);
        if (::ioctl(fd, TIOCSSERIAL, &info) != 0) return -1;
    }
    return before;
}
#endif

}  // namespace

void ask_low_latency(int fd, Saved& saved) {
#if defined(__linux__)
    saved.low_latency = set_low_latency(fd, true);
#else
    (void)fd;
    saved.low_latency = -1;
#endif
}

bool restore(int fd, const Saved& saved) {
#if defined(__linux__)
    if (saved.low_latency == 0) set_low_latency(fd, false);
#endif
    if (!saved.valid) return false;
    Line t{};
    std::memcpy(&t, saved.bytes, sizeof t);
    return set(fd, t);
}

int speed(int fd) {
    Line t{};
    if (!get(fd, t)) return 0;
#if defined(__linux__)
    return static_cast<int>(t.c_ospeed);
#elif defined(__APPLE__)
    // IOSSIOSPEED leaves the termios speed as it was: there is nothing to read back.
    (void)t;
    return 0;
#else
    return static_cast<int>(::cfgetospeed(&t));
#endif
}

namespace {

void make_raw(Line& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                                        INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

}  // namespace

bool configure(int fd, int baud) {
    Line t{};
    if (!get(fd, t)) return false;
    make_raw(t);
    if (baud <= 0) return set(fd, t);
#if defined(__linux__)
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return set(fd, t);
#elif defined(__APPLE__)
    if (!set(fd, t)) return false;
    speed_t speed = static_cast<speed_t>(baud);
    return ::ioctl(fd, IOSSIOSPEED, &speed) == 0;
#else
    // BSDs take the speed as a number.
    ::cfsetspeed(&t, static_cast<speed_t>(baud));
    return set(fd, t);
#endif
}

}  // namespace zarvik::posix_line
