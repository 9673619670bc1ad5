#include "memory/elf_loader.h"

#include <algorithm>
#include <cstdint>

#include "memory/file_io.h"

namespace zarvik {
namespace {

// The AVR toolchain's address spaces in an ELF file.
constexpr std::uint64_t kDataSpace = 0x800000;
constexpr std::uint64_t kEepromSpace = 0x810000;
constexpr std::uint64_t kEepromSpaceEnd = 0x820000;
constexpr unsigned kMachineAvr = 83;  // EM_AVR

// What avr-gcc writes, and all that is read of it: the file header and the program
// header table of a 32-bit little-endian ELF file. Every field is read through `at`,
// which is checked against the file's size first, so no input reads outside it.
constexpr std::size_t kIdentSize = 16;
constexpr std::uint8_t kClass32 = 1;
constexpr std::uint8_t kClass64 = 2;
constexpr std::uint8_t kLittleEndian = 1;
constexpr std::uint8_t kBigEndian = 2;
constexpr std::size_t kMachineAt = 18;      // the same in both classes
constexpr std::size_t kHeaderSize32 = 52;
constexpr std::size_t kPhoffAt = 28;
constexpr std::size_t kPhentsizeAt = 42;
constexpr std::size_t kPhnumAt = 44;
constexpr std::size_t kSegmentEntrySize = 32;
constexpr std::uint16_t kManySegments = 0xFFFF;  // PN_XNUM: the count kept elsewhere
constexpr std::uint32_t kLoadable = 1;            // PT_LOAD

HexError error(HexError::Kind kind, const std::string& path) {
    HexError e;
    e.kind = kind;
    e.file = path;
    return e;
}

HexError defect(ElfDefect what, const std::string& path) {
    HexError e = error(HexError::Kind::BadElf, path);
    e.elf_defect = what;
    return e;
}

// A little- or big-endian field of `size` bytes at `offset`; the caller has checked
// that it lies inside `bytes`.
std::uint32_t field(std::string_view bytes, std::size_t offset, std::size_t size, bool little) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[offset + (little ? size - 1 - i : i)]);
        value = (value << 8) | byte;
    }
    return value;
}

struct Segment {
    std::uint32_t type;
    std::uint32_t offset;
    std::uint32_t paddr;
    std::uint32_t filesz;
};

}  // namespace

bool looks_like_elf(std::string_view bytes) { return bytes.substr(0, 4) == std::string_view("\x7F" "ELF", 4); }

HexLoadResult load_elf(std::string_view bytes, MemoryKind memory, std::span<std::uint8_t> image,
                       const std::string& path, std::span<std::uint8_t> filled) {
    std::fill(image.begin(), image.end(), kBlank);
    std::fill(filled.begin(), filled.end(), std::uint8_t{0});
    if (!looks_like_elf(bytes) || bytes.size() < kIdentSize + 4) return defect(ElfDefect::Header, path);
    const auto file_class = static_cast<std::uint8_t>(bytes[4]);
    const auto order = static_cast<std::uint8_t>(bytes[5]);
    if ((file_class != kClass32 && file_class != kClass64) || (order != kLittleEndian && order != kBigEndian)) {
        return defect(ElfDefect::Header, path);
    }
    // Another machine's file is named as such whatever its class: the machine field
    // stands at the same place in both.
    const std::uint32_t machine = field(bytes, kMachineAt, 2, order == kLittleEndian);
    if (machine != kMachineAvr) {
        HexError e = error(HexError::Kind::NotAvrElf, path);
        e.found = machine;
        return e;
    }
    if (file_class != kClass32 || order != kLittleEndian || bytes.size() < kHeaderSize32) {
        return defect(ElfDefect::Header, path);
    }
    const std::uint64_t table = field(bytes, kPhoffAt, 4, true);
    const std::uint32_t entry_size = field(bytes, kPhentsizeAt, 2, true);
    const std::uint32_t count = field(bytes, kPhnumAt, 2, true);
    if (count == kManySegments || (count > 0 && entry_size != kSegmentEntrySize) ||
        table + std::uint64_t{count} * kSegmentEntrySize > bytes.size()) {
        return defect(ElfDefect::SegmentTable, path);
    }
    LoadedRange range{UINT32_MAX, 0};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(table) + i * kSegmentEntrySize;
        const Segment segment{field(bytes, at, 4, true), field(bytes, at + 4, 4, true), field(bytes, at + 12, 4, true),
                              field(bytes, at + 16, 4, true)};
        if (segment.type != kLoadable || segment.filesz == 0) continue;
        const std::uint64_t load_at = segment.paddr;
        std::uint64_t base = 0;
        if (memory == MemoryKind::Flash && load_at < kDataSpace) {
            base = 0;
        } else if (memory == MemoryKind::Eeprom && load_at >= kEepromSpace && load_at < kEepromSpaceEnd) {
            base = kEepromSpace;
        } else {
            continue;
        }
        if (std::uint64_t{segment.offset} + segment.filesz > bytes.size()) return defect(ElfDefect::SegmentData, path);
        const std::uint64_t start = load_at - base;
        if (start + segment.filesz > image.size()) {
            HexError e = error(HexError::Kind::BeyondCapacity, path);
            e.address = static_cast<std::uint32_t>(std::max<std::uint64_t>(start, image.size()));
            return e;
        }
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(segment.offset), segment.filesz,
                    image.begin() + static_cast<std::ptrdiff_t>(start));
        if (!filled.empty()) std::fill_n(filled.begin() + static_cast<std::ptrdiff_t>(start), segment.filesz, std::uint8_t{1});
        range.start = std::min(range.start, static_cast<std::uint32_t>(start));
        range.end = std::max(range.end, static_cast<std::uint32_t>(start + segment.filesz));
    }
    if (range.end == 0) return error(HexError::Kind::Empty, path);
    return range;
}

HexLoadResult load_image_file(const std::string& path, MemoryKind memory, std::span<std::uint8_t> image,
                              std::span<std::uint8_t> filled) {
    std::string bytes;
    if (auto failure = read_whole_file(path, bytes)) {
        HexError e = error(HexError::Kind::CannotOpen, path);
        e.detail = *failure;
        return e;
    }
    if (looks_like_elf(bytes)) return load_elf(bytes, memory, image, path, filled);
    auto result = load_intel_hex(bytes, image, filled);
    if (auto* e = std::get_if<HexError>(&result)) e->file = path;
    return result;
}

}  // namespace zarvik
