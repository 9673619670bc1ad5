#include "loader/wait_count.h"

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace zarvik {

std::string with_decimal_points(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == ',') c = '.';
    }
    return out;
}

double parse_leading_number(std::string_view text) {
    std::string s(text);
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    std::size_t digits = i;
    if (digits < s.size() && (s[digits] == '+' || s[digits] == '-')) ++digits;
    // strtod would also take hexadecimal numbers; a typed "0x10" means 0 here.
    if (digits + 1 < s.size() && s[digits] == '0' && (s[digits + 1] == 'x' || s[digits + 1] == 'X')) {
        s.resize(digits + 1);
    }
    // The window sets the user's locale; numbers here always use the point.
    static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return ::strtod_l(s.c_str() + i, nullptr, c_locale);
}

WaitCount compute_wait_count(std::string_view fosc_mhz_text, std::string_view timeout_s_text) {
    WaitCount out;
    out.fosc_text = with_decimal_points(fosc_mhz_text);
    out.timeout_text = with_decimal_points(timeout_s_text);
    const double fosc_hz = parse_leading_number(out.fosc_text) * 1000000.0;
    const double timeout_s = parse_leading_number(out.timeout_text);
    const double raw = std::trunc(timeout_s * fosc_hz / 12.0 + 1.0);
    if (std::isnan(raw)) {
        out.kind = WaitCount::Kind::NotANumber;
    } else if (raw > kMaxWaitCount) {
        out.kind = WaitCount::Kind::TooLarge;
    } else if (raw < 0) {
        out.kind = WaitCount::Kind::Negative;
    } else {
        out.count = static_cast<std::int32_t>(raw);
    }
    return out;
}

void patch_wait_count(std::span<std::uint8_t, 128> block, std::uint32_t count) {
    for (const auto& offsets : {kWaitCountOffsetsFirst, kWaitCountOffsetsSecond}) {
        for (std::size_t k = 0; k < 3; ++k) {
            const auto byte = static_cast<std::uint8_t>(count >> (8 * k));
            const std::size_t o = offsets[k];
            block[o] = static_cast<std::uint8_t>((block[o] & 0xF0) | (byte & 0x0F));
            block[o + 1] = static_cast<std::uint8_t>((block[o + 1] & 0xF0) | (byte >> 4));
        }
    }
}

std::uint32_t decode_wait_count(std::span<const std::uint8_t, 128> block, int copy) {
    const auto& offsets = copy == 0 ? kWaitCountOffsetsFirst : kWaitCountOffsetsSecond;
    std::uint32_t count = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t o = offsets[k];
        count |= static_cast<std::uint32_t>((block[o] & 0x0F) | ((block[o + 1] & 0x0F) << 4)) << (8 * k);
    }
    return count;
}

}  // namespace zarvik
