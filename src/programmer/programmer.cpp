#include "programmer/programmer.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "memory/elf_loader.h"
#include "memory/file_io.h"
#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

OperationOutcome begin(Operation op, MemoryKind memory) {
    OperationOutcome o;
    o.operation = op;
    o.memory = memory;
    return o;
}

// The patch's pass after the file's, as one outcome: the file's range and path, both
// passes' time and differences, and the patch pass's failure if it had one.
OperationOutcome joined(const OperationOutcome& file, OperationOutcome patch) {
    patch.first_address = file.first_address;
    patch.end_address = file.end_address;
    patch.path = file.path;
    patch.elapsed_ms += file.elapsed_ms;
    std::vector<Difference> differences = file.differences;
    for (const Difference& d : patch.differences) {
        if (differences.size() < OperationOutcome::kMaxListedDifferences) differences.push_back(d);
    }
    patch.differences = std::move(differences);
    patch.difference_count += file.difference_count;
    if (patch.result == Result::Success && patch.difference_count > 0) patch.result = Result::Differences;
    return patch;
}

}  // namespace

Programmer::Programmer(ProgrammerState& state, ByteLink& link, Clock& clock)
    : state_(state), clock_(clock), protocol_(link, clock), plain_(state, protocol_, clock), fast_(state, link, clock) {}

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

std::uint32_t Programmer::capacity_for(MemoryKind memory) const { return capacity_of(state_.model, memory); }

template <typename Step>
OperationOutcome Programmer::on_road(const OperationOutcome& o, Step step) {
    if (road() == Road::Fast) return step(static_cast<MemoryRoad&>(fast_));
    if (auto failure = leave_session()) return failed(o, *failure);
    // Plain exchanges may change what the chip holds: the fast road's checks no longer
    // stand for it.
    fast_.forget_checks();
    return step(static_cast<MemoryRoad&>(plain_));
}

void Programmer::clear_read_back(MemoryKind memory) {
    std::fill_n(readback_of(state_, memory).begin(), capacity_for(memory), kBlank);
}

std::span<const std::uint8_t> Programmer::read_back(MemoryKind memory) const {
    return readback_of(std::as_const(state_), memory).first(capacity_for(memory));
}

OperationOutcome Programmer::erase(MemoryKind memory, ProgressObserver& progress) {
    return advised(erase_unadvised(memory, progress));
}

OperationOutcome Programmer::erase_unadvised(MemoryKind memory, ProgressObserver& progress) {
    OperationOutcome o = begin(Operation::Erase, memory);
    o.end_address = capacity_for(memory);
    progress.on_phase(Phase::Erasing);
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    protocol_.discard_stale_input();
    return on_road(o, [&](MemoryRoad& road) { return road.erase(o, progress); });
}

const ImagePatch* Programmer::patch_for(MemoryKind memory) const {
    return patch_ && patch_->memory == memory && !patch_->bytes.empty() ? &*patch_ : nullptr;
}

void Programmer::put_patch() {
    const auto image = image_of(state_, patch_->memory);
    std::copy(patch_->bytes.begin(), patch_->bytes.end(), image.begin() + patch_->address);
}

std::optional<OperationOutcome> Programmer::check_patch(Operation operation) const {
    if (!patch_) return std::nullopt;
    return refuse_patch_bounds(begin(operation, patch_->memory), state_.model, *patch_);
}

OperationOutcome Programmer::load_file(OperationOutcome o, const std::string& path) {
    o.path = path;
    const ImagePatch* patch = patch_for(o.memory);
    // Which bytes the file held is asked only when a patch must keep off them.
    std::span<std::uint8_t> filled;
    if (patch) {
        filled_.assign(image_of(state_, o.memory).size(), 0);
        filled = filled_;
    }
    auto loaded = load_image_file(path, o.memory, image_of(state_, o.memory), filled);
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
        return o;
    }
    if (patch) {
        if (auto refused = refuse_patch_bounds(o, state_.model, *patch)) return *refused;
        if (auto refused = refuse_patch_overlap(o, *patch, filled_)) return *refused;
        put_patch();
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
    // EEPROM is written from address 0: bytes the file leaves out are written blank.
    if (memory == MemoryKind::Eeprom) o.first_address = 0;
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    protocol_.discard_stale_input();
    // A patch in the file's range is in the image already; one outside it goes on its
    // own, so that nothing between the two is written.
    const ImagePatch* patch = patch_for(memory);
    const bool apart = patch != nullptr && (patch->address < o.first_address || patch->end() > o.end_address);
    OperationOutcome file = on_road(o, [&](MemoryRoad& road) { return road.write(o, progress, options); });
    if (!apart || !file.ok()) return file;
    return joined(file, write_patch_range(begin(Operation::Write, memory), progress, options));
}

OperationOutcome Programmer::write_patch_range(OperationOutcome o, ProgressObserver& progress, WriteOptions options) {
    // The file's pass may have put the chip's bytes of a shared page where the patch goes.
    put_patch();
    o.first_address = patch_->address;
    o.end_address = static_cast<std::uint32_t>(patch_->end());
    return on_road(o, [&](MemoryRoad& road) { return road.write(o, progress, options); });
}

OperationOutcome Programmer::verify_patch_range(OperationOutcome o, ProgressObserver& progress) {
    o.first_address = patch_->address;
    o.end_address = static_cast<std::uint32_t>(patch_->end());
    return on_road(o, [&](MemoryRoad& road) { return road.verify(o, progress); });
}

OperationOutcome Programmer::write_patch(ProgressObserver& progress, WriteOptions options) {
    if (!patch_) return begin(Operation::Write, MemoryKind::Eeprom);
    const MemoryKind memory = patch_->memory;
    progress.on_phase(Phase::Writing);
    if (auto refused = check_patch(Operation::Write)) return advised(*refused);
    if (patch_->bytes.empty()) return advised(begin(Operation::Write, memory));
    const OperationOutcome o = begin(Operation::Write, memory);
    if (auto refused = refuse_unless_confirmed(o)) return advised(*refused);
    protocol_.discard_stale_input();
    return advised(write_patch_range(o, progress, options));
}

OperationOutcome Programmer::verify_patch(ProgressObserver& progress) {
    if (!patch_) return begin(Operation::Verify, MemoryKind::Eeprom);
    const MemoryKind memory = patch_->memory;
    if (auto refused = check_patch(Operation::Verify)) return advised(*refused);
    if (patch_->bytes.empty()) return advised(begin(Operation::Verify, memory));
    const OperationOutcome o = begin(Operation::Verify, memory);
    if (auto refused = refuse_unless_confirmed(o)) return advised(*refused);
    put_patch();
    progress.on_phase(Phase::Reading);
    clear_read_back(memory);
    protocol_.discard_stale_input();
    return advised(verify_patch_range(o, progress));
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
    progress.on_phase(Phase::Reading);
    clear_read_back(memory);
    protocol_.discard_stale_input();
    OperationOutcome file = on_road(o, [&](MemoryRoad& road) { return road.verify(o, progress); });
    // A patch beyond the file's end is compared on its own: the bytes between are not
    // the file's, and not blank either.
    const ImagePatch* patch = patch_for(memory);
    if (patch == nullptr || patch->end() <= o.end_address) return file;
    if (file.result != Result::Success && file.result != Result::Differences) return file;
    return joined(file, verify_patch_range(begin(Operation::Verify, memory), progress));
}

OperationOutcome Programmer::read(MemoryKind memory, ProgressObserver& progress) {
    OperationOutcome o = begin(Operation::Read, memory);
    o.end_address = capacity_for(memory);
    return advised(read_unadvised(o, progress));
}

OperationOutcome Programmer::read_unadvised(OperationOutcome o, ProgressObserver& progress) {
    if (auto refused = refuse_unless_confirmed(o)) return *refused;
    fast_.forget_checks();
    progress.on_phase(Phase::Reading);
    clear_read_back(o.memory);
    protocol_.discard_stale_input();
    return on_road(o, [&](MemoryRoad& road) { return road.read(o, progress); });
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
