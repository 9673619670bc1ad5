#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace zarvik {

// How a USB serial adapter hands what the chip sent to the host: the bytes gather in
// its buffer and go out together when its latency timer has run since the last
// delivery, or at once when a packet's worth has gathered. Short answers therefore
// wait, long ones stream. Times are in any one unit, given in order.
class LatencyBuffer {
public:
    // 64-byte USB packets, two of which the adapter spends on its line status.
    static constexpr std::size_t kPacketBytes = 62;

    explicit LatencyBuffer(std::int64_t latency) : latency_(latency) {}
    bool enabled() const { return latency_ > 0; }

    // A byte that reached the adapter at `t`.
    void arrive(std::int64_t t, std::uint8_t byte) { waiting_.push_back({t, byte}); }

    // When the next delivery happens, as far as the bytes that arrived so far tell.
    std::optional<std::int64_t> due() const {
        if (waiting_.empty()) return std::nullopt;
        return next_delivery().at;
    }

    // The bytes delivered by `now`, in order; each delivery restarts the timer.
    std::vector<std::uint8_t> take_due(std::int64_t now) {
        std::vector<std::uint8_t> out;
        while (!waiting_.empty()) {
            const Delivery d = next_delivery();
            if (d.at > now) break;
            for (std::size_t i = 0; i < d.count; ++i) out.push_back(waiting_[i].byte);
            waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(d.count));
            last_delivery_ = d.at;
        }
        return out;
    }

private:
    struct Waiting {
        std::int64_t t;
        std::uint8_t byte;
    };
    struct Delivery {
        std::int64_t at;
        std::size_t count;
    };

    Delivery next_delivery() const {
        const std::int64_t timer = last_delivery_ ? *last_delivery_ + latency_ : waiting_.front().t;
        const std::int64_t at = std::max(waiting_.front().t, timer);
        if (waiting_.size() >= kPacketBytes && waiting_[kPacketBytes - 1].t <= at) {
            return {waiting_[kPacketBytes - 1].t, kPacketBytes};
        }
        std::size_t count = 0;
        while (count < waiting_.size() && waiting_[count].t <= at) ++count;
        return {at, count};
    }

    std::int64_t latency_;
    std::optional<std::int64_t> last_delivery_;
    std::deque<Waiting> waiting_;
};

}  // namespace zarvik
