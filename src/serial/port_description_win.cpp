// A COM port's adapter as Windows knows it: the Ports class's device node whose
// "PortName" is the port, its description and maker, and, up its parents, the USB
// device with the ids and the adapter's own serial number.
#include <windows.h>
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

#include "platform/text_win.h"
#include "serial/port_scan.h"
#include "serial/usb_device_id.h"

namespace zarvik {

namespace {

std::string registry_text(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    wchar_t text[256]{};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, property, &type, reinterpret_cast<BYTE*>(text),
                                             sizeof text - sizeof(wchar_t), nullptr) ||
        type != REG_SZ)
        return {};
    return win::narrow(text);
}

std::wstring port_name(HDEVINFO set, SP_DEVINFO_DATA& info) {
    const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t value[64]{};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : std::wstring();
}

// Up from the port's node: a driver's own bus ("FTDIBUS\...") or a composite device's
// interface sits between it and the USB device.
void add_usb_device(DEVINST node, PortDescription& d) {
    for (int up = 0; up < 4; ++up) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1]{};
        if (::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return;
        if (const auto usb = parse_usb_device_id(win::narrow(id))) {
            d.usb_id = usb->usb_id;
            d.serial = usb->serial;
            return;
        }
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return;
        node = parent;
    }
}

}  // namespace

PortDescription describe_serial_port(const std::string& name, const std::string&) {
    PortDescription d;
    // "\\.\COM12" and "COM12" are the same port.
    const std::wstring wanted = win::widen(name.substr(name.find_last_of('\\') + 1));
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return d;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        if (::_wcsicmp(port_name(set, info).c_str(), wanted.c_str()) != 0) continue;
        d.product = registry_text(set, info, SPDRP_DEVICEDESC);
        d.manufacturer = registry_text(set, info, SPDRP_MFG);
        add_usb_device(info.DevInst, d);
        break;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return d;
}

}  // namespace zarvik
