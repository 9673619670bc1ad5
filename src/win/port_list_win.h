#pragma once

#include <string>
#include <vector>

namespace zarvik::win {

// A serial port as the window lists it: the name that is opened, and what the
// system calls the device ("USB-SERIAL CH340 (COM5)"), or the bare name.
struct ListedPort {
    std::string name;   // COM5
    std::string label;  // shown in the list
};

// The system's serial ports with their friendly names, from SetupAPI's Ports class,
// followed by any the registry's SERIALCOMM key adds; when ZARVIK_SERIAL_PORTS is set,
// exactly the ports it names (separated by ';'). No port is opened: opening one
// raises DTR, and that resets many boards. Sorted as text by their labels.
std::vector<ListedPort> list_serial_ports();

}  // namespace zarvik::win
