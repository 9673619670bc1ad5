#include "memory/serial_number.h"

#include <cstdio>
#include <limits>

namespace zarvik {
namespace {

constexpr int kMostDigits = 20;  // every 64-bit number

// Digits only, no sign or blank; nothing on overflow.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, unsigned base) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= base) return std::nullopt;
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

}  // namespace

std::string serial_format_text(const SerialLayout& layout) {
    switch (layout.format) {
        case SerialFormat::U16Le: return "u16le";
        case SerialFormat::U16Be: return "u16be";
        case SerialFormat::U32Le: return "u32le";
        case SerialFormat::U32Be: return "u32be";
        case SerialFormat::Ascii: return "ascii:" + std::to_string(layout.digits);
    }
    return {};
}

std::string serial_place_text(const SerialPlace& place) {
    char address[16];
    std::snprintf(address, sizeof address, "0x%X", place.address);
    return std::string(place.memory == MemoryKind::Flash ? "flash:" : "eeprom:") + address;
}

std::uint32_t SerialLayout::size() const {
    switch (format) {
        case SerialFormat::U16Le:
        case SerialFormat::U16Be: return 2;
        case SerialFormat::U32Le:
        case SerialFormat::U32Be: return 4;
        case SerialFormat::Ascii: return digits > 0 ? static_cast<std::uint32_t>(digits) : 0;
    }
    return 0;
}

std::uint64_t SerialLayout::largest() const {
    switch (format) {
        case SerialFormat::U16Le:
        case SerialFormat::U16Be: return 0xFFFF;
        case SerialFormat::U32Le:
        case SerialFormat::U32Be: return 0xFFFFFFFF;
        case SerialFormat::Ascii: {
            if (digits <= 0) return 0;
            // Twenty digits hold more than 64 bits do.
            if (digits >= kMostDigits) return std::numeric_limits<std::uint64_t>::max();
            std::uint64_t largest = 0;
            for (int i = 0; i < digits; ++i) largest = largest * 10 + 9;
            return largest;
        }
    }
    return 0;
}

std::optional<SerialLayout> parse_serial_format(std::string_view text) {
    struct Word { std::string_view text; SerialFormat format; };
    for (const Word& w : {Word{"u16le", SerialFormat::U16Le}, Word{"u16be", SerialFormat::U16Be},
                          Word{"u32le", SerialFormat::U32Le}, Word{"u32be", SerialFormat::U32Be}}) {
        if (text == w.text) return SerialLayout{w.format, 0};
    }
    constexpr std::string_view kAscii = "ascii:";
    if (!text.starts_with(kAscii)) return std::nullopt;
    const auto digits = parse_unsigned(text.substr(kAscii.size()), 10);
    if (!digits || *digits < 1 || *digits > kMostDigits) return std::nullopt;
    return SerialLayout{SerialFormat::Ascii, static_cast<int>(*digits)};
}

std::optional<SerialPlace> parse_serial_place(std::string_view text) {
    SerialPlace place;
    std::string_view address;
    if (text.starts_with("eeprom:")) {
        place.memory = MemoryKind::Eeprom;
        address = text.substr(7);
    } else if (text.starts_with("flash:")) {
        place.memory = MemoryKind::Flash;
        address = text.substr(6);
    } else {
        return std::nullopt;
    }
    const bool hex = address.starts_with("0x") || address.starts_with("0X");
    const auto value = hex ? parse_unsigned(address.substr(2), 16) : parse_unsigned(address, 10);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    place.address = static_cast<std::uint32_t>(*value);
    return place;
}

bool serial_fits(const SerialLayout& layout, std::uint64_t number) {
    return layout.size() > 0 && number <= layout.largest();
}

std::vector<std::uint8_t> encode_serial(const SerialLayout& layout, std::uint64_t number) {
    const std::uint32_t size = layout.size();
    std::vector<std::uint8_t> out(size);
    switch (layout.format) {
        case SerialFormat::U16Le:
        case SerialFormat::U32Le:
            for (std::uint32_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(number >> (8 * i));
            break;
        case SerialFormat::U16Be:
        case SerialFormat::U32Be:
            for (std::uint32_t i = 0; i < size; ++i) out[size - 1 - i] = static_cast<std::uint8_t>(number >> (8 * i));
            break;
        case SerialFormat::Ascii:
            for (std::uint32_t i = 0; i < size; ++i) {
                out[size - 1 - i] = static_cast<std::uint8_t>('0' + number % 10);
                number /= 10;
            }
            break;
    }
    return out;
}

}  // namespace zarvik
