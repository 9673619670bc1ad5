#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "memory/memory_image.h"

namespace zarvik {

// How a board's serial number is laid out in its memory.
enum class SerialFormat { U16Le, U16Be, U32Le, U32Be, Ascii };

struct SerialLayout {
    SerialFormat format = SerialFormat::U16Le;
    int digits = 0;                 // Ascii: decimal, zero-padded to this many digits (1..20)
    std::uint32_t size() const;     // bytes the number takes
    std::uint64_t largest() const;  // the largest number that fits
};

// Where the number goes.
struct SerialPlace {
    MemoryKind memory = MemoryKind::Eeprom;
    std::uint32_t address = 0;
};

// "u16le" "u16be" "u32le" "u32be" "ascii:N"; nothing when not one of them.
std::optional<SerialLayout> parse_serial_format(std::string_view text);
// "eeprom:ADDR" or "flash:ADDR", ADDR decimal or 0x-hex; nothing otherwise. Whether the
// address lies inside a chip's memory is the programmer's question, not this one's.
std::optional<SerialPlace> parse_serial_place(std::string_view text);
// The texts the two read back: "ascii:6", "eeprom:0x10" (the address always in hex).
std::string serial_format_text(const SerialLayout& layout);
std::string serial_place_text(const SerialPlace& place);
bool serial_fits(const SerialLayout& layout, std::uint64_t number);
// The number's bytes; precondition: it fits.
std::vector<std::uint8_t> encode_serial(const SerialLayout& layout, std::uint64_t number);

}  // namespace zarvik
