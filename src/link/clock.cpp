#include "link/clock.h"

#include <chrono>
#include <thread>

namespace zarvik {

std::int64_t SteadyClock::now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::sleep_ms(std::int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace zarvik
