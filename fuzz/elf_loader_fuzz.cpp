// ELF loading for both memories, into an image of exactly the capacity and into one
// too small for most programs: no input may read or write outside the file's bytes or
// the image, a load that succeeds covers exactly the bytes it changed, and a refusal is
// one of the reasons an ELF file can have, told in a sentence.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "memory/elf_loader.h"
#include "memory/memory_image.h"
#include "programmer/status_texts.h"

namespace {

using namespace zarvik;

void check(std::string_view bytes, MemoryKind memory, std::size_t capacity) {
    // On the heap at its exact size, so that AddressSanitizer sees any overrun.
    std::vector<std::uint8_t> image(capacity, 0x00);
    const HexLoadResult result = load_elf(bytes, memory, image, "fuzz.elf");
    if (const auto* range = std::get_if<LoadedRange>(&result)) {
        if (range->start >= range->end || range->end > image.size()) std::abort();
        const auto blank = [](std::uint8_t b) { return b == kBlank; };
        if (!std::all_of(image.begin(), image.begin() + range->start, blank) ||
            !std::all_of(image.begin() + range->end, image.end(), blank)) {
            std::abort();  // a byte changed outside the range the load reported
        }
        return;
    }
    const HexError& error = std::get<HexError>(result);
    switch (error.kind) {
        case HexError::Kind::NotAvrElf:
        case HexError::Kind::BadElf:
        case HexError::Kind::BeyondCapacity:
        case HexError::Kind::Empty:
            break;
        default:
            std::abort();  // a HEX reason, or "cannot open", for bytes that were there
    }
    if (error.kind == HexError::Kind::BeyondCapacity && error.address < image.size()) std::abort();
    if (hex_error_text(error).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(bytes, MemoryKind::Flash, kFlashCapacity);
    check(bytes, MemoryKind::Eeprom, kEepromCapacity);
    check(bytes, MemoryKind::Flash, 64);
    return 0;
}
