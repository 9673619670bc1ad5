#include "memory/elf_loader.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "memory/file_io.h"

#if ZARVIK_HAVE_LIBELF
#include <gelf.h>
#include <libelf.h>
#endif

namespace zarvik {
namespace {

// The AVR toolchain's address spaces in an ELF file.
constexpr std::uint64_t kDataSpace = 0x800000;
constexpr std::uint64_t kEepromSpace = 0x810000;
constexpr std::uint64_t kEepromSpaceEnd = 0x820000;
constexpr unsigned kMachineAvr = 83;  // EM_AVR

HexError error(HexError::Kind kind, const std::string& path) {
    HexError e;
    e.kind = kind;
    e.file = path;
    return e;
}

}  // namespace

bool looks_like_elf(std::string_view bytes) { return bytes.substr(0, 4) == std::string_view("\x7F" "ELF", 4); }

#if ZARVIK_HAVE_LIBELF

namespace {

struct ElfHandle {
    Elf* elf = nullptr;
    ~ElfHandle() {
        if (elf) elf_end(elf);
    }
};

HexError elf_error(const std::string& path) {
    HexError e = error(HexError::Kind::BadElf, path);
    const char* why = elf_errmsg(-1);
    e.detail = why ? why : "";
    return e;
}

}  // namespace

HexLoadResult load_elf(std::string_view bytes, MemoryKind memory, std::span<std::uint8_t> image,
                       const std::string& path, std::span<std::uint8_t> filled) {
    std::fill(image.begin(), image.end(), kBlank);
    std::fill(filled.begin(), filled.end(), std::uint8_t{0});
    if (elf_version(EV_CURRENT) == EV_NONE) return elf_error(path);
    // libelf wants a writable buffer even to read.
    std::vector<char> copy(bytes.begin(), bytes.end());
    ElfHandle handle{elf_memory(copy.data(), copy.size())};
    if (handle.elf == nullptr || elf_kind(handle.elf) != ELF_K_ELF) return elf_error(path);
    GElf_Ehdr header;
    if (gelf_getehdr(handle.elf, &header) == nullptr) return elf_error(path);
    if (header.e_machine != kMachineAvr) {
        HexError e = error(HexError::Kind::NotAvrElf, path);
        e.found = header.e_machine;
        return e;
    }
    std::size_t segments = 0;
    if (elf_getphdrnum(handle.elf, &segments) != 0) return elf_error(path);
    LoadedRange range{UINT32_MAX, 0};
    for (std::size_t i = 0; i < segments; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(handle.elf, static_cast<int>(i), &segment) == nullptr) return elf_error(path);
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0) continue;
        const std::uint64_t at = segment.p_paddr;
        std::uint64_t base = 0;
        if (memory == MemoryKind::Flash && at < kDataSpace) {
            base = 0;
        } else if (memory == MemoryKind::Eeprom && at >= kEepromSpace && at < kEepromSpaceEnd) {
            base = kEepromSpace;
        } else {
            continue;
        }
        if (segment.p_offset > bytes.size() || segment.p_filesz > bytes.size() - segment.p_offset) {
            HexError e = error(HexError::Kind::BadElf, path);
            e.detail = "a segment lies past the end of the file";
            return e;
        }
        const std::uint64_t start = at - base;
        if (start + segment.p_filesz > image.size()) {
            HexError e = error(HexError::Kind::BeyondCapacity, path);
            e.address = static_cast<std::uint32_t>(std::max<std::uint64_t>(start, image.size()));
            return e;
        }
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(segment.p_offset), segment.p_filesz,
                    image.begin() + static_cast<std::ptrdiff_t>(start));
        if (!filled.empty()) std::fill_n(filled.begin() + static_cast<std::ptrdiff_t>(start), segment.p_filesz, std::uint8_t{1});
        range.start = std::min(range.start, static_cast<std::uint32_t>(start));
        range.end = std::max(range.end, static_cast<std::uint32_t>(start + segment.p_filesz));
    }
    if (range.end == 0) return error(HexError::Kind::Empty, path);
    return range;
}

#else

HexLoadResult load_elf(std::string_view, MemoryKind, std::span<std::uint8_t> image, const std::string& path,
                       std::span<std::uint8_t> filled) {
    std::fill(image.begin(), image.end(), kBlank);
    std::fill(filled.begin(), filled.end(), std::uint8_t{0});
    return error(HexError::Kind::ElfUnsupported, path);
}

#endif

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
