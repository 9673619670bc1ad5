#include "loader/loader_session.h"

#include "loader/speed_choice.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace zarvik {
namespace {

SessionGreeting greeting_from(const std::array<std::uint8_t, kGreetingSize>& bytes) {
    return SessionGreeting{bytes[0], bytes[1], load_le32(bytes.data() + 2)};
}

bool same_greeting(const SessionGreeting& a, const SessionGreeting& b) {
    return a.version == b.version && a.page_words == b.page_words && a.clock_hz == b.clock_hz;
}

constexpr std::size_t kHeader = 4;
constexpr std::size_t kCheckBytes = 4;

TransactionFailure wrong_answer(std::uint8_t letter, std::uint32_t address, std::size_t expected, std::uint32_t status) {
    TransactionFailure f{letter, address, expected, expected};
    f.wrong_answer = true;
    f.status = status;
    return f;
}

}  // namespace

ReadResult LoaderSession::read_within(std::span<std::uint8_t> into, std::int64_t budget_ms) {
    const std::int64_t deadline = clock_.now_ms() + budget_ms;
    ReadResult total;
    // Each read ends by the link's own time-outs; an answer that comes only when the
    // chip is done is awaited across several, up to the budget.
    for (int reads = 0; total.count < into.size(); ++reads) {
        const std::int64_t before = clock_.now_ms();
        const ReadResult got = link_.read(into.subspan(total.count));
        total.count += got.count;
        total.line_lost = got.line_lost;
        total.interrupted = got.interrupted;
        if (got.line_lost || got.interrupted || total.count == into.size()) break;
        const std::int64_t now = clock_.now_ms();
        // A link whose read returns at once and empty (no time passes) must not spin.
        if (now >= deadline || (got.count == 0 && now == before && reads > 1000)) break;
    }
    return total;
}

TransactionResult LoaderSession::fail(TransactionFailure failure) {
    lose_step();
    return failure;
}

TransactionResult LoaderSession::answer(std::uint8_t letter, std::uint32_t address, std::span<std::uint8_t> into,
                                        std::int64_t budget_ms, bool up_to) {
    const std::size_t expected = kHeader + into.size() + kCheckBytes;
    std::array<std::uint8_t, kHeader + kMaxFrameData + kCheckBytes> frame{};
    ReadResult got = read_within(std::span(frame).first(kHeader), budget_ms);
    if (got.count != kHeader) return fail(short_answer(letter, address, expected, got));
    if (frame[0] != letter) return fail(wrong_answer(letter, address, expected, kOtherLetter | frame[0]));
    if (frame[2] != address_high(address) || frame[3] != address_low(address)) {
        // Above 0xFF, so that it is never taken for a status.
        return fail(wrong_answer(letter, address, expected, kOtherAddress | static_cast<std::uint32_t>(frame[2] << 8 | frame[3])));
    }
    const std::size_t len = frame[1];
    // Any other length is not an answer this host can read by count.
    if (up_to ? len > into.size() : len != into.size()) {
        return fail(wrong_answer(letter, address, expected, kOtherLetter | static_cast<std::uint32_t>(len)));
    }
    got = read_within(std::span(frame).subspan(kHeader, len + kCheckBytes), kAnswerMarginMs);
    if (got.count != len + kCheckBytes) {
        return fail(short_answer(letter, address, expected, ReadResult{kHeader + got.count, got.line_lost, got.interrupted}));
    }
    if (crc32(std::span(frame).first(kHeader + len)) != load_le32(frame.data() + kHeader + len)) {
        TransactionFailure f = wrong_answer(letter, address, expected, 0);
        f.bad_check = true;
        return fail(f);
    }
    std::copy_n(frame.begin() + kHeader, len, into.begin());
    note_exchange();
    return std::nullopt;
}


TransactionResult LoaderSession::exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> into,
                                          std::int64_t budget_ms) {
    const std::uint8_t letter = request[0];
    const auto address = static_cast<std::uint32_t>(request[2] << 8 | request[3]);
    if (auto failure = ready(address)) return failure;
    if (!link_.write(request)) return fail(TransactionFailure{letter, address, 0, 0, true});
    return answer(letter, address, into, budget_ms);
}

bool LoaderSession::idle() const { return clock_.now_ms() - last_exchange_ms_ > kSessionIdleMs; }

TransactionResult LoaderSession::ready(std::uint32_t address) {
    // A loader left alone for half a second has hunted (or is about to): the sync finds
    // it either way, and the session is opened afresh. A pause is never a failure.
    if (open_ && !needs_resync_ && idle()) {
        open_ = false;
        needs_resync_ = true;
    }
    if (needs_resync_) {
        if (auto failure = resync()) {
            failure->address = address;
            return failure;
        }
    }
    if (open_) return std::nullopt;
    if (auto failure = open(page_words_, loader_start_)) {
        // The opening failed on the way to the command: the failure names its address.
        failure->address = address;
        return failure;
    }
    return std::nullopt;
}

TransactionResult LoaderSession::open(std::uint8_t page_words, std::uint32_t loader_start) {
    page_words_ = page_words;
    loader_start_ = loader_start;
    if (open_ && !needs_resync_ && idle()) needs_resync_ = true;
    if (needs_resync_) {
        if (auto failure = resync()) return failure;
    }
    const std::uint32_t at = loader_start + kGreetingOffset;
    std::array<std::uint8_t, kGreetingSize> greeting{};
    if (auto failure = greet(greeting)) return failure;
    greeting_ = greeting_from(greeting);
    if (!is_session_version(greeting_.version) || greeting_.page_words != page_words) {
        return fail(wrong_answer(session_command::kOpen, at, kHeader + kGreetingSize + kCheckBytes,
                                 static_cast<std::uint32_t>(greeting_.version << 8 | greeting_.page_words)));
    }
    open_ = true;
    if (greeting_.version == kSpeedSwitchProtocolVersion && port_ != nullptr && speed_ == base_baud_ && refused_speed_ == 0) {
        return switch_speed();
    }
    return std::nullopt;
}

TransactionResult LoaderSession::greet(std::array<std::uint8_t, kGreetingSize>& into) {
    const std::uint32_t at = loader_start_ + kGreetingOffset;
    if (!link_.write(count_frame(session_command::kOpen, kGreetingSize, at))) {
        return fail(TransactionFailure{session_command::kOpen, at, 0, 0, true});
    }
    return answer(session_command::kOpen, at, into, kAnswerMarginMs);
}

TransactionResult LoaderSession::switch_speed() {
    std::array<int, std::size(kFastLineSpeeds)> offers{};
    const std::size_t n = speeds_to_offer(greeting_.clock_hz, base_baud_, max_baud_, offers);
    for (std::size_t i = 0; i < n; ++i) {
        const int baud = offers[i];
        // Only a speed the port sets and reads back is asked for.
        const bool port_takes_it = port_->set_baud(baud);
        port_->set_baud(base_baud_);
        if (!port_takes_it) continue;
        const std::uint16_t divisor = *divisor_for(greeting_.clock_hz, baud);
        asked_speed_ = true;
        if (!link_.write(count_frame(session_command::kSpeed, 0, divisor))) {
            return fail(TransactionFailure{session_command::kSpeed, divisor, 0, 0, true});
        }
        std::array<std::uint8_t, 0> none{};
        TransactionResult failure = answer(session_command::kSpeed, divisor, none, kAnswerMarginMs);
        if (!failure) {
            // The ping at the new speed: the loader must answer there as it did.
            std::array<std::uint8_t, kGreetingSize> again{};
            if (!port_->set_baud(baud)) {
                failure = TransactionFailure{session_command::kOpen, loader_start_ + kGreetingOffset, 0, 0, false};
            } else {
                speed_ = baud;
                failure = greet(again);
                if (!failure && !same_greeting(greeting_from(again), greeting_)) {
                    failure = TransactionFailure{session_command::kOpen, loader_start_ + kGreetingOffset, 0, 0, false};
                }
            }
        }
        if (!failure) {
            asked_speed_ = false;
            return std::nullopt;
        }
        if (failure->line_lost || failure->interrupted) return fail(*failure);
        // The line refused the speed: back to the base one, and on there.
        refused_speed_ = baud;
        open_ = false;
        needs_resync_ = true;
        return open(page_words_, loader_start_);
    }
    return std::nullopt;
}

TransactionResult LoaderSession::checks(std::uint32_t address, std::span<std::uint32_t> checks) {
    std::array<std::uint8_t, std::size_t{4} * kChecksPerFrame> bytes{};
    for (std::size_t done = 0; done < checks.size();) {
        const std::size_t n = std::min<std::size_t>(kChecksPerFrame, checks.size() - done);
        const std::uint32_t at = address + static_cast<std::uint32_t>(done) * kCheckUnit;
        // The loader computes every check before its answer begins: about 1 ms a unit.
        const auto request = count_frame(session_command::kFlashChecks, static_cast<std::uint8_t>(n), at);
        if (auto failure = exchange(request, std::span(bytes).first(4 * n), kAnswerMarginMs + static_cast<std::int64_t>(n) * 2)) {
            return failure;
        }
        for (std::size_t i = 0; i < n; ++i) checks[done + i] = load_le32(bytes.data() + 4 * i);
        done += n;
    }
    return std::nullopt;
}

TransactionResult LoaderSession::read(MemoryKind memory, std::uint32_t address, std::span<std::uint8_t> into) {
    const std::uint8_t letter = memory == MemoryKind::Flash ? session_command::kReadFlash : session_command::kReadEeprom;
    for (std::size_t done = 0; done < into.size();) {
        const std::size_t n = std::min(kMaxFrameData, into.size() - done);
        const std::uint32_t at = address + static_cast<std::uint32_t>(done);
        const auto request = count_frame(letter, static_cast<std::uint8_t>(n), at);
        if (auto failure = exchange(request, into.subspan(done, n), kAnswerMarginMs)) return failure;
        done += n;
    }
    return std::nullopt;
}

TransactionResult LoaderSession::write_eeprom(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, kMaxFrameData> held{};
    const auto now_held = std::span(held).first(data.size());
    const std::int64_t budget = kAnswerMarginMs + kEepromByteWaitMs * static_cast<std::int64_t>(data.size());
    const auto request = session_frame(session_command::kWriteEeprom, address, data);
    if (auto failure = exchange(request, now_held, budget)) return failure;
    // What the EEPROM holds now, not only that the frame arrived.
    if (!std::equal(data.begin(), data.end(), now_held.begin())) {
        return fail(wrong_answer(session_command::kWriteEeprom, address, kHeader + data.size() + kCheckBytes,
                                 crc32(now_held)));
    }
    return std::nullopt;
}

bool LoaderSession::send_frame(std::span<const std::uint8_t> frame) {
    if (link_.write(frame)) {
        note_exchange();
        return true;
    }
    lose_step();
    return false;
}

TransactionResult LoaderSession::frame_answer(std::uint32_t address, std::uint32_t& programmed, std::int64_t budget_ms) {
    std::array<std::uint8_t, kCheckBytes> check{};
    if (auto failure = answer(session_command::kPageProgram, address, check, budget_ms)) return failure;
    programmed = load_le32(check.data());
    return std::nullopt;
}

TransactionResult LoaderSession::program_loader_block(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block) {
    const auto request = session_frame(session_command::kLoaderBlock, address, block);
    if (auto failure = ready(address)) return failure;
    if (!link_.write(request)) return fail(TransactionFailure{session_command::kLoaderBlock, address, 0, 0, true});
    // What the answer carries depends on how far the guard got; only the read-back that
    // follows tells what the block holds.
    std::array<std::uint8_t, kLoaderBlock> ignored{};
    return answer(session_command::kLoaderBlock, address, ignored, kAnswerMarginMs + 2 * kFlashWriteWaitMs, true);
}

TransactionResult LoaderSession::end() {
    if (!open_ && !needs_resync_) return std::nullopt;
    if (!needs_resync_) {
        // Inside a session a `U` where a frame would start begins a sync, answered at once.
        if (!link_.write(kSyncPacket)) return fail(TransactionFailure{command::kSync, 0, 0, 0, true});
        std::array<std::uint8_t, 6> reply{};
        const ReadResult got = read_within(reply, kAnswerMarginMs);
        if (got.count == reply.size() && is_session_sync_reply(reply)) {
            open_ = false;
            note_exchange();
            // The loader answered at the session's speed and is at its base one now.
            if (port_ != nullptr && speed_ != base_baud_) {
                port_->set_baud(base_baud_);
                speed_ = base_baud_;
            }
            return std::nullopt;
        }
        if (got.line_lost || got.interrupted) return fail(short_answer(command::kSync, 0, reply.size(), got));
        lose_step();
    }
    return resync();
}

TransactionResult LoaderSession::resync() {
    open_ = false;
    needs_resync_ = true;
    const bool burst = may_be_fast();
    if (burst) {
        port_->set_baud(base_baud_);
        speed_ = base_baud_;
    }
    // Frames sent ahead may still be answered while the line drains. A hunting loader
    // answers only once the line has been quiet after the sync: the reply is awaited.
    auto failure = resync_loader(link_, clock_, command::kSync, 0, [this, burst] {
        static const std::array<std::uint8_t, kRecoveryBurst> ends_any_frame = [] {
            std::array<std::uint8_t, kRecoveryBurst> b{};
            b.fill(0xFF);
            return b;
        }();
        if (burst && !link_.write(ends_any_frame)) return SyncHeard{ReadResult{0, true}, false};
        if (!link_.write(kSyncPacket)) return SyncHeard{ReadResult{0, true}, false};
        std::array<std::uint8_t, 6> reply{};
        const ReadResult got = read_within(reply, kHuntQuietMs + kAnswerMarginMs);
        return SyncHeard{got, got.count == reply.size() && is_session_sync_reply(reply)};
    });
    if (failure) return failure;
    needs_resync_ = false;
    asked_speed_ = false;
    note_exchange();
    return std::nullopt;
}

}  // namespace zarvik
