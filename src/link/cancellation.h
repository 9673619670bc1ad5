#pragma once

#include <atomic>

namespace zarvik {

// What a hold guards, and so how long a stop (or closing the window) has to wait for it.
enum class HoldKind {
    // The loader's own first block, from its first programming command until it reads
    // back right: cut short there, the board is left without a loader. A window refuses
    // to close meanwhile.
    LoaderBlock,
    // Frames already sent whose answers are still to come (at most a few): the loader
    // takes every frame that reached it and the host must learn which, so a stop waits
    // for those answers and no longer.
    FramesInFlight,
};

// A request to stop the operation under way, made from a signal handler, a console
// control handler or the window's thread, and honoured between transactions (and by
// a port's blocking read). Only lock-free atomics, so a signal handler may call
// `request`.
//
// A hold marks a span that must not be cut short: while any is held, `requested` reads
// false and the request waits until the last hold is released.
class Cancellation {
public:
    void request() noexcept { requested_.store(true); }
    void clear() noexcept { requested_.store(false); }
    bool requested() const noexcept { return requested_.load() && !held(); }
    // Asked for, whether or not a hold delays it.
    bool pending() const noexcept { return requested_.load(); }
    bool held() const noexcept { return held(HoldKind::LoaderBlock) || held(HoldKind::FramesInFlight); }
    bool held(HoldKind kind) const noexcept { return count(kind).load() > 0; }
    void hold(HoldKind kind) noexcept { count(kind).fetch_add(1); }
    void release(HoldKind kind) noexcept { count(kind).fetch_sub(1); }

private:
    std::atomic<int>& count(HoldKind kind) noexcept { return holds_[kind == HoldKind::LoaderBlock ? 0 : 1]; }
    const std::atomic<int>& count(HoldKind kind) const noexcept {
        return holds_[kind == HoldKind::LoaderBlock ? 0 : 1];
    }

    std::atomic<bool> requested_{false};
    std::atomic<int> holds_[2]{};  // by kind: the loader's block, frames in flight
};

class CancellationHold {
public:
    // A hold that does not say what it guards is taken for the loader's block: refusing
    // to close for a moment too long is the harmless mistake.
    explicit CancellationHold(Cancellation* c, HoldKind kind = HoldKind::LoaderBlock) : c_(c), kind_(kind) {
        if (c_) c_->hold(kind_);
    }
    ~CancellationHold() {
        if (c_) c_->release(kind_);
    }
    CancellationHold(const CancellationHold&) = delete;
    CancellationHold& operator=(const CancellationHold&) = delete;

private:
    Cancellation* c_;
    HoldKind kind_;
};

}  // namespace zarvik
