#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zarvik {

// What a simulated board leaves behind when it ends: a memory as Intel HEX, for the
// tests and the user to compare. Says why on standard error and returns false when the
// file cannot be written; an empty path writes nothing.
bool dump_memory(const char* program, const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace zarvik
