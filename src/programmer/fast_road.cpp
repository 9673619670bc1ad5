#include "programmer/fast_road.h"

#include <algorithm>

#include "programmer/stopwatch.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

// An answer to a frame comes once the frame is in and the one before it programmed:
// tens of milliseconds, a little more behind an adapter that holds short answers.
constexpr std::int64_t kFrameAnswerBudgetMs = 1000;
// Units a range erase covers at once, so that progress moves and a stop is heard.
constexpr std::uint32_t kEraseChunkUnits = 32;
// Checks taken without writing stand in for a verify only this soon after.
constexpr std::int64_t kFreshChecksMs = 2000;

std::span<std::uint8_t> image_of(ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<std::uint8_t>(s.flash_image.bytes) : std::span<std::uint8_t>(s.eeprom_image.bytes);
}

std::span<std::uint8_t> readback_of(ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<std::uint8_t>(s.flash_readback.bytes)
                                  : std::span<std::uint8_t>(s.eeprom_readback.bytes);
}

std::uint32_t units_for(std::uint32_t end) { return (end + kCheckUnit - 1) / kCheckUnit; }

std::uint32_t unit_check(std::span<const std::uint8_t> memory, std::uint32_t address) {
    return crc32(memory.subspan(address, kCheckUnit));
}

bool holds_sync(std::span<const std::uint8_t> bytes) {
    int run = 0;
    for (const std::uint8_t b : bytes) {
        run = b == command::kSync ? run + 1 : 0;
        if (run >= 4) return true;
    }
    return false;
}

}  // namespace

std::uint8_t page_words_for(const DeviceModel& model) { return model.loader_start == 0x1C00 ? 32 : 64; }

std::uint32_t halting_section_for(const DeviceModel& model) {
    // The chips' NRWW sections: 1 KB below the loader on the ATmega8/88 and ATmega168,
    // 3 KB below it on the ATmega328.
    switch (model.loader_start) {
        case 0x1C00: return 0x1800;
        case 0x3C00: return 0x3800;
        default: return 0x7000;
    }
}

FastRoad::FastRoad(ProgrammerState& state, ByteLink& link, Clock& clock, LoaderProtocol& plain)
    : state_(state), clock_(clock), plain_(plain), fast_(link, clock) {}

OperationOutcome FastRoad::interrupted(OperationOutcome o, std::uint32_t address) const {
    o.result = Result::Interrupted;
    o.stopped_address = address;
    return o;
}

OperationOutcome FastRoad::failed(OperationOutcome o, const TransactionFailure& failure) const {
    if (failure.interrupted || (cancel_ != nullptr && cancel_->requested())) return interrupted(o, failure.address);
    o.result = Result::LinkFailure;
    o.link_failure = failure;
    return o;
}

TransactionResult FastRoad::take_checks(MemoryKind memory, std::uint32_t units, std::vector<std::uint32_t>& checks) {
    checks.assign(units, 0);
    for (std::uint32_t u = 0; u < units; u += 256) {
        const std::uint32_t n = std::min<std::uint32_t>(256, units - u);
        if (auto failure = fast_.checks(memory, u * kCheckUnit, std::span(checks).subspan(u, n))) return failure;
    }
    return std::nullopt;
}

TransactionResult FastRoad::read_plain(MemoryKind memory, std::uint32_t address, Block& into) {
    return memory == MemoryKind::Flash ? plain_.read_flash_block(address, into) : plain_.read_eeprom_block(address, into);
}

OperationOutcome FastRoad::erase(OperationOutcome o, ProgressObserver& progress) {
    forget_checks();
    o.road = Road::Fast;
    const bool flash = o.memory == MemoryKind::Flash;
    const std::uint32_t size = flash ? state_.model.loader_start : state_.model.eeprom_size;
    progress.on_range(size);
    progress.on_position(0);
    Stopwatch watch(clock_);
    if (flash) {
        // The loader skips the pages that are blank already.
        for (std::uint32_t a = 0; a < size; a += kEraseChunkUnits * kCheckUnit) {
            if (stop_asked()) {
                o.elapsed_ms = watch.elapsed();
                return interrupted(o, a);
            }
            const std::uint32_t units = std::min<std::uint32_t>(kEraseChunkUnits, (size - a) / kCheckUnit);
            if (auto failure = fast_.erase_range(a, units)) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
            progress.on_position(a + units * kCheckUnit);
        }
        o.elapsed_ms = watch.elapsed();
        return o;
    }
    // EEPROM: only the blocks whose check is not that of a blank block.
    std::vector<std::uint32_t> checks;
    if (auto failure = take_checks(MemoryKind::Eeprom, units_for(size), checks)) {
        o.elapsed_ms = watch.elapsed();
        return failed(o, *failure);
    }
    Block blank{};
    blank.fill(kBlank);
    const std::uint32_t blank_check = crc32(blank);
    for (std::uint32_t a = 0; a < size; a += kCheckUnit) {
        if (checks[a / kCheckUnit] != blank_check) {
            if (stop_asked()) {
                o.elapsed_ms = watch.elapsed();
                return interrupted(o, a);
            }
            if (auto failure = fast_.erase_eeprom_block(a)) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
        }
        progress.on_position(a + kCheckUnit);
    }
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome FastRoad::write(OperationOutcome o, ProgressObserver& progress) {
    forget_checks();
    o.road = Road::Fast;
    return o.memory == MemoryKind::Flash ? write_flash(o, progress) : write_eeprom(o, progress);
}

OperationOutcome FastRoad::write_flash(OperationOutcome o, ProgressObserver& progress) {
    // The file's 64-byte pages; bytes of a unit outside them are never changed.
    const std::uint32_t start = o.first_address / kFlashPageBytes * kFlashPageBytes;
    const std::uint32_t end = (o.end_address + kFlashPageBytes - 1) / kFlashPageBytes * kFlashPageBytes;
    o.first_address = start;
    o.end_address = end;
    progress.on_range(end);
    progress.on_position(0);
    const auto image = image_of(state_, MemoryKind::Flash);
    Stopwatch watch(clock_);
    // From address 0, so that the same checks can stand in for the verify that follows.
    std::vector<std::uint32_t> checks;
    if (auto failure = take_checks(MemoryKind::Flash, units_for(end), checks)) {
        o.elapsed_ms = watch.elapsed();
        return failed(o, *failure);
    }
    std::vector<Frame> frames;
    for (std::uint32_t a = start / kCheckUnit * kCheckUnit; a < end; a += kCheckUnit) {
        const std::uint32_t from = std::max(a, start);
        const std::uint32_t to = std::min(a + kCheckUnit, end);
        if (from == a && to == a + kCheckUnit) {
            if (unit_check(image, a) == checks[a / kCheckUnit]) continue;
        } else {
            // Half a unit is the file's: its check covers the other half too, which the
            // chip keeps, so that half is compared byte by byte instead.
            if (stop_asked()) {
                o.elapsed_ms = watch.elapsed();
                return interrupted(o, a);
            }
            if (auto failure = plain_.read_flash_block(a, state_.block)) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
            if (std::equal(image.begin() + from, image.begin() + to, state_.block.begin() + (from - a))) continue;
        }
        Frame frame{from, page_frame(from, image.subspan(from, to - from))};
        frame.alone = holds_sync(frame.bytes) || to > halting_section_for(state_.model);
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        fresh_ = FreshChecks{MemoryKind::Flash, checks, clock_.now_ms()};
        progress.on_position(end);
        o.elapsed_ms = watch.elapsed();
        return o;
    }
    o = stream(o, frames, end, progress);
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome FastRoad::stream(OperationOutcome o, const std::vector<Frame>& frames, std::uint32_t end,
                                  ProgressObserver& progress) {
    // Frames [answered, sent) are in flight. A frame answered "taken" is programmed once
    // any later answer comes; only then does the progress pass it.
    std::size_t sent = 0;
    std::size_t answered = 0;
    std::uint32_t reported = 0;
    auto report_confirmed = [&](std::size_t confirmed) {
        const std::uint32_t position = confirmed < frames.size() ? frames[confirmed].address : end;
        if (position > reported) {
            reported = position;
            progress.on_position(position);
        }
    };
    report_confirmed(0);
    // Answers in flight are read to their end even after a stop: the loader takes every
    // frame that reached it, and the host must know which.
    CancellationHold hold(cancel_);
    bool stopping = false;
    while (answered < frames.size()) {
        stopping = stopping || stop_asked();
        while (!stopping && sent < frames.size() && sent - answered < kFramesInFlight) {
            const bool alone = frames[sent].alone || (sent > answered && frames[sent - 1].alone);
            if (alone && sent > answered) break;
            if (!fast_.send_frame(frames[sent].bytes)) {
                o.result = Result::LinkFailure;
                o.link_failure = TransactionFailure{fast_command::kPageProgram, frames[sent].address, 0, 0, true};
                o.stopped_address = reported;
                return o;
            }
            ++sent;
        }
        if (sent == answered) break;  // stopping, and nothing left in flight
        if (auto failure = fast_.frame_answer(frames[answered].address, kFrameAnswerBudgetMs)) {
            // A refusal is an answer: the frames before it are programmed. After anything
            // else, only a sync that comes back tells.
            if (failure->wrong_answer && failure->status < kOtherAddress) report_confirmed(answered);
            if (!failure->line_lost && fast_.resync()) report_confirmed(answered);
            failure->interrupted = false;
            o.result = Result::LinkFailure;
            o.link_failure = *failure;
            o.stopped_address = reported;
            return o;
        }
        ++answered;
        report_confirmed(answered - 1);
    }
    if (answered == 0) return interrupted(o, frames.front().address);
    // Any answer confirms the frames taken before it; four bytes of a check do it
    // without waiting for a sync's time-out.
    std::array<std::uint32_t, 1> last{};
    const std::uint32_t last_unit = frames[answered - 1].address / kCheckUnit * kCheckUnit;
    if (auto failure = fast_.checks(MemoryKind::Flash, last_unit, last)) {
        failure->interrupted = false;
        o.result = Result::LinkFailure;
        o.link_failure = *failure;
        o.stopped_address = reported;
        return o;
    }
    report_confirmed(answered);
    if (stopping) return interrupted(o, answered < frames.size() ? frames[answered].address : end);
    return o;
}

OperationOutcome FastRoad::write_eeprom(OperationOutcome o, ProgressObserver& progress) {
    // From address 0, as the plain road writes it: bytes the file leaves out are blank.
    o.first_address = 0;
    const std::uint32_t end = o.end_address;
    const auto image = image_of(state_, MemoryKind::Eeprom);
    progress.on_range(end);
    progress.on_position(0);
    Stopwatch watch(clock_);
    std::vector<std::uint32_t> checks;
    if (auto failure = take_checks(MemoryKind::Eeprom, units_for(end), checks)) {
        o.elapsed_ms = watch.elapsed();
        return failed(o, *failure);
    }
    bool wrote = false;
    for (std::uint32_t a = 0; a < end; a += kCheckUnit) {
        const auto n = std::min<std::uint32_t>(kCheckUnit, end - a);
        bool same = false;
        if (n == kCheckUnit) {
            same = unit_check(image, a) == checks[a / kCheckUnit];
        } else {
            // The last block is the file's only in part: compare just that part.
            if (auto failure = plain_.read_eeprom_block(a, state_.block)) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
            same = std::equal(image.begin() + a, image.begin() + a + n, state_.block.begin());
        }
        if (!same) {
            if (stop_asked()) {
                o.elapsed_ms = watch.elapsed();
                return interrupted(o, a);
            }
            std::copy_n(image.begin() + a, kBlockSize, state_.block.begin());
            if (auto failure = fast_.write_eeprom_block(a, state_.block, static_cast<std::uint8_t>(n))) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
            wrote = true;
        }
        progress.on_position(a + n);
    }
    if (!wrote) fresh_ = FreshChecks{MemoryKind::Eeprom, checks, clock_.now_ms()};
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome FastRoad::verify(OperationOutcome o, ProgressObserver& progress) {
    o.road = Road::Fast;
    const MemoryKind memory = o.memory;
    const std::uint32_t end = o.end_address;
    const std::uint32_t units = units_for(end);
    const auto image = image_of(state_, memory);
    const auto readback = readback_of(state_, memory);
    const std::uint32_t capacity = memory == MemoryKind::Flash ? state_.model.loader_start : state_.model.eeprom_size;
    std::fill_n(readback.begin(), capacity, kBlank);
    progress.on_phase(Phase::Reading);
    progress.on_range(end);
    progress.on_position(0);
    Stopwatch watch(clock_);
    std::vector<std::uint32_t> checks;
    const bool fresh = fresh_ && fresh_->memory == memory && fresh_->checks.size() >= units &&
                       clock_.now_ms() - fresh_->taken_ms <= kFreshChecksMs;
    if (fresh) {
        checks = fresh_->checks;
    } else if (auto failure = take_checks(memory, units, checks)) {
        forget_checks();
        o.elapsed_ms = watch.elapsed();
        return failed(o, *failure);
    }
    forget_checks();
    for (std::uint32_t a = 0; a < end; a += kCheckUnit) {
        const auto n = std::min<std::uint32_t>(kCheckUnit, end - a);
        if (n == kCheckUnit && unit_check(image, a) == checks[a / kCheckUnit]) {
            std::copy_n(image.begin() + a, kCheckUnit, readback.begin() + a);
            progress.on_position(a + n);
            continue;
        }
        // A unit whose check differs, and the file's last part of a unit, are read back
        // the plain way: the differences are listed from the bytes themselves.
        if (stop_asked()) {
            o.elapsed_ms = watch.elapsed();
            return interrupted(o, a);
        }
        if (auto failure = read_plain(memory, a, state_.block)) {
            o.elapsed_ms = watch.elapsed();
            return failed(o, *failure);
        }
        std::copy(state_.block.begin(), state_.block.end(), readback.begin() + a);
        std::uint32_t found = 0;
        for (std::uint32_t i = a; i < a + n; ++i) {
            if (image[i] == readback[i]) continue;
            if (o.differences.size() < OperationOutcome::kMaxListedDifferences) {
                o.differences.push_back({i, image[i], readback[i]});
            }
            ++o.difference_count;
            ++found;
        }
        if (n == kCheckUnit && found == 0) {
            // The loader's check says the unit differs, its bytes say it does not: one of
            // its answers is wrong, so neither can be trusted.
            TransactionFailure f{memory == MemoryKind::Flash ? fast_command::kFlashChecks : fast_command::kEepromChecks, a,
                                 4, 4};
            f.wrong_answer = true;
            f.status = checks[a / kCheckUnit];
            o.elapsed_ms = watch.elapsed();
            return failed(o, f);
        }
        progress.on_position(a + n);
    }
    o.elapsed_ms = watch.elapsed();
    if (o.difference_count > 0) o.result = Result::Differences;
    return o;
}

}  // namespace zarvik
