#pragma once

#include <cstdint>

#include "link/byte_link.h"
#include "link/clock.h"

namespace zarvik::testing {

// The suite runs two tests at a time beside other work on a machine with two cores. A
// board in another process (zarvik-sim, zarvik-avr-sim) can then be kept off the CPU
// for longer than the 250 ms an acknowledgement is given, and the host would report a
// silent loader. Tests whose subject is not the time-outs give the host this much longer
// to wait, through the port's own time-outs or, for a program they start, through
// ZARVIK_EXTRA_WAIT_MS. It lengthens the wait for an answer to begin, not the 50 ms
// pause that ends one, so a loader that answers is not slowed down by it; only tests
// with a board that stays silent wait it out.
inline constexpr std::int64_t kBusyMachineExtraWaitMs = 3000;

inline ReadTimeouts patient_timeouts() {
    ReadTimeouts t;
    t.total_constant_ms += kBusyMachineExtraWaitMs;
    return t;
}

// zarvik-avr-sim sends an answer byte by byte as its core runs, held to wall time; kept
// off the CPU in the middle of an answer, it pauses longer than the 50 ms that end one.
// Tests against it allow this much more for that pause too (ZARVIK_EXTRA_GAP_MS), which
// makes every answer shorter than asked for end that much later.
inline constexpr std::int64_t kBusyMachineExtraGapMs = 2000;

inline ReadTimeouts patient_timeouts_for_a_paced_board() {
    ReadTimeouts t = patient_timeouts();
    t.interval_ms += kBusyMachineExtraGapMs;
    return t;
}

// Time that moves a fixed step each time the code looks at it, and by what it sleeps.
// A read's time-outs are then counted in the port's own steps, whatever the machine's
// load: both ends of a wait can be asserted, and a dropped time-out shows as a wait
// that runs to the next one.
class TickingClock final : public Clock {
public:
    explicit TickingClock(std::int64_t step_ms) : step_ms_(step_ms) {}
    std::int64_t now_ms() override { return now_ += step_ms_; }
    void sleep_ms(std::int64_t ms) override {
        if (ms > 0) now_ += ms;
    }
    // Where the clock stands, without moving it.
    std::int64_t peek() const { return now_; }

private:
    std::int64_t step_ms_;
    std::int64_t now_ = 0;
};

}  // namespace zarvik::testing
