// The port layer without a line: what the Windows port asks of the driver, the port
// list and its override, and the failure texts. These run natively and under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/port_scan.h"
#if defined(__linux__)
#include <unistd.h>
#endif
#include "serial/serial_port.h"
#if defined(_WIN32)
#include "serial/w32_line.h"
#endif

namespace zarvik {
namespace {

#if defined(_WIN32)
// Wine rounds 76800, 100000, 125000 and 250000 to 38400 on the wire, so these are
// checked here, on the DCB the port hands to SetCommState, not on a line.
TEST(WindowsLineSetup, EverySpeedExactlyWith8N1AndOnlyTheFlowBitsCleared) {
    for (int baud : kLineSpeeds) {
        for (const DWORD flags_before : {DWORD{0}, ~DWORD{0}, DWORD{0x5555}}) {
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            reinterpret_cast<DWORD*>(&dcb.DCBlength)[2] = flags_before;  // the flag word follows BaudRate
            dcb.BaudRate = 9600;
            dcb.ByteSize = 7;
            dcb.StopBits = TWOSTOPBITS;
            dcb.Parity = NOPARITY;
            dcb.XonChar = 0x11;
            w32::apply_loader_line(dcb, baud);
            EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(baud));
            EXPECT_EQ(dcb.ByteSize, 8);
            EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
            EXPECT_EQ(dcb.Parity, NOPARITY);
            EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE)) << baud;
            EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE)) << baud;
            EXPECT_EQ(dcb.XonChar, 0x11);
            // Bits 1, 2, 4, 5, 6, 12 and 13: parity check, CTS flow, DTR control, DSR
            // sensitivity, RTS control. Every other flag is the driver's.
            const DWORD cleared = (1u << 1) | (1u << 2) | (1u << 4) | (1u << 5) | (1u << 6) | (1u << 12) | (1u << 13);
            const DWORD flags_after = reinterpret_cast<const DWORD*>(&dcb.DCBlength)[2];
            EXPECT_EQ(flags_after, flags_before & ~cleared) << baud << " " << flags_before;
        }
    }
}

TEST(WindowsLineSetup, AllFiveTimeOutsAreFiftyMilliseconds) {
    const COMMTIMEOUTS t = w32::loader_timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 50u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 50u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 50u);
}
#endif

TEST(PortList, OverrideIsSplitOnThePlatformsSeparator) {
#if defined(_WIN32)
    const std::string text = "COM7;;\\\\.\\COM12;";
    const std::vector<std::string> expected = {"COM7", "\\\\.\\COM12"};
#else
    const std::string text = "/dev/pts/3::ttyUSB0:";
    const std::vector<std::string> expected = {"/dev/pts/3", "ttyUSB0"};
#endif
    EXPECT_EQ(split_port_list(text), expected);
    EXPECT_TRUE(split_port_list("").empty());
}

void set_env(const char* name, const char* value) {
#if defined(_WIN32)
    ::_putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

TEST(PortList, TheEnvironmentReplacesTheSystemsList) {
    // Only names that cannot exist: a scan must never touch the machine's own ports.
#if defined(_WIN32)
    set_env("ZARVIK_SERIAL_PORTS", "COM250;COM249");
    const std::vector<std::string> listed = {"COM250", "COM249", "COM248"};
    const std::vector<std::string> candidates = serial_port_candidates({"COM248"});
#else
    set_env("ZARVIK_SERIAL_PORTS", "/dev/zarvik-none-1:/dev/zarvik-none-2");
    const std::vector<std::string> listed = {"/dev/zarvik-none-1", "/dev/zarvik-none-2", "/dev/zarvik-none-3"};
    const std::vector<std::string> candidates = serial_port_candidates({"/dev/zarvik-none-3"});
#endif
    EXPECT_EQ(candidates, listed);
    EXPECT_TRUE(scan_serial_ports(candidates).empty());
    set_env("ZARVIK_SERIAL_PORTS", "");
}

TEST(SerialPortFailure, TheTextNamesThePortAndWhy) {
    SteadyClock clock;
    SerialPort port(clock);
#if defined(_WIN32)
    const std::string name = "COM251";
#else
    const std::string name = "/dev/zarvik-no-such-port";
#endif
    EXPECT_FALSE(port.open(name));
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.error_text(), "Не удалось открыть порт " + name + ": такого порта нет");
#if !defined(_WIN32)
    EXPECT_FALSE(port.open("/dev/null"));
    EXPECT_EQ(port.error_text(), "Не удалось открыть порт /dev/null: это не последовательный порт");
#endif
    std::uint8_t byte[1] = {0};
    EXPECT_FALSE(port.write(byte));
    EXPECT_TRUE(port.read(byte).line_lost);
}

#if defined(__linux__)
TEST(PortList, AUsbAdapterIsDescribedFromSysfs) {
    // A sysfs tree as the kernel lays it out: the tty's device is the USB interface,
    // and its parent, the USB device, carries the ids and names.
    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("zarvik-sysfs-" + std::to_string(::getpid()));
    const auto usb = root / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    std::filesystem::create_directories(usb / "1-2:1.0/ttyUSB0");
    std::filesystem::create_directories(root / "class/tty/ttyUSB0");
    std::filesystem::create_directories(root / "class/tty/ttyS0/device");
    std::filesystem::create_directory_symlink(usb / "1-2:1.0", root / "class/tty/ttyUSB0/device");
    for (const auto& [file, text] : {std::pair{"idVendor", "0403\n"}, std::pair{"idProduct", "6001\n"},
                                      std::pair{"product", "FT232R USB UART\n"}, std::pair{"manufacturer", "FTDI\n"}}) {
        std::ofstream(usb / file) << text;
    }
    const PortDescription usb_port = describe_serial_port("/dev/ttyUSB0", root.string());
    EXPECT_EQ(usb_port.text(), "FT232R USB UART, FTDI, 0403:6001");
    EXPECT_EQ(describe_serial_port("ttyUSB0", root.string()).usb_id, "0403:6001");
    EXPECT_TRUE(describe_serial_port("ttyS0", root.string()).empty());     // a built-in port
    EXPECT_TRUE(describe_serial_port("/dev/pts/3", root.string()).empty());  // a pseudo-terminal
    std::filesystem::remove_all(root);
}
#endif

}  // namespace
}  // namespace zarvik
