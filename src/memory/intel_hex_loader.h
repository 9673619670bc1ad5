#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "memory/intel_hex_error.h"

namespace zarvik {

// The addresses a load covered: from the lowest data byte to one past the highest,
// whatever the order of the records.
struct LoadedRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::size_t size() const { return end - start; }
};

using HexLoadResult = std::variant<LoadedRange, HexError>;

// Parses Intel HEX text into `image`, which is first filled with 0xFF. Checksums are
// checked, lower-case digits accepted, extended segment (02) and linear (04) address
// records honoured; anything that would land outside `image` is refused. On an error
// the image holds whatever was stored before it and must not be sent anywhere.
// `filled`, when given (as large as `image`), comes back 1 for every byte a record
// held and 0 elsewhere: a gap between records is no data, whatever its value.
HexLoadResult load_intel_hex(std::string_view text, std::span<std::uint8_t> image,
                             std::span<std::uint8_t> filled = {});

// Reads the whole file, then parses it as above; errors carry the path.
HexLoadResult load_intel_hex_file(const std::string& path, std::span<std::uint8_t> image);

}  // namespace zarvik
