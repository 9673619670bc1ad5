#include "memory/file_kind.h"

#include <string>

namespace zarvik {

std::optional<MemoryKind> memory_for_file(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string extension(name.substr(dot));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == ".eep") return MemoryKind::Eeprom;
    if (extension == ".hex" || extension == ".elf") return MemoryKind::Flash;
    return std::nullopt;
}

}  // namespace zarvik
