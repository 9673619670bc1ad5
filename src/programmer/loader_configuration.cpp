#include <algorithm>

#include "loader/wait_count.h"
#include "programmer/programmer.h"

namespace zarvik {
namespace {

Refusal refusal_for(WaitCount::Kind kind) {
    switch (kind) {
        case WaitCount::Kind::TooLarge: return Refusal::WaitCountTooLarge;
        case WaitCount::Kind::Negative: return Refusal::WaitCountNegative;
        case WaitCount::Kind::NotANumber: return Refusal::WaitCountNotNumber;
        case WaitCount::Kind::Ok: break;
    }
    return Refusal::None;
}

}  // namespace

OperationOutcome Programmer::configure_loader(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                              ProgressObserver& progress) {
    OperationOutcome o;
    o.operation = Operation::Configure;
    o.memory = MemoryKind::Flash;
    const WaitCount wait = compute_wait_count(fosc_mhz_text, timeout_s_text);
    o.fosc_text = wait.fosc_text;
    o.timeout_text = wait.timeout_text;
    if (wait.kind != WaitCount::Kind::Ok) {
        o.result = OperationOutcome::Result::Refused;
        o.refusal = refusal_for(wait.kind);
        return o;
    }
    const std::uint32_t at = state_.model.loader_start;
    o.first_address = at;
    o.end_address = at + static_cast<std::uint32_t>(kBlockSize);
    auto fail = [&](const TransactionFailure& failure, std::int64_t elapsed) {
        o.result = OperationOutcome::Result::LinkFailure;
        o.link_failure = failure;
        o.elapsed_ms = elapsed;
        return o;
    };
    protocol_.discard_stale_input();
    progress.on_range(4);
    const std::int64_t started = clock_.now_ms();
    Block block{};
    // A block that arrived short is never programmed back: that would write stale
    // bytes into the loader.
    if (auto failure = protocol_.read_flash_block(at, block)) return fail(*failure, clock_.now_ms() - started);
    progress.on_position(1);
    patch_wait_count(block, static_cast<std::uint32_t>(wait.count));
    // Programming only clears bits, so the two pages are erased first; otherwise any
    // nibble that needs a bit set would end up as old AND new.
    for (std::uint32_t page = at; page < at + kBlockSize; page += kFlashPageBytes) {
        if (auto failure = protocol_.erase_flash_page(page)) return fail(*failure, clock_.now_ms() - started);
    }
    progress.on_position(2);
    if (auto failure = protocol_.write_flash_block(at, block, 2)) return fail(*failure, clock_.now_ms() - started);
    progress.on_position(3);
    Block check{};
    if (auto failure = protocol_.read_flash_block(at, check)) return fail(*failure, clock_.now_ms() - started);
    progress.on_position(4);
    o.elapsed_ms = clock_.now_ms() - started;
    for (std::uint32_t i = 0; i < kBlockSize; ++i) {
        if (check[i] != block[i]) {
            if (o.differences.empty()) o.differences.push_back({at + i, block[i], check[i]});
            ++o.difference_count;
        }
    }
    if (o.difference_count > 0) o.result = OperationOutcome::Result::Differences;
    return o;
}

}  // namespace zarvik
