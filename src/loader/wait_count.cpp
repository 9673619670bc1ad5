#include "loader/wait_count.h"

#include <charconv>
#include <cmath>

namespace zarvik {

std::string with_decimal_points(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == ',') c = '.';
    }
    return out;
}

std::optional<double> parse_number(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    // from_chars takes a minus but not a plus sign.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

WaitCount compute_wait_count(std::string_view fosc_mhz_text, std::string_view timeout_s_text) {
    WaitCount out;
    out.fosc_text = with_decimal_points(fosc_mhz_text);
    out.timeout_text = with_decimal_points(timeout_s_text);
    const auto fosc_mhz = parse_number(out.fosc_text);
    const auto timeout_s = parse_number(out.timeout_text);
    if (!fosc_mhz) {
        out.kind = WaitCount::Kind::FoscNotNumber;
        return out;
    }
    if (!timeout_s) {
        out.kind = WaitCount::Kind::TimeoutNotNumber;
        return out;
    }
    const double fosc_hz = *fosc_mhz * 1000000.0;
    const double raw = std::trunc(*timeout_s * fosc_hz / 12.0 + 1.0);
    if (fosc_hz > 0) out.longest_seconds = std::floor((kMaxWaitCount - 1) * 12.0 / fosc_hz * 100.0) / 100.0;
    if (std::isnan(raw) || raw < 0 || *fosc_mhz < 0 || *timeout_s < 0) {
        out.kind = WaitCount::Kind::Negative;
    } else if (raw > kMaxWaitCount) {
        out.kind = WaitCount::Kind::TooLarge;
    } else {
        out.count = static_cast<std::int32_t>(raw);
        out.seconds = fosc_hz > 0 ? out.count * 12.0 / fosc_hz : 0.0;
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
