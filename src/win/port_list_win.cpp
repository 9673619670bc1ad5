#include "win/port_list_win.h"

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "platform/text_win.h"
#include "serial/port_scan.h"

namespace zarvik::win {
namespace {

std::wstring registry_text(HKEY key, const wchar_t* value) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return buffer;
}

// Every present device of the Ports class that has a COM name.
std::vector<ListedPort> setupapi_ports() {
    std::vector<ListedPort> ports;
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::wstring name = registry_text(key, L"PortName");
        RegCloseKey(key);
        if (name.size() < 4 || _wcsnicmp(name.c_str(), L"COM", 3) != 0) continue;  // LPT1 and the like
        wchar_t friendly[256] = {};
        const std::string port = narrow(name);
        std::string label = port;
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly), sizeof friendly - sizeof(wchar_t),
                                              nullptr) &&
            friendly[0] != 0) {
            label = narrow(friendly);
            // Drivers almost always end the name with the port; where one does not, add it.
            if (label.find(port) == std::string::npos) label += " (" + port + ")";
        }
        ports.push_back({port, label});
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

}  // namespace

std::vector<ListedPort> list_serial_ports() {
    std::vector<ListedPort> ports;
    if (_wgetenv(L"ZARVIK_SERIAL_PORTS") != nullptr) {
        for (const std::string& name : serial_port_candidates()) ports.push_back({name, name});
    } else {
        ports = setupapi_ports();
        // A port that the registry knows but SetupAPI does not (a virtual one) still counts.
        for (const std::string& name : system_serial_ports()) {
            const bool known = std::any_of(ports.begin(), ports.end(), [&](const ListedPort& p) { return p.name == name; });
            if (!known) ports.push_back({name, name});
        }
    }
    std::sort(ports.begin(), ports.end(), [](const ListedPort& a, const ListedPort& b) { return a.label < b.label; });
    ports.erase(std::unique(ports.begin(), ports.end(), [](const ListedPort& a, const ListedPort& b) { return a.name == b.name; }),
                ports.end());
    return ports;
}

}  // namespace zarvik::win
