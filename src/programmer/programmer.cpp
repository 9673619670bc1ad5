#include "programmer/programmer.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <variant>

#include "memory/elf_loader.h"
#include "memory/file_io.h"
#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "programmer/partial_pages.h"
#include "programmer/stopwatch.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

OperationOutcome begin(Operation op, MemoryKind memory) {
    OperationOutcome o;
    o.operation = op;
    o.memory = memory;
    return o;
}

std::span<std::uint8_t> image_of(ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<std::uint8_t>(s.flash_image.bytes) : std::span<std::uint8_t>(s.eeprom_image.bytes);
}

// For the state as given, const or not.
template <typename State>
auto readback_of(State& s, MemoryKind m) {
    using Byte = std::remove_reference_t<decltype(s.flash_readback.bytes[0])>;
    return m == MemoryKind::Flash ? std::span<Byte>(s.flash_readback.bytes) : std::span<Byte>(s.eeprom_readback.bytes);
}

}  // namespace

Programmer::Programmer(ProgrammerState& state, ByteLink& link, Clock& clock)
    : state_(state), clock_(clock), protocol_(link, clock), fast_(state, link, clock) {}

HandshakeOutcome Programmer::connect() {
    identity_.reset();
    fast_.forget_checks();
    unconfirmed_accepted_ = false;
    // The sync ends a session the loader was in (or its hunt).
    const HandshakeOutcome outcome = connect_to_loader(protocol_);
    fast_.forget_session();
    synced_ = outcome == HandshakeOutcome::Connected;
    return outcome;
}

const ChipIdentity& Programmer::identify_device() {
    if (!identity_ || identity_->failure) {
        if (auto failure = leave_session()) {
            identity_ = ChipIdentity{};
            identity_->failure = failure;
            return *identity_;
        }
        // Whatever the sync gets back, the block reads below tell the line's state.
        if (!synced_) synced_ = connect_to_loader(protocol_) == HandshakeOutcome::Connected;
        protocol_.discard_stale_input();
        identity_ = identify_chip(protocol_);
    }
    return *identity_;
}

std::optional<OperationOutcome> Programmer::refuse_unless_confirmed(const OperationOutcome& o) {
    const ChipIdentity& id = identify_device();
    if (id.failure) {
        OperationOutcome f = failed(o, *id.failure);
        f.while_identifying = true;
        return f;
    }
    if (id.found() && *id.loader_start == state_.model.loader_start) return std::nullopt;
    if (!id.found() && unconfirmed_accepted_) return std::nullopt;
    OperationOutcome refused = o;
    refused.result = Result::Refused;
    refused.selected_name = std::string(state_.model.name);
    if (id.found()) {
        refused.refusal = Refusal::WrongDevice;
        refused.device_loader_start = *id.loader_start;
        refused.device_name = chip_name(*id.loader_start);
    } else {
        refused.refusal = Refusal::DeviceNotConfirmed;
    }
    return refused;
}

std::optional<OperationOutcome> Programmer::identity_failure(Operation operation, MemoryKind memory) const {
    if (!identity_ || !identity_->failure) return std::nullopt;
    OperationOutcome o = failed(begin(operation, memory), *identity_->failure);
    o.while_identifying = true;
    return o;
}

std::optional<OperationOutcome> Programmer::confirm_device(Operation operation, MemoryKind memory) {
    return refuse_unless_confirmed(begin(operation, memory));
}

OperationOutcome Programmer::interrupted(OperationOutcome o, std::uint32_t address) const {
    o.result = Result::Interrupted;
    o.stopped_address = address;
    return o;
}

OperationOutcome Programmer::failed(OperationOutcome o, const TransactionFailure& failure) const {
    // A wait cut short by a stop request is an interruption, not a silent loader.
    if (failure.interrupted || cancelled()) return interrupted(o, failure.address);
    o.result = Result::LinkFailure;
    o.link_failure = failure;
    return o;
}

bool Programmer::start_program() {
    fast_.forget_checks();
    // Plain packets are not taken inside a session: the sync that ends it comes first.
    if (auto failure = leave_session()) return !failure->line_lost;
    return protocol_.start_program();
}

TransactionResult Programmer::leave_session() {
    if (!fast_.session_pending()) return std::nullopt;
    return fast_.end_session();
}

Road Programmer::road() {
    if (road_choice_ == RoadChoice::Plain) return Road::Plain;
    const ChipIdentity& id = identify_device();
    // Only the version whose session this host speaks; version 1's frames could turn
    // into plain commands after one lost byte, and a later version is unknown here. A
    // loader that names another page size than its chip has misreports: plain road.
    if (!id.signature || !id.found() || !id.signature->speaks_session() ||
        id.signature->page_words != page_words_for(state_.model)) {
        return Road::Plain;
    }
    return Road::Fast;
}

LoaderAdvice Programmer::loader_advice() {
    const ChipIdentity& id = identify_device();
    if (id.found() && id.signature && id.signature->version == kUnsafeFastProtocolVersion) return LoaderAdvice::ReplaceVersion1;
    return LoaderAdvice::None;
}

OperationOutcome Programmer::advised(OperationOutcome o) const {
    if (identity_ && identity_->found() && identity_->signature &&
        identity_->signature->version == kUnsafeFastProtocolVersion) {
        o.advice = LoaderAdvice::ReplaceVersion1;
    }
    return o;
}

std::uint32_t Programmer::capacity_for(MemoryKind memory) const {
    return memory == MemoryKind::Flash ? state_.model.loader_start : state_.model.eeprom_size;
}

std::span<const std::uint8_t> Programmer::read_back(MemoryKind memory) const {
    return readback_of(std::as_const(state_), memory).first(capacity_for(memory));
}

OperationOutcome Programmer::erase(MemoryKind memory, ProgressObserver& progress) {
    return advised(erase_unadvised(memory, progress));
}

OperationOutcome Programmer::erase_unadvised(MemoryKind memory, ProgressObserver& progress) {
    OperationOutcome o = begin(Operation::Erase, memory);
    const std::uint32_t size = capacity_for(memory);
    const std::uint32_t step = memory == MemoryKind::Flash ? kFlashPageBytes : kBlockSize;
    o.end_address = size;
    progress.on_phase(Phase::Erasing);
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    protocol_.discard_stale_input();
    if (road() == Road::Fast) return fast_.erase(o, progress);
    if (auto failure = leave_session()) return failed(o, *failure);
    progress.on_range(size);
    progress.on_position(0);
    Stopwatch watch(clock_);
    for (std::uint32_t a = 0; a < size; a += step) {
        if (cancelled()) {
            o.elapsed_ms = watch.elapsed();
            return interrupted(o, a);
        }
        auto failure = memory == MemoryKind::Flash ? protocol_.erase_flash_page(a) : protocol_.erase_eeprom_block(a);
        if (failure) {
            o.elapsed_ms = watch.elapsed();
            return failed(o, *failure);
        }
        progress.on_position(a + step);
    }
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome Programmer::load_file(OperationOutcome o, const std::string& path) {
    o.path = path;
    auto loaded = load_image_file(path, o.memory, image_of(state_, o.memory));
    if (auto* error = std::get_if<HexError>(&loaded)) {
        o.result = Result::FileFailure;
        o.file_error = *error;
        return o;
    }
    const auto range = std::get<LoadedRange>(loaded);
    o.first_address = range.start;
    o.end_address = range.end;
    if (range.end > capacity_for(o.memory)) {
        // Flash at the loader's address would overwrite the loader; EEPROM past its
        // size does not exist on the chip.
        o.result = Result::Refused;
        o.refusal = o.memory == MemoryKind::Flash ? Refusal::DataOverLoader : Refusal::DataBeyondEeprom;
        o.refused_address = range.end - 1;
        o.refusal_limit = capacity_for(o.memory);
    }
    return o;
}

OperationOutcome Programmer::check_file(MemoryKind memory, const std::string& path) {
    return load_file(begin(Operation::Write, memory), path);
}

OperationOutcome Programmer::write(MemoryKind memory, const std::string& path, ProgressObserver& progress,
                                   WriteOptions options) {
    return advised(write_unadvised(memory, path, progress, options));
}

OperationOutcome Programmer::write_unadvised(MemoryKind memory, const std::string& path, ProgressObserver& progress,
                                             WriteOptions options) {
    progress.on_phase(Phase::Writing);
    OperationOutcome o = load_file(begin(Operation::Write, memory), path);
    if (!o.ok()) return o;
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    protocol_.discard_stale_input();
    // Our loader's page frames erase what they program: no page erase of their own.
    if (road() == Road::Fast) return fast_.write(o, progress);
    if (auto failure = leave_session()) return failed(o, *failure);
    return memory == MemoryKind::Flash ? write_flash(o, progress, options) : write_eeprom(o, progress);
}

OperationOutcome Programmer::write_flash(OperationOutcome o, ProgressObserver& progress, WriteOptions options) {
    // Flash is programmed in whole chip pages (64 or 128 bytes). Deliberately unlike
    // the byte-for-byte 0xFF fill of plain writes: the bytes of the file's first and
    // last chip pages that the file does not cover are read first and written back as
    // the chip held them, so that writing a file never erases the user's data beside it.
    const PageSpan span = chip_page_span(o.first_address, o.end_address, chip_page_bytes(state_.model));
    const std::uint32_t start = span.start;
    const std::uint32_t end = std::max(span.start, span.end);
    progress.on_range(end);
    progress.on_position(0);
    Stopwatch watch(clock_);
    const UnitReader read_unit = [&](std::uint32_t a, std::span<std::uint8_t, kLoaderBlock> into) {
        return protocol_.read_flash_block(a, into);
    };
    if (auto failure = keep_bytes_outside_file(state_.flash_image.bytes, o.first_address, o.end_address, span, read_unit)) {
        o.elapsed_ms = watch.elapsed();
        return failed(o, *failure);
    }
    o.first_address = start;
    o.end_address = end;
    for (std::uint32_t a = start; a < end; a += kBlockSize) {
        if (cancelled()) {
            o.elapsed_ms = watch.elapsed();
            return interrupted(o, a);
        }
        std::copy_n(state_.flash_image.bytes.begin() + a, kBlockSize, state_.block.begin());
        const std::uint8_t pages = end - a <= kFlashPageBytes ? 1 : 2;
        for (std::uint32_t page = 0; options.erase_pages && page < pages; ++page) {
            if (auto failure = protocol_.erase_flash_page(a + page * kFlashPageBytes)) {
                o.elapsed_ms = watch.elapsed();
                return failed(o, *failure);
            }
        }
        if (auto failure = protocol_.write_flash_block(a, state_.block, pages)) {
            o.elapsed_ms = watch.elapsed();
            return failed(o, *failure);
        }
        progress.on_position(a + kBlockSize);
    }
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome Programmer::write_eeprom(OperationOutcome o, ProgressObserver& progress) {
    // EEPROM is written from address 0: bytes the file leaves out are written blank.
    o.first_address = 0;
    const std::uint32_t end = o.end_address;
    progress.on_range(end);
    progress.on_position(0);
    Stopwatch watch(clock_);
    for (std::uint32_t a = 0; a < end; a += kBlockSize) {
        if (cancelled()) {
            o.elapsed_ms = watch.elapsed();
            return interrupted(o, a);
        }
        std::copy_n(state_.eeprom_image.bytes.begin() + a, kBlockSize, state_.block.begin());
        const auto n = static_cast<std::uint8_t>(std::min<std::uint32_t>(kBlockSize, end - a));
        if (auto failure = protocol_.write_eeprom_block(a, state_.block, n)) {
            o.elapsed_ms = watch.elapsed();
            return failed(o, *failure);
        }
        progress.on_position(a + n);
    }
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome Programmer::fetch(OperationOutcome o, std::uint32_t count, ProgressObserver& progress) {
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    fast_.forget_checks();
    progress.on_phase(Phase::Reading);
    auto readback = readback_of(state_, o.memory);
    std::fill_n(readback.begin(), capacity_for(o.memory), kBlank);
    protocol_.discard_stale_input();
    if (road() == Road::Fast) return fast_.read(o, count, progress);
    if (auto failure = leave_session()) return failed(o, *failure);
    progress.on_range(count);
    progress.on_position(0);
    Stopwatch watch(clock_);
    for (std::uint32_t a = 0; a < count; a += kBlockSize) {
        if (cancelled()) {
            o.elapsed_ms = watch.elapsed();
            return interrupted(o, a);
        }
        auto failure = o.memory == MemoryKind::Flash ? protocol_.read_flash_block(a, state_.block)
                                                     : protocol_.read_eeprom_block(a, state_.block);
        if (failure) {
            o.elapsed_ms = watch.elapsed();
            return failed(o, *failure);
        }
        std::copy(state_.block.begin(), state_.block.end(), readback.begin() + a);
        progress.on_position(a + kBlockSize);
    }
    o.elapsed_ms = watch.elapsed();
    return o;
}

OperationOutcome Programmer::verify(MemoryKind memory, const std::string& path, ProgressObserver& progress) {
    return advised(verify_unadvised(memory, path, progress));
}

OperationOutcome Programmer::verify_unadvised(MemoryKind memory, const std::string& path, ProgressObserver& progress) {
    OperationOutcome o = load_file(begin(Operation::Verify, memory), path);
    if (!o.ok()) return o;
    // The device is compared from address 0: below the file's first record it must be blank.
    o.first_address = 0;
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    if (road() == Road::Fast) {
        protocol_.discard_stale_input();
        return fast_.verify(o, progress);
    }
    o = fetch(o, o.end_address, progress);
    if (!o.ok()) return o;
    const auto image = image_of(state_, memory);
    const auto readback = readback_of(state_, memory);
    for (std::uint32_t i = 0; i < o.end_address; ++i) {
        if (image[i] == readback[i]) continue;
        if (o.differences.size() < OperationOutcome::kMaxListedDifferences) {
            o.differences.push_back({i, image[i], readback[i]});
        }
        ++o.difference_count;
    }
    if (o.difference_count > 0) o.result = Result::Differences;
    return o;
}

OperationOutcome Programmer::read(MemoryKind memory, ProgressObserver& progress) {
    OperationOutcome o = begin(Operation::Read, memory);
    o.end_address = capacity_for(memory);
    return advised(fetch(o, o.end_address, progress));
}

OperationOutcome Programmer::save_read(OperationOutcome o, const std::string& path) {
    o.path = path;
    if (auto error = write_file_atomically(path, to_intel_hex(read_back(o.memory)))) {
        o.result = Result::FileFailure;
        o.export_error = *error;
    }
    return o;
}

}  // namespace zarvik
