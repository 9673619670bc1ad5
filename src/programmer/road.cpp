#include "programmer/road.h"

#include <algorithm>

namespace zarvik {

std::span<std::uint8_t> image_of(ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<std::uint8_t>(s.flash_image.bytes) : std::span<std::uint8_t>(s.eeprom_image.bytes);
}

std::span<std::uint8_t> readback_of(ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<std::uint8_t>(s.flash_readback.bytes)
                                  : std::span<std::uint8_t>(s.eeprom_readback.bytes);
}

std::span<const std::uint8_t> readback_of(const ProgrammerState& s, MemoryKind m) {
    return m == MemoryKind::Flash ? std::span<const std::uint8_t>(s.flash_readback.bytes)
                                  : std::span<const std::uint8_t>(s.eeprom_readback.bytes);
}

std::uint32_t capacity_of(const DeviceModel& model, MemoryKind m) {
    return m == MemoryKind::Flash ? model.loader_start : model.eeprom_size;
}

OperationOutcome interrupted(OperationOutcome o, std::uint32_t address) {
    o.result = OperationOutcome::Result::Interrupted;
    o.stopped_address = address;
    return o;
}

OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure, bool stop_requested) {
    if (failure.interrupted || stop_requested) return interrupted(o, failure.address);
    o.result = OperationOutcome::Result::LinkFailure;
    o.link_failure = failure;
    return o;
}

std::uint32_t note_differences(OperationOutcome& o, std::uint32_t address, std::span<const std::uint8_t> wanted,
                               std::span<const std::uint8_t> found) {
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i] == found[i]) continue;
        if (o.differences.size() < OperationOutcome::kMaxListedDifferences) {
            o.differences.push_back({address + i, wanted[i], found[i]});
        }
        ++o.difference_count;
        ++count;
    }
    return count;
}

OperationOutcome judged(OperationOutcome o) {
    if (o.difference_count > 0) o.result = OperationOutcome::Result::Differences;
    return o;
}

PageSpan file_pages(const OperationOutcome& o, const DeviceModel& model) {
    const PageSpan span = chip_page_span(o.first_address, o.end_address, chip_page_bytes(model));
    return {span.start, std::max(span.start, span.end)};
}

}  // namespace zarvik
