#pragma once

#include <cstdint>

namespace zarvik {

// Milliseconds and sleeps behind one seam, so tests run the protocol's waits and
// time-outs on a fake clock instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t now_ms() = 0;
    virtual void sleep_ms(std::int64_t ms) = 0;
};

class SteadyClock final : public Clock {
public:
    std::int64_t now_ms() override;
    void sleep_ms(std::int64_t ms) override;
};

// Time moves only when someone sleeps.
class FakeClock final : public Clock {
public:
    std::int64_t now_ms() override { return now_; }
    void sleep_ms(std::int64_t ms) override {
        if (ms > 0) now_ += ms;
    }

private:
    std::int64_t now_ = 0;
};

}  // namespace zarvik
