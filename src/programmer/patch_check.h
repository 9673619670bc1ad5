#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "memory/device_model.h"
#include "memory/memory_image.h"
#include "programmer/outcome.h"

namespace zarvik {

// A few bytes of one memory (a board's serial number) that go onto the chip with a
// file or alone, and change nothing beside them.
struct ImagePatch {
    MemoryKind memory = MemoryKind::Eeprom;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;

    // One past the last byte; 64 bits, so that a patch at the top of the address
    // space cannot wrap round to look small.
    std::uint64_t end() const { return std::uint64_t{address} + bytes.size(); }
};

// Nothing when the patch lies inside the model's memory; otherwise `o` refused the way
// a file reaching as far would be: DataOverLoader at or above the loader's start,
// DataBeyondEeprom past the EEPROM, with the patch's last byte as the address.
std::optional<OperationOutcome> refuse_patch_bounds(OperationOutcome o, const DeviceModel& model,
                                                    const ImagePatch& patch);

// Nothing when no byte of the patch lies on a byte the file held (`filled`, as the
// loaders mark it); otherwise `o` refused SerialOverFileData at the first such byte.
// A gap between records, or a hole between segments, is no data and may take it.
std::optional<OperationOutcome> refuse_patch_overlap(OperationOutcome o, const ImagePatch& patch,
                                                     std::span<const std::uint8_t> filled);

// Before any link exists: the patch against the model's memory and against every file
// of its memory in `files`. Nothing when it may go; otherwise the outcome a write would
// end with (Refused, or FileFailure for a file that does not load).
std::optional<OperationOutcome> check_patch_place(const DeviceModel& model, const ImagePatch& patch,
                                                  const std::vector<std::pair<MemoryKind, std::string>>& files);

}  // namespace zarvik
