#include "sim/pty/board_pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zarvik {

BoardPty::~BoardPty() {
    if (keepalive_ >= 0) ::close(keepalive_);
    if (master_ >= 0) ::close(master_);
}

bool BoardPty::open() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    path_ = name;
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    keepalive_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

}  // namespace zarvik
