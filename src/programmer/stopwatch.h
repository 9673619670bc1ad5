#pragma once

#include <cstdint>

#include "link/clock.h"

namespace zarvik {

// Times device traffic only, from the first command to the last answer.
class Stopwatch {
public:
    explicit Stopwatch(Clock& clock) : clock_(clock), start_(clock.now_ms()) {}
    std::int64_t elapsed() const { return clock_.now_ms() - start_; }

private:
    Clock& clock_;
    std::int64_t start_;
};

}  // namespace zarvik
