#pragma once

#include <optional>
#include <string>
#include <string_view>

// Paths are UTF-8 on every platform; files are read and written as bytes, never as
// text, so a HEX file's line ends and a Cyrillic name come through unchanged.

namespace zarvik {

// Reads a whole file. Returns the system's error text on failure.
std::optional<std::string> read_whole_file(const std::string& path, std::string& out);

// Writes through a temporary file beside the target and renames it into place, so a
// failure (disk full, no permission) leaves an existing file as it was.
// Returns the system's error text on failure.
std::optional<std::string> write_file_atomically(const std::string& path, std::string_view content);

}  // namespace zarvik
