#include "programmer/fast_road.h"

#include <algorithm>

#include "programmer/partial_pages.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

// An answer to a frame comes once the frame is in and the one before it programmed:
// tens of milliseconds, a little more behind an adapter that holds short answers.
constexpr std::int64_t kFrameAnswerBudgetMs = 1000;
// Checks taken without writing stand in for a verify only this soon after.
constexpr std::int64_t kFreshChecksMs = 2000;

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

std::uint8_t page_words_for(const DeviceModel& model) { return static_cast<std::uint8_t>(chip_page_bytes(model) / 2); }

std::uint32_t halting_section_for(const DeviceModel& model) { return model.halting_from; }

FastRoad::FastRoad(ProgrammerState& state, ByteLink& link, Clock& clock)
    : state_(state), clock_(clock), session_(link, clock) {}

TransactionResult FastRoad::open() {
    if (!session_.is_open() || session_.needs_resync()) {
        return session_.open(page_words_for(state_.model), state_.model.loader_start);
    }
    // Open, but perhaps quiet for so long that the loader has left it.
    return session_.prepare(0);
}

TransactionResult FastRoad::take_checks(std::uint32_t units, std::vector<std::uint32_t>& checks) {
    checks.assign(units, 0);
    if (auto failure = open()) return failure;
    return session_.checks(0, checks);
}

FrameEffect FastRoad::judge(std::uint32_t unit, std::uint32_t before, std::uint32_t after) {
    std::array<std::uint32_t, 1> now{};
    // The session's next command brings the loader back first (sync, silence, opening).
    if (open() || session_.checks(unit, now)) return FrameEffect::NotAsked;
    if (now[0] == after) return FrameEffect::Written;
    if (now[0] == before) return FrameEffect::NothingWritten;
    return FrameEffect::Unknown;
}

FrameEffect FastRoad::judge_eeprom(std::uint32_t address, std::span<const std::uint8_t> before,
                                   std::span<const std::uint8_t> after) {
    Block now{};
    const auto held = std::span(now).first(after.size());
    if (open() || session_.read(MemoryKind::Eeprom, address, held)) return FrameEffect::NotAsked;
    if (std::equal(after.begin(), after.end(), held.begin())) return FrameEffect::Written;
    if (std::equal(before.begin(), before.end(), held.begin())) return FrameEffect::NothingWritten;
    return FrameEffect::Unknown;
}

TransactionResult FastRoad::read_eeprom(std::uint32_t end, std::vector<std::uint8_t>& into) {
    into.assign(end, kBlank);
    if (auto failure = open()) return failure;
    return session_.read(MemoryKind::Eeprom, 0, into);
}

OperationOutcome FastRoad::erase(OperationOutcome o, ProgressObserver& progress) {
    forget_checks();
    o.road = Road::Fast;
    const bool flash = o.memory == MemoryKind::Flash;
    const std::uint32_t size = capacity_of(state_.model, o.memory);
    progress.on_range(size);
    progress.on_position(0);
    return timed(clock_, o, [&](OperationOutcome out) {
        if (flash) {
            // Page frames of blank bytes, only for the units whose check is not a blank
            // unit's: the loader leaves the loader alone and skips pages already blank.
            const std::vector<std::uint8_t> blank(size, kBlank);
            return program_flash(out, blank, PageSpan{0, size}, progress);
        }
        // EEPROM: blank bytes written only where the EEPROM holds something else.
        std::vector<std::uint8_t> chip;
        if (auto failure = read_eeprom(size, chip)) return failed(out, *failure);
        const std::vector<std::uint8_t> blank(kCheckUnit, kBlank);
        for (std::uint32_t a = 0; a < size; a += kCheckUnit) {
            const auto n = std::min<std::uint32_t>(kCheckUnit, size - a);
            const auto held = std::span<const std::uint8_t>(chip).subspan(a, n);
            if (std::any_of(held.begin(), held.end(), [](std::uint8_t b) { return b != kBlank; })) {
                if (stop_asked()) return interrupted(out, a);
                if (auto failure = write_eeprom_unit(a, std::span(blank).first(n), held)) return failed(out, *failure);
            }
            progress.on_position(a + n);
        }
        return out;
    });
}

OperationOutcome FastRoad::write(OperationOutcome o, ProgressObserver& progress, WriteOptions /*options*/) {
    forget_checks();
    o.road = Road::Fast;
    return o.memory == MemoryKind::Flash ? write_flash(o, progress) : write_eeprom(o, progress);
}

OperationOutcome FastRoad::write_flash(OperationOutcome o, ProgressObserver& progress) {
    // Whole chip pages: the file's bytes, and the chip's own where the file leaves a
    // page partly uncovered.
    const std::uint32_t file_first = o.first_address;
    const std::uint32_t file_end = o.end_address;
    const PageSpan span = file_pages(o, state_.model);
    o.first_address = span.start;
    o.end_address = span.end;
    progress.on_range(o.end_address);
    progress.on_position(0);
    const auto image = image_of(state_, MemoryKind::Flash);
    return timed(clock_, o, [&](const OperationOutcome& out) {
        if (auto failure = open()) return failed(out, *failure);
        const UnitReader read_unit = [&](std::uint32_t a, std::span<std::uint8_t, kLoaderBlock> into) {
            return session_.read(MemoryKind::Flash, a, into);
        };
        if (auto kept = keep_bytes_outside_file(image, file_first, file_end, span, read_unit)) return failed(out, *kept);
        return program_flash(out, image, span, progress);
    });
}

OperationOutcome FastRoad::program_flash(OperationOutcome o, std::span<const std::uint8_t> image, PageSpan span,
                                         ProgressObserver& progress) {
    // From address 0, so that the same checks can stand in for the verify that follows.
    std::vector<std::uint32_t> checks;
    const std::uint32_t units = units_for(span.end);
    if (auto failure = take_checks(units, checks)) return failed(o, *failure);
    std::vector<Frame> frames;
    for (std::uint32_t a = span.start / kCheckUnit * kCheckUnit; a < span.end; a += kCheckUnit) {
        // The image holds the chip's bytes outside the file: the unit's check compares.
        const std::uint32_t wanted = unit_check(image, a);
        if (wanted == checks[a / kCheckUnit]) continue;
        const std::uint32_t from = std::max(a, span.start);
        const std::uint32_t to = std::min(a + kCheckUnit, span.end);
        Frame frame{from, page_frame(from, image.subspan(from, to - from)), a, checks[a / kCheckUnit], wanted};
        frame.alone = holds_sync(frame.bytes) || to > halting_section_for(state_.model);
        frame.sent = crc32(image.subspan(from, to - from));
        frame.whole = from == a && to == a + kCheckUnit;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        fresh_ = FreshChecks{MemoryKind::Flash, checks, {}, clock_.now_ms()};
        progress.on_position(span.end);
        return o;
    }
    o = stream(o, frames, span.end, progress);
    if (o.ok()) o = confirm(o, image, frames, checks);
    return o;
}

OperationOutcome FastRoad::stream(OperationOutcome o, std::vector<Frame>& frames, std::uint32_t end,
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
    // Frames go only to a loader that is in the session now.
    if (auto failure = session_.prepare(frames.front().address)) return failed(o, *failure);
    // Answers in flight are read to their end even after a stop: the loader takes every
    // frame that reached it, and the host must know which.
    CancellationHold hold(cancel_, HoldKind::FramesInFlight);
    bool stopping = false;
    auto fail_at = [&](TransactionFailure failure, std::size_t index) {
        // The loader programs nothing of a frame that failed its check; whether this one
        // was programmed, the check of its unit tells once the loader is back.
        failure.interrupted = false;
        if (!failure.line_lost) {
            const Frame& f = frames[index];
            failure.frame_effect = judge(f.unit, f.before, f.after);
            // Brought back, the loader has finished every frame it took before.
            if (failure.frame_effect != FrameEffect::NotAsked) report_confirmed(index);
        }
        o.result = Result::LinkFailure;
        o.link_failure = failure;
        o.stopped_address = reported;
        return o;
    };
    while (answered < frames.size()) {
        stopping = stopping || stop_asked();
        while (!stopping && sent < frames.size() && sent - answered < kFramesInFlight) {
            const bool alone = frames[sent].alone || (sent > answered && frames[sent - 1].alone);
            if (alone && sent > answered) break;
            if (!session_.send_frame(frames[sent].bytes)) {
                return fail_at(TransactionFailure{session_command::kPageProgram, frames[sent].address, 0, 0, true}, sent);
            }
            ++sent;
        }
        if (sent == answered) break;  // stopping, and nothing left in flight
        if (auto failure = session_.frame_answer(frames[answered].address, frames[answered].programmed, kFrameAnswerBudgetMs)) {
            return fail_at(*failure, answered);
        }
        ++answered;
        report_confirmed(answered - 1);
    }
    // Each answer came once its frame's pages were programmed.
    if (answered == 0) return interrupted(o, frames.front().address);
    report_confirmed(answered);
    if (stopping) return interrupted(o, answered < frames.size() ? frames[answered].address : end);
    return o;
}

OperationOutcome FastRoad::confirm(OperationOutcome o, std::span<const std::uint8_t> image,
                                   const std::vector<Frame>& frames, std::vector<std::uint32_t> after) {
    // The units no frame went to hold what the checks before the write said. A frame's
    // answer carries the check of its range as the flash now holds it: a whole unit
    // needs nothing more; a unit the frame covers in part is checked once more whole.
    Block chip{};
    for (const Frame& f : frames) {
        std::uint32_t& now = after[f.unit / kCheckUnit];
        if (f.whole && f.programmed == f.sent) {
            now = f.after;
            continue;
        }
        if (!f.whole && f.programmed == f.sent) {
            std::array<std::uint32_t, 1> check{};
            if (auto failure = session_.checks(f.unit, check)) return failed(o, *failure);
            now = check[0];
            if (now == f.after) continue;
        }
        // The chip does not hold what was sent: the bytes say where.
        if (auto failure = session_.read(MemoryKind::Flash, f.unit, chip)) return failed(o, *failure);
        if (note_differences(o, f.unit, image.subspan(f.unit, kCheckUnit), chip) == 0) {
            // The check says the unit differs, its bytes say it does not: one of the
            // loader's answers is wrong, so neither can be trusted.
            TransactionFailure wrong{session_command::kFlashChecks, f.unit, 4, 4};
            wrong.wrong_answer = true;
            wrong.status = after[f.unit / kCheckUnit];
            return failed(o, wrong);
        }
    }
    if (o.difference_count > 0) {
        o.result = Result::Differences;
        return o;
    }
    fresh_ = FreshChecks{MemoryKind::Flash, after, {}, clock_.now_ms()};
    return o;
}

TransactionResult FastRoad::write_eeprom_unit(std::uint32_t address, std::span<const std::uint8_t> data,
                                              std::span<const std::uint8_t> before) {
    auto failure = session_.write_eeprom(address, data);
    if (failure && !failure->line_lost && !failure->interrupted) failure->frame_effect = judge_eeprom(address, before, data);
    return failure;
}

OperationOutcome FastRoad::write_eeprom(const OperationOutcome& o, ProgressObserver& progress) {
    // The range as the image holds it, as the plain road writes it (for a file, from
    // address 0: bytes the file leaves out are blank).
    const std::uint32_t first = o.first_address;
    const std::uint32_t end = o.end_address;
    const auto image = image_of(state_, MemoryKind::Eeprom);
    progress.on_range(end);
    progress.on_position(first);
    return timed(clock_, o, [&](OperationOutcome out) {
        // The EEPROM is read, not checked: 1 KB at most, and the bytes show what differs.
        // From address 0 always, so that what was read can stand in for a verify.
        std::vector<std::uint8_t> chip;
        if (auto failure = read_eeprom(end, chip)) return failed(out, *failure);
        for (std::uint32_t a = first; a < end; a += kCheckUnit) {
            const auto n = std::min<std::uint32_t>(kCheckUnit, end - a);
            // Only from the first to the last byte that differs: the rest holds its value.
            std::uint32_t from = a;
            std::uint32_t to = a + n;
            while (from < to && image[from] == chip[from]) ++from;
            while (to > from && image[to - 1] == chip[to - 1]) --to;
            if (from < to) {
                if (stop_asked()) return interrupted(out, a);
                const auto held = std::span<const std::uint8_t>(chip).subspan(from, to - from);
                if (auto failure = write_eeprom_unit(from, image.subspan(from, to - from), held)) {
                    return failed(out, *failure);
                }
                // The answer carried these bytes as the EEPROM holds them now.
                std::copy(image.begin() + from, image.begin() + to, chip.begin() + from);
            }
            progress.on_position(a + n);
        }
        fresh_ = FreshChecks{MemoryKind::Eeprom, {}, chip, clock_.now_ms()};
        return out;
    });
}

OperationOutcome FastRoad::verify(OperationOutcome o, ProgressObserver& progress) {
    o.road = Road::Fast;
    progress.on_range(o.end_address);
    progress.on_position(0);
    return timed(clock_, o, [&](const OperationOutcome& out) {
        return out.memory == MemoryKind::Flash ? verify_flash(out, progress) : verify_eeprom(out, progress);
    });
}

OperationOutcome FastRoad::verify_eeprom(OperationOutcome o, ProgressObserver& progress) {
    const std::uint32_t end = o.end_address;
    const auto image = image_of(state_, MemoryKind::Eeprom);
    const auto readback = readback_of(state_, MemoryKind::Eeprom);
    std::vector<std::uint8_t> chip;
    const bool fresh = fresh_ && fresh_->memory == MemoryKind::Eeprom && fresh_->bytes.size() >= end &&
                       clock_.now_ms() - fresh_->taken_ms <= kFreshChecksMs;
    if (fresh) {
        chip = fresh_->bytes;
    } else if (auto failure = read_eeprom(end, chip)) {
        forget_checks();
        return failed(o, *failure);
    }
    forget_checks();
    std::copy_n(chip.begin(), end, readback.begin());
    const std::uint32_t first = o.first_address;
    note_differences(o, first, image.subspan(first, end - first), readback.subspan(first, end - first));
    progress.on_position(end);
    return judged(o);
}

OperationOutcome FastRoad::verify_flash(OperationOutcome o, ProgressObserver& progress) {
    const std::uint32_t end = o.end_address;
    const std::uint32_t units = units_for(end);
    const auto image = image_of(state_, MemoryKind::Flash);
    const auto readback = readback_of(state_, MemoryKind::Flash);
    std::vector<std::uint32_t> checks;
    const bool fresh = fresh_ && fresh_->memory == MemoryKind::Flash && fresh_->checks.size() >= units &&
                       clock_.now_ms() - fresh_->taken_ms <= kFreshChecksMs;
    if (fresh) {
        checks = fresh_->checks;
    } else if (auto failure = take_checks(units, checks)) {
        forget_checks();
        return failed(o, *failure);
    }
    forget_checks();
    // From the unit of `first_address` on (a file's verify starts at 0).
    const std::uint32_t first = o.first_address;
    for (std::uint32_t a = first / kCheckUnit * kCheckUnit; a < end; a += kCheckUnit) {
        const std::uint32_t from = std::max(a, first);
        const std::uint32_t to = std::min(a + kCheckUnit, end);
        const bool whole = from == a && to == a + kCheckUnit;
        if (whole && unit_check(image, a) == checks[a / kCheckUnit]) {
            std::copy_n(image.begin() + a, kCheckUnit, readback.begin() + a);
            progress.on_position(to);
            continue;
        }
        // A unit whose check differs, and a unit the range covers in part, are read
        // back: the differences are listed from the bytes themselves.
        if (stop_asked()) return interrupted(o, a);
        if (auto failure = session_.read(MemoryKind::Flash, a, state_.block)) return failed(o, *failure);
        std::copy(state_.block.begin(), state_.block.end(), readback.begin() + a);
        const std::uint32_t found =
            note_differences(o, from, image.subspan(from, to - from), readback.subspan(from, to - from));
        if (whole && found == 0) {
            // The loader's check says the unit differs, its bytes say it does not: one of
            // its answers is wrong, so neither can be trusted.
            TransactionFailure f{session_command::kFlashChecks, a, 4, 4};
            f.wrong_answer = true;
            f.status = checks[a / kCheckUnit];
            return failed(o, f);
        }
        progress.on_position(to);
    }
    return judged(o);
}

OperationOutcome FastRoad::read(OperationOutcome o, ProgressObserver& progress) {
    o.road = Road::Fast;
    forget_checks();
    const std::uint32_t count = o.end_address;
    const auto readback = readback_of(state_, o.memory);
    progress.on_range(count);
    progress.on_position(0);
    return timed(clock_, o, [&](OperationOutcome out) {
        if (auto failure = open()) return failed(out, *failure);
        for (std::uint32_t a = 0; a < count; a += kBlockSize) {
            if (stop_asked()) return interrupted(out, a);
            if (auto failure = session_.read(out.memory, a, state_.block)) return failed(out, *failure);
            std::copy(state_.block.begin(), state_.block.end(), readback.begin() + a);
            progress.on_position(a + kBlockSize);
        }
        return out;
    });
}

}  // namespace zarvik
