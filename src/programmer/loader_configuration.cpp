#include <algorithm>

#include "loader/wait_count.h"
#include "programmer/programmer.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

Refusal refusal_for(WaitCount::Kind kind) {
    switch (kind) {
        case WaitCount::Kind::TooLarge: return Refusal::WaitCountTooLarge;
        case WaitCount::Kind::Negative: return Refusal::WaitCountNegative;
        case WaitCount::Kind::FoscNotNumber: return Refusal::FoscNotNumber;
        case WaitCount::Kind::TimeoutNotNumber: return Refusal::TimeoutNotNumber;
        case WaitCount::Kind::Ok: break;
    }
    return Refusal::None;
}

// The first byte that differs, and how many do.
void compare(OperationOutcome& o, const Block& wanted, const Block& found) {
    o.differences.clear();
    o.difference_count = 0;
    for (std::uint32_t i = 0; i < kBlockSize; ++i) {
        if (found[i] == wanted[i]) continue;
        if (o.differences.empty()) o.differences.push_back({o.first_address + i, wanted[i], found[i]});
        ++o.difference_count;
    }
}

}  // namespace

OperationOutcome Programmer::configure_loader(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                              ProgressObserver& progress, ConfigureOptions options) {
    return advised(configure_unadvised(fosc_mhz_text, timeout_s_text, progress, options));
}

OperationOutcome Programmer::configure_unadvised(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                                 ProgressObserver& progress, ConfigureOptions options) {
    fast_.forget_checks();
    OperationOutcome o;
    o.operation = Operation::Configure;
    o.memory = MemoryKind::Flash;
    progress.on_phase(Phase::Configuring);
    const WaitCount wait = compute_wait_count(fosc_mhz_text, timeout_s_text);
    o.fosc_text = wait.fosc_text;
    o.timeout_text = wait.timeout_text;
    o.wait_seconds = wait.seconds;
    o.longest_wait_seconds = wait.longest_seconds;
    // A clock outside what these chips run at is most likely a slip (99 for 9.9, 0.016
    // for 16), and everything computed from it is wrong too: it is named first, before
    // what it makes of the wait.
    if (wait.kind != WaitCount::Kind::FoscNotNumber && wait.kind != WaitCount::Kind::Negative &&
        !options.allow_unusual_clock) {
        const auto fosc_mhz = parse_number(wait.fosc_text);
        if (fosc_mhz && (*fosc_mhz < kLowestFoscMhz || *fosc_mhz > kHighestFoscMhz)) {
            o.result = Result::Refused;
            o.refusal = Refusal::FoscOutOfRange;
            return o;
        }
    }
    if (wait.kind == WaitCount::Kind::Ok && wait.seconds < kShortestSafeWaitSeconds && !options.allow_short_wait) {
        o.result = Result::Refused;
        o.refusal = Refusal::WaitTooShort;
        return o;
    }
    if (wait.kind != WaitCount::Kind::Ok) {
        o.result = Result::Refused;
        o.refusal = refusal_for(wait.kind);
        return o;
    }
    const std::uint32_t at = state_.model.loader_start;
    o.first_address = at;
    o.end_address = at + static_cast<std::uint32_t>(kBlockSize);
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    // With our loader the configuration goes inside the session: the block is read and
    // sent as checked frames, which its guard programs only when nothing but the count
    // changed. A loader of the original kind gets the plain `B A F` and the read-back.
    const bool session = road() == Road::Fast;
    if (!session) {
        if (auto failure = leave_session()) return failed(o, *failure);
    }
    protocol_.discard_stale_input();
    progress.on_range(4);
    progress.on_position(0);
    o = timed(clock_, o, [&](OperationOutcome out) {
        Block block{};
        // A block that arrived short is never programmed back: that would write stale
        // bytes into the loader.
        const TransactionResult read = session ? fast_.read_loader_block(at, block) : protocol_.read_flash_block(at, block);
        if (read) return failed(out, *read);
        progress.on_position(1);
        // Whatever was confirmed before, the count is patched only into a real loader
        // block: anywhere else the twelve nibbles would damage a program. A block whose
        // two counts differ is ours with a configuration cut short, and this repairs it.
        if (classify_loader_block(block) == LoaderBlockKind::None) {
            out.result = Result::Refused;
            out.refusal = Refusal::NoLoaderBlock;
            out.selected_name = std::string(state_.model.name);
            return out;
        }
        if (cancelled()) return interrupted(out, at);
        patch_wait_count(block, static_cast<std::uint32_t>(wait.count));
        return session ? program_loader_block_in_session(out, block, progress) : program_loader_block(out, block, progress);
    });
    if (o.ok() && identity_ && identity_->loader_start == at) {
        // Both copies now hold the new count: the identity read before is out of date.
        identity_->wait_count = identity_->second_wait_count = static_cast<std::uint32_t>(wait.count);
        identity_->torn_count = false;
    }
    return o;
}

OperationOutcome Programmer::program_loader_block(OperationOutcome o, const Block& block, ProgressObserver& progress) {
    const std::uint32_t at = o.first_address;
    // From the first programming command until the block reads back right (or the
    // attempt has failed), a stop request waits: cut short after an erase, the chip
    // would be left without a loader.
    CancellationHold hold(cancel_);
    Block check{};
    // Programmed as it stands first: a loader whose `F` writes the page whole takes it
    // in one go, and its first block is never blank for a moment.
    if (auto failure = protocol_.write_flash_block(at, block, 2)) return failed(o, *failure);
    progress.on_position(2);
    if (auto failure = protocol_.read_flash_block(at, check)) return failed(o, *failure);
    progress.on_position(3);
    compare(o, block, check);
    if (o.difference_count == 0) {
        progress.on_position(4);
        return o;
    }
    // A loader whose `F` only clears bits kept old AND new: erase the two pages and
    // program them again.
    for (std::uint32_t page = at; page < at + kBlockSize; page += kFlashPageBytes) {
        if (auto failure = protocol_.erase_flash_page(page)) return failed(o, *failure);
    }
    if (auto failure = protocol_.write_flash_block(at, block, 2)) return failed(o, *failure);
    if (auto failure = protocol_.read_flash_block(at, check)) return failed(o, *failure);
    progress.on_position(4);
    compare(o, block, check);
    if (o.difference_count > 0) o.result = Result::Differences;
    return o;
}

OperationOutcome Programmer::program_loader_block_in_session(OperationOutcome o, const Block& block,
                                                             ProgressObserver& progress) {
    const std::uint32_t at = o.first_address;
    CancellationHold hold(cancel_);
    if (auto failure = fast_.program_loader_block(at, block)) return failed(o, *failure);
    progress.on_position(2);
    Block check{};
    if (auto failure = fast_.read_loader_block(at, check)) return failed(o, *failure);
    progress.on_position(4);
    compare(o, block, check);
    if (o.difference_count > 0) o.result = Result::Differences;
    return o;
}

}  // namespace zarvik
