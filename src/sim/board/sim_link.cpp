#include "sim/board/sim_link.h"

#include <algorithm>

namespace zarvik {

SimLink::SimLink(SimLoader& loader, Clock& clock, int baud, ReadTimeouts timeouts)
    : loader_(loader), clock_(clock), baud_(baud), timeouts_(timeouts) {}

std::int64_t SimLink::byte_time_us() const { return baud_ > 0 ? (10'000'000LL + baud_ - 1) / baud_ : 0; }

void SimLink::sleep_until_us(std::int64_t t) {
    const std::int64_t now = now_us();
    if (t > now) clock_.sleep_ms((t - now + 999) / 1000);
}

bool SimLink::write(std::span<const std::uint8_t> bytes) {
    if (loader_.line_gone()) return false;
    const std::int64_t byte_us = byte_time_us();
    std::int64_t t = std::max(now_us(), tx_free_us_);
    SimLoader::Answer answer;
    for (std::uint8_t b : bytes) {
        t += byte_us;
        const bool due = loader_.receive(b, t, answer);
        if (answer.withdraw_last) {
            // The loader took back the answer it would have sent after a quiet line.
            for (; tentative_ > 0 && !pending_.empty(); --tentative_) pending_.pop_back();
        }
        tentative_ = 0;
        if (due) {
            std::int64_t at = std::max(t + answer.busy_us + loader_.extra_delay_us(), rx_free_us_);
            for (std::uint8_t out : answer.bytes) {
                at += byte_us;
                pending_.push_back({at, out});
            }
            if (answer.quiet_us > 0) tentative_ = answer.bytes.size();
            rx_free_us_ = at;
        }
        if (loader_.line_gone()) break;
    }
    tx_free_us_ = t;
    return !loader_.line_gone();
}

ReadResult SimLink::read(std::span<std::uint8_t> into) {
    const std::int64_t start = now_us();
    const std::int64_t total_deadline = start + timeouts_.total_for(into.size()) * 1000;
    std::size_t count = 0;
    std::int64_t last = 0;
    while (count < into.size()) {
        std::int64_t deadline = total_deadline;
        if (count > 0) deadline = std::min(deadline, last + timeouts_.interval_ms * 1000);
        if (pending_.empty() || pending_.front().arrival_us > deadline) {
            if (pending_.empty() && loader_.line_gone()) return ReadResult{count, true};
            sleep_until_us(deadline);
            loader_.advance(now_us());
            return ReadResult{count, false};
        }
        const Pending next = pending_.front();
        pending_.pop_front();
        into[count++] = next.byte;
        last = std::max(next.arrival_us, start);
    }
    sleep_until_us(last);
    loader_.advance(now_us());
    return ReadResult{count, false};
}

void SimLink::discard_input() {
    const std::int64_t now = now_us();
    while (!pending_.empty() && pending_.front().arrival_us <= now) pending_.pop_front();
}

}  // namespace zarvik
