#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvik {

// A USB device as Windows names its device node: "USB\VID_0403&PID_6001\A50285BI".
// The last part is the device's own serial number when it has one; otherwise Windows
// makes one up from where it is plugged in, and that always holds an '&'.
struct UsbDeviceId {
    std::string usb_id;  // "0403:6001", lower case as the other systems give it
    std::string serial;  // empty when the device has none
};

// Nothing for a node that is not a whole USB device: another bus (an FTDI or a
// Prolific driver's own node, "FTDIBUS\..."), an interface of a composite device
// ("...&MI_00\..."), or a text that is no such name. The caller walks up to the parent.
std::optional<UsbDeviceId> parse_usb_device_id(std::string_view instance_id);

}  // namespace zarvik
