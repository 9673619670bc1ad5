// The port layer calls the C library's ioctl; this program's own ioctl comes first
// and hands every request on, changing only the speed a TCGETS2 reads back.
#include "lying_driver.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdarg>

namespace {

std::atomic<int> g_speed{0};

using Ioctl = int (*)(int, unsigned long, ...);

}  // namespace

void zarvik::testing::driver_reads_back_speed(int baud) { g_speed.store(baud); }

extern "C" int ioctl(int fd, unsigned long request, ...) {
    static const auto next = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    const int result = next(fd, request, argument);
    const int speed = g_speed.load();
    if (result == 0 && request == TCGETS2 && speed != 0) {
        auto* line = static_cast<termios2*>(argument);
        line->c_ispeed = static_cast<speed_t>(speed);
        line->c_ospeed = static_cast<speed_t>(speed);
    }
    return result;
}
