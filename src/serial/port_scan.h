#pragma once

#include <string>
#include <vector>

namespace zarvik {

// The serial ports the system knows of, from its own source: the registry key
// HARDWARE\DEVICEMAP\SERIALCOMM on Windows (COM3, ...), the kernel's tty classes on
// Linux (ttyUSB0, ...), the callout devices on macOS (/dev/cu.usbserial-...).
std::vector<std::string> system_serial_ports();

// The ports a scan probes: the system's, or, when ZARVIK_SERIAL_PORTS is set, exactly
// the ports it names (so tests and demos never touch the machine's real ports),
// followed by `extra` ones such as a simulated board's terminal. The list is separated
// by ';' on Windows, where ':' is part of a path, and by ':' elsewhere.
std::vector<std::string> serial_port_candidates(const std::vector<std::string>& extra = {});

// Keeps the candidates that open exclusively right now, sorted as text. Each probe
// opens and closes the port and puts its line settings back.
std::vector<std::string> scan_serial_ports(const std::vector<std::string>& candidates);

bool probe_serial_port(const std::string& name);

// Port names in the order a person counts them: runs of digits compare as numbers, so
// COM3 comes before COM12 and ttyUSB2 before ttyUSB10; the rest compares as text.
bool port_name_before(const std::string& a, const std::string& b);
void sort_ports_by_number(std::vector<std::string>& names);

// What the system knows of a port's adapter, for a listing: its product name, maker
// and USB vendor and product ids ("FT232R USB UART, FTDI, 0403:6001"). Empty when it
// knows nothing (a pseudo-terminal, a built-in port). On Linux from sysfs, which a
// test may put elsewhere.
struct PortDescription {
    std::string product;
    std::string manufacturer;
    std::string usb_id;  // "0403:6001"
    std::string serial;  // the adapter's own serial number, which tells two alike apart; not in text()
    bool empty() const { return product.empty() && manufacturer.empty() && usb_id.empty(); }
    std::string text() const;
};
PortDescription describe_serial_port(const std::string& name, const std::string& sysfs = "/sys");

// Splits a ZARVIK_SERIAL_PORTS value.
std::vector<std::string> split_port_list(const std::string& text);

}  // namespace zarvik
