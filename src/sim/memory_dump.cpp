#include "sim/memory_dump.h"

#include <cstdio>

#include "memory/file_io.h"
#include "memory/intel_hex_writer.h"

namespace zarvik {

bool dump_memory(const char* program, const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) return true;
    if (auto error = write_file_atomically(path, to_intel_hex(bytes))) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, path.c_str(), error->c_str());
        return false;
    }
    return true;
}

}  // namespace zarvik
