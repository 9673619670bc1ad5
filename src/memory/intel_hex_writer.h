#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zarvik {

// Intel HEX text of `bytes` from address 0 up to the last byte that is not 0xFF (at
// least one record, also for a blank memory): 16 data bytes a record, upper case,
// CR LF, then the end-of-file record.
std::string to_intel_hex(std::span<const std::uint8_t> bytes);

// Appends `extension` unless the file name already contains it anywhere (case-sensitive),
// as the save dialogs have always done: "data.EEP" gains ".eep", "a.eep.bak" does not,
// and neither do folder names count: "a.eep.d/data" gains it.
std::string with_required_extension(std::string path, std::string_view extension);

}  // namespace zarvik
