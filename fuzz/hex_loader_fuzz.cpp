// Intel HEX loading, for each memory kind and device model, then the export of what was
// loaded: no input may read or write outside an image, and what loads must export and
// load back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>
#include <vector>

#include "memory/device_model.h"
#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "memory/memory_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    using namespace zarvik;
    const DeviceModel& model = kDeviceModels[data[0] % kDeviceModels.size()];
    const bool flash = (data[0] & 0x80) == 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    // Exactly the capacity, on the heap, so that AddressSanitizer sees any overrun.
    std::vector<std::uint8_t> image(flash ? kFlashCapacity : kEepromCapacity);
    const auto result = load_intel_hex(text, image);
    const auto* range = std::get_if<LoadedRange>(&result);
    if (range == nullptr) return 0;
    if (range->start >= range->end || range->end > image.size()) std::abort();
    const std::size_t area = flash ? model.loader_start : model.eeprom_size;
    if (range->end > area) return 0;  // the programmer refuses such a file
    std::vector<std::uint8_t> again(image.size());
    const auto reloaded = load_intel_hex(to_intel_hex(std::span(image).first(area)), again);
    if (std::holds_alternative<LoadedRange>(reloaded) &&
        !std::equal(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(area), again.begin())) {
        std::abort();
    }
    return 0;
}
