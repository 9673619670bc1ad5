#include "presenter/text_encoding.h"

#include <cstdint>

namespace zarvik {
namespace {

// Windows-1251, bytes 0x80 to 0xFF; 0 where the code page has no character.
constexpr char16_t kUpper[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B,
    0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439,
    0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code point starting at `at`, and how many bytes it takes; 0 bytes when the
// sequence is not well-formed UTF-8 (overlong forms and surrogates included).
std::pair<char32_t, std::size_t> next_code_point(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (at + length > text.size()) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
    return {c, length};
}

}  // namespace

std::string utf8_from_cp1251(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        append_utf8(out, c < 0x80 ? char32_t{c} : kUpper[c - 0x80] != 0 ? char32_t{kUpper[c - 0x80]} : U'\uFFFD');
    }
    return out;
}

std::string cp1251_from_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto [c, length] = next_code_point(text, at);
        if (length == 0) {  // not UTF-8 at all: one unknown character a byte
            out.push_back('?');
            ++at;
            continue;
        }
        at += length;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char byte = '?';
        for (int i = 0; i < 128; ++i) {
            if (kUpper[i] != 0 && kUpper[i] == c) byte = static_cast<char>(0x80 + i);
        }
        out.push_back(byte);
    }
    return out;
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = next_code_point(text, at).second;
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string decode_help_text(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (!is_valid_utf8(bytes)) return utf8_from_cp1251(bytes);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return std::string(bytes);
}

}  // namespace zarvik
