#pragma once

#include <optional>
#include <string_view>

#include "memory/memory_image.h"

namespace zarvik {

// Which memory a file named on a command line or dropped on a window is meant for, by
// its extension, whatever its case: ".eep" the EEPROM; ".hex" and ".elf" the flash.
// Nothing for any other name, and for a name whose only dot is in a folder's name.
std::optional<MemoryKind> memory_for_file(std::string_view path);

}  // namespace zarvik
