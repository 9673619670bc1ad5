#pragma once

#include <span>
#include <string>
#include <string_view>

#include "memory/intel_hex_loader.h"
#include "memory/memory_image.h"

namespace zarvik {

// An ELF file starts with these four bytes; anything else is taken for Intel HEX.
bool looks_like_elf(std::string_view bytes);

// Loads what avr-gcc linked for one memory into `image` (first filled with 0xFF):
// flash from the loadable segments below the AVR's data space (0x800000), EEPROM from
// the segment at 0x810000 (the .eeprom section). Addresses are the load addresses, as
// avr-objcopy uses them. An ELF for another machine is refused. `filled`, when given,
// marks the bytes a segment's file contents held, as load_intel_hex does.
HexLoadResult load_elf(std::string_view bytes, MemoryKind memory, std::span<std::uint8_t> image,
                       const std::string& path, std::span<std::uint8_t> filled = {});

// Reads the file and loads it as ELF or as Intel HEX, whichever it is.
HexLoadResult load_image_file(const std::string& path, MemoryKind memory, std::span<std::uint8_t> image,
                              std::span<std::uint8_t> filled = {});

}  // namespace zarvik
