#include "programmer/patch_check.h"

#include <algorithm>
#include <limits>

#include "memory/elf_loader.h"
#include "programmer/road.h"

namespace zarvik {
namespace {

using Result = OperationOutcome::Result;

OperationOutcome refused(OperationOutcome o, Refusal why, std::uint32_t address) {
    o.result = Result::Refused;
    o.refusal = why;
    o.refused_address = address;
    return o;
}

}  // namespace

std::optional<OperationOutcome> refuse_patch_bounds(OperationOutcome o, const DeviceModel& model,
                                                    const ImagePatch& patch) {
    const std::uint32_t capacity = capacity_of(model, patch.memory);
    if (patch.bytes.empty() || patch.end() <= capacity) return std::nullopt;
    const auto last = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(patch.end() - 1, std::numeric_limits<std::uint32_t>::max()));
    o.memory = patch.memory;
    o = refused(std::move(o), patch.memory == MemoryKind::Flash ? Refusal::DataOverLoader : Refusal::DataBeyondEeprom,
                last);
    o.refusal_limit = capacity;
    o.patch_refused = true;
    return o;
}

std::optional<OperationOutcome> refuse_patch_overlap(OperationOutcome o, const ImagePatch& patch,
                                                     std::span<const std::uint8_t> filled) {
    for (std::uint64_t a = patch.address; a < patch.end() && a < filled.size(); ++a) {
        if (filled[a] != 0) return refused(std::move(o), Refusal::SerialOverFileData, static_cast<std::uint32_t>(a));
    }
    return std::nullopt;
}

std::optional<OperationOutcome> check_patch_place(const DeviceModel& model, const ImagePatch& patch,
                                                  const std::vector<std::pair<MemoryKind, std::string>>& files) {
    OperationOutcome o;
    o.operation = Operation::Write;
    o.memory = patch.memory;
    if (auto out = refuse_patch_bounds(o, model, patch)) return out;
    if (patch.bytes.empty()) return std::nullopt;
    const std::size_t capacity = patch.memory == MemoryKind::Flash ? kFlashCapacity : kEepromCapacity;
    std::vector<std::uint8_t> image(capacity);
    std::vector<std::uint8_t> filled(capacity);
    for (const auto& [memory, path] : files) {
        if (memory != patch.memory) continue;
        o.path = path;
        auto loaded = load_image_file(path, memory, image, filled);
        if (auto* error = std::get_if<HexError>(&loaded)) {
            OperationOutcome failed = o;
            failed.result = Result::FileFailure;
            failed.file_error = *error;
            return failed;
        }
        if (auto out = refuse_patch_overlap(o, patch, filled)) return out;
    }
    return std::nullopt;
}

}  // namespace zarvik
