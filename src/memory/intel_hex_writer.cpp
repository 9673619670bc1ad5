#include "memory/intel_hex_writer.h"

#include "memory/memory_image.h"

namespace zarvik {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void put_byte(std::string& out, unsigned value) {
    out.push_back(kDigits[(value >> 4) & 0xF]);
    out.push_back(kDigits[value & 0xF]);
}

}  // namespace

std::string to_intel_hex(std::span<const std::uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == kBlank) --end;
    // A blank memory still gets one record: a file of nothing but the end record would
    // be refused as empty when it is loaded to verify the very device it came from.
    if (end == 0) end = std::min<std::size_t>(16, bytes.size());
    std::string out;
    out.reserve(end / 16 * 44 + 64);
    for (std::size_t a = 0; a < end; a += 16) {
        const std::size_t n = std::min<std::size_t>(16, end - a);
        unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
        out.push_back(':');
        put_byte(out, static_cast<unsigned>(n));
        put_byte(out, static_cast<unsigned>(a >> 8));
        put_byte(out, static_cast<unsigned>(a & 0xFF));
        out += "00";
        for (std::size_t i = 0; i < n; ++i) {
            put_byte(out, bytes[a + i]);
            sum += bytes[a + i];
        }
        put_byte(out, (0x100 - (sum & 0xFF)) & 0xFF);
        out += "\r\n";
    }
    out += ":00000001FF\r\n";
    return out;
}

std::string with_required_extension(std::string path, std::string_view extension) {
    // Only the file's own name counts: a folder named "a.eep.d" says nothing about it.
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (path.find(extension, name) == std::string::npos) path += extension;
    return path;
}

}  // namespace zarvik
