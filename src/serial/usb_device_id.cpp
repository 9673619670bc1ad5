#include "serial/usb_device_id.h"

#include <cctype>

namespace zarvik {

namespace {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// `field` is `tag` ("VID_") and four hex digits, nothing more: the digits in lower
// case, or empty when it is not.
std::string hex4_field(std::string_view field, std::string_view tag) {
    if (!starts_with_nocase(field, tag) || field.size() != tag.size() + 4) return {};
    std::string digits;
    for (char c : field.substr(tag.size())) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return {};
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return digits;
}

}  // namespace

std::optional<UsbDeviceId> parse_usb_device_id(std::string_view instance_id) {
    if (!starts_with_nocase(instance_id, "USB\\")) return std::nullopt;
    const std::string_view rest = instance_id.substr(4);
    const std::size_t slash = rest.find('\\');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view hardware = rest.substr(0, slash);
    const std::string_view instance = rest.substr(slash + 1);
    // "VID_0403&PID_6001", with nothing after the product id: an "&MI_00" is one
    // interface of a composite device, whose parent is the device itself.
    const std::size_t amp = hardware.find('&');
    if (amp == std::string_view::npos) return std::nullopt;
    const std::string vendor = hex4_field(hardware.substr(0, amp), "VID_");
    const std::string product = hex4_field(hardware.substr(amp + 1), "PID_");
    if (vendor.empty() || product.empty()) return std::nullopt;
    UsbDeviceId id{vendor + ":" + product, {}};
    if (!instance.empty() && instance.find('&') == std::string_view::npos && instance.find('\\') == std::string_view::npos)
        id.serial = std::string(instance);
    return id;
}

}  // namespace zarvik
