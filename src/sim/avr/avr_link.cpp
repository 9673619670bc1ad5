#include "sim/avr/avr_link.h"

#include <algorithm>

namespace zarvik {

AvrLink::AvrLink(AvrBoard& board, int baud, ReadTimeouts timeouts, std::int64_t latency_ms)
    : board_(board), timeouts_(timeouts),
      adapter_(static_cast<std::int64_t>(static_cast<std::uint64_t>(latency_ms) * board.frequency() / 1000)) {
    board_.set_host_baud(baud);
}

std::uint64_t AvrLink::at_ms(std::int64_t ms) const {
    return board_.cycle() + static_cast<std::uint64_t>(std::max<std::int64_t>(ms, 0)) * board_.frequency() / 1000;
}

std::int64_t AvrLink::now_us() const {
    return static_cast<std::int64_t>(board_.cycle() * 1'000'000 / board_.frequency());
}

std::int64_t AvrLink::now_ms() { return now_us() / 1000; }

void AvrLink::sleep_ms(std::int64_t ms) { board_.run_until(at_ms(ms)); }

bool AvrLink::write(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) board_.host_send(b);
    return true;
}

ReadResult AvrLink::read(std::span<std::uint8_t> into) {
    if (adapter_.enabled()) return read_through_adapter(into);
    const std::uint64_t total_deadline = at_ms(timeouts_.total_for(into.size()));
    auto& sent = board_.sent();
    std::size_t count = 0;
    std::uint64_t last = 0;
    while (count < into.size()) {
        std::uint64_t deadline = total_deadline;
        if (count > 0) deadline = std::min(deadline, last + at_ms(timeouts_.interval_ms) - board_.cycle());
        while (sent.empty() && board_.cycle() < deadline) board_.run_until(deadline, true);
        if (sent.empty() || sent.front().done_cycle > deadline) {
            board_.run_until(deadline);
            return ReadResult{count, false};
        }
        const auto next = sent.front();
        sent.pop_front();
        board_.run_until(next.done_cycle);
        into[count++] = next.byte;
        last = board_.cycle();
    }
    return ReadResult{count, false};
}

void AvrLink::feed_adapter() {
    auto& sent = board_.sent();
    while (!sent.empty()) {
        adapter_.arrive(static_cast<std::int64_t>(sent.front().done_cycle), sent.front().byte);
        sent.pop_front();
    }
}

ReadResult AvrLink::read_through_adapter(std::span<std::uint8_t> into) {
    const std::uint64_t total_deadline = at_ms(timeouts_.total_for(into.size()));
    std::size_t count = 0;
    std::uint64_t last = 0;
    while (count < into.size()) {
        std::uint64_t deadline = total_deadline;
        if (count > 0) deadline = std::min(deadline, last + at_ms(timeouts_.interval_ms) - board_.cycle());
        while (ready_.empty()) {
            feed_adapter();
            const auto due = adapter_.due();
            const std::uint64_t now = board_.cycle();
            if (due && static_cast<std::uint64_t>(*due) <= now) {
                for (std::uint8_t b : adapter_.take_due(static_cast<std::int64_t>(now))) ready_.push_back(b);
                continue;
            }
            if (now >= deadline) break;
            // A byte the chip starts meanwhile may fill a packet and bring the delivery
            // forward.
            board_.run_until(due ? std::min(static_cast<std::uint64_t>(*due), deadline) : deadline, true);
        }
        if (ready_.empty()) return ReadResult{count, false};
        into[count++] = ready_.front();
        ready_.pop_front();
        last = board_.cycle();
    }
    return ReadResult{count, false};
}

void AvrLink::discard_input() {
    if (adapter_.enabled()) {
        feed_adapter();
        adapter_.take_due(static_cast<std::int64_t>(board_.cycle()));
        ready_.clear();
        return;
    }
    auto& sent = board_.sent();
    while (!sent.empty() && sent.front().done_cycle <= board_.cycle()) sent.pop_front();
}

}  // namespace zarvik
