#include "sim/pty/pty_server.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include "sim/board/usb_latency.h"
#include "sim/pty/pty_termios.h"

namespace zarvik {
namespace {

std::int64_t now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

PtyServer::PtyServer(SimLoader& loader, bool emulate_wire, std::int64_t latency_us)
    : loader_(loader), emulate_wire_(emulate_wire), latency_us_(latency_us) {}

bool PtyServer::open() {
    if (pty_.open()) return true;
    error_ = pty_.error();
    return false;
}

void PtyServer::serve(const std::atomic<bool>& stop, std::atomic<bool>* reset) {
    struct Scheduled {
        std::int64_t due_us;
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
    };
    std::deque<Scheduled> outgoing;
    std::int64_t rx_arrival_us = 0;  // when the host's last byte reached the chip
    std::int64_t tx_free_us = 0;     // when the chip's line to the host is idle again
    SimLoader::Answer answer;
    bool tentative = false;  // the last of `outgoing` is a hunt's sync answer, due after a quiet line
    std::uint8_t buf[512];
    LatencyBuffer adapter(latency_us_);

    while (!stop.load() && !loader_.line_gone()) {
        if (reset != nullptr && reset->exchange(false)) {
            // What the chip was about to send dies with it.
            loader_.press_reset();
            outgoing.clear();
            tentative = false;
        }
        const std::int64_t now = now_us();
        if (adapter.enabled()) {
            auto due = adapter.take_due(now);
            if (!due.empty()) outgoing.push_back({now, std::move(due)});
        }
        // With nobody reading, the terminal's buffer fills and the write would fail
        // with EAGAIN for good: what did not fit waits for POLLOUT below, so the loop
        // neither spins nor stops answering to a signal.
        bool blocked = false;
        while (!blocked && !outgoing.empty() && outgoing.front().due_us <= now) {
            Scheduled& front = outgoing.front();
            while (front.sent < front.bytes.size()) {
                const ssize_t n = ::write(pty_.master(), front.bytes.data() + front.sent, front.bytes.size() - front.sent);
                if (n > 0) {
                    front.sent += static_cast<std::size_t>(n);
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else if (n < 0 && errno == EAGAIN) {
                    blocked = true;
                    break;
                } else {
                    front.sent = front.bytes.size();  // the line is gone: the answer is lost
                }
            }
            if (!blocked) outgoing.pop_front();
        }
        std::int64_t wait_us = 20'000;
        if (!outgoing.empty()) wait_us = std::clamp<std::int64_t>(outgoing.front().due_us - now, 0, wait_us);
        if (const auto due = adapter.due()) wait_us = std::clamp<std::int64_t>(*due - now, 0, wait_us);
        // With the wire emulated, a timer wake-up comes tens of microseconds late; the
        // last stretch before an answer is due is polled instead, so that the host is
        // measured against the wire and not against the scheduler.
        constexpr std::int64_t kSpinUs = 300;
        if (emulate_wire_ && !outgoing.empty() && wait_us <= kSpinUs) wait_us = 0;
        else if (emulate_wire_ && !outgoing.empty()) wait_us -= kSpinUs;
        const short events = static_cast<short>(blocked ? (POLLIN | POLLOUT) : POLLIN);
        if (blocked) wait_us = 20'000;
        pollfd p{pty_.master(), events, 0};
        const timespec ts{static_cast<time_t>(wait_us / 1'000'000), static_cast<long>(wait_us % 1'000'000 * 1000)};
        if (::ppoll(&p, 1, &ts, nullptr) <= 0 || (p.revents & POLLIN) == 0) continue;
        const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
        if (n <= 0) continue;
        std::int64_t byte_us = 0;
        if (emulate_wire_) {
            PtyLineSettings line;
            if (read_pty_line_settings(pty_.master(), line) && line.baud > 0) byte_us = (10'000'000LL + line.baud - 1) / line.baud;
        }
        const std::int64_t received = now_us();
        for (ssize_t i = 0; i < n; ++i) {
            // Bytes written at once still cross the wire one after another.
            rx_arrival_us = std::max(received, rx_arrival_us) + byte_us;
            const bool due = loader_.receive(buf[i], rx_arrival_us, answer);
            if (answer.withdraw_last && tentative && !outgoing.empty() && outgoing.back().sent == 0) {
                // The loader took back the answer it would have sent after a quiet line.
                outgoing.pop_back();
            }
            tentative = false;
            if (!due) continue;
            // Behind an adapter's latency buffer an answer cannot be taken back; the
            // host never sends more before a sync's answer anyway.
            tentative = answer.quiet_us > 0 && !adapter.enabled();
            const std::int64_t start = std::max(rx_arrival_us + answer.busy_us + loader_.extra_delay_us(), tx_free_us);
            tx_free_us = start + byte_us * static_cast<std::int64_t>(answer.bytes.size());
            if (adapter.enabled()) {
                // Each byte reaches the adapter when it has crossed the wire.
                for (std::size_t k = 0; k < answer.bytes.size(); ++k) {
                    adapter.arrive(start + byte_us * static_cast<std::int64_t>(k + 1), answer.bytes[k]);
                }
            } else {
                outgoing.push_back({tx_free_us, answer.bytes});
            }
            if (loader_.line_gone()) break;
        }
    }
}

}  // namespace zarvik
