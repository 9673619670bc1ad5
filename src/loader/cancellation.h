#pragma once

#include <atomic>

namespace zarvik {

// A request to stop the operation under way, made from a signal handler, a console
// control handler or the window's thread, and honoured between transactions (and by
// a port's blocking read). Only lock-free atomics, so a signal handler may call
// `request`.
//
// A hold marks a span that must not be cut short, such as the moment between
// programming the loader's own first block and reading it back: while it is held,
// `requested` reads false and the request waits until the last hold is released.
class Cancellation {
public:
    void request() noexcept { requested_.store(true); }
    void clear() noexcept { requested_.store(false); }
    bool requested() const noexcept { return requested_.load() && holds_.load() == 0; }
    // Asked for, whether or not a hold delays it.
    bool pending() const noexcept { return requested_.load(); }
    bool held() const noexcept { return holds_.load() > 0; }
    void hold() noexcept { holds_.fetch_add(1); }
    void release() noexcept { holds_.fetch_sub(1); }

private:
    std::atomic<bool> requested_{false};
    std::atomic<int> holds_{0};
};

class CancellationHold {
public:
    explicit CancellationHold(Cancellation* c) : c_(c) {
        if (c_) c_->hold();
    }
    ~CancellationHold() {
        if (c_) c_->release();
    }
    CancellationHold(const CancellationHold&) = delete;
    CancellationHold& operator=(const CancellationHold&) = delete;

private:
    Cancellation* c_;
};

}  // namespace zarvik
