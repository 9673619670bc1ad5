// The port layer without a line: what the Windows port asks of the driver, the port
// list and its override, and the failure texts. These run natively and under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/port_scan.h"
#include "serial/usb_device_id.h"
#if defined(__linux__)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "link/clock.h"
#include "serial/lying_driver.h"
#endif
#include "serial/serial_port.h"
#if defined(_WIN32)
#include "serial/line_win.h"
#endif

namespace zarvik {
namespace {

#if defined(_WIN32)
// Wine rounds 76800, 100000, 125000 and 250000 to 38400 on the wire, so these are
// checked here, on the DCB the port hands to SetCommState, not on a line.
// Whatever the driver, or the program that used the port before, left in the DCB, the
// line comes out the same: binary 8N1 with no flow control of any kind, nothing
// replaced or dropped, and no error that would abort every later read.
TEST(WindowsLineSetup, EverySpeedGivesTheWholeLineWhateverThePortHeld) {
    struct Before { const char* what; DWORD flags; BYTE byte_size; BYTE parity; BYTE stop_bits; };
    const Before befores[] = {
        {"all flags off", 0, 8, NOPARITY, ONESTOPBIT},
        {"all flags on, 7E2", ~DWORD{0}, 7, EVENPARITY, TWOSTOPBITS},
        {"every other flag, 5O1.5", 0x5555, 5, ODDPARITY, ONE5STOPBITS},
        // What a terminal program leaves: XON/XOFF both ways, hardware handshake, DSR
        // sensitivity, abort on error.
        {"a terminal's handshakes", (1u << 2) | (1u << 3) | (1u << 6) | (1u << 8) | (1u << 9) | (2u << 12) | (1u << 14),
         8, MARKPARITY, ONESTOPBIT},
    };
    for (int baud : kLineSpeeds) {
        for (const Before& b : befores) {
            DCB dcb{};
            dcb.DCBlength = 0;
            reinterpret_cast<DWORD*>(&dcb.DCBlength)[2] = b.flags;  // the flag word follows BaudRate
            dcb.BaudRate = 9600;
            dcb.ByteSize = b.byte_size;
            dcb.Parity = b.parity;
            dcb.StopBits = b.stop_bits;
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
            win::apply_loader_line(dcb, baud);
            SCOPED_TRACE(std::to_string(baud) + ", " + b.what);
            EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
            EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(baud));
            EXPECT_EQ(dcb.ByteSize, 8);
            EXPECT_EQ(dcb.Parity, NOPARITY);
            EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
            EXPECT_EQ(dcb.fBinary, 1u);
            EXPECT_EQ(dcb.fParity, 0u);
            EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
            EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
            EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
            EXPECT_EQ(dcb.fDsrSensitivity, 0u);
            EXPECT_EQ(dcb.fOutX, 0u);  // an 0x13 in the data would stop our output
            EXPECT_EQ(dcb.fInX, 0u);
            EXPECT_EQ(dcb.fErrorChar, 0u);
            EXPECT_EQ(dcb.fNull, 0u);  // a 0x00 in the data would be dropped
            EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
            EXPECT_EQ(dcb.fAbortOnError, 0u);
            // With XON/XOFF off the characters are unused; kept, as a driver refuses
            // a DCB whose two are equal.
            EXPECT_EQ(dcb.XonChar, 0x11);
            EXPECT_EQ(dcb.XoffChar, 0x13);
        }
    }
}

TEST(WindowsLineSetup, AllFiveTimeOutsAreFiftyMilliseconds) {
    const COMMTIMEOUTS t = win::loader_timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 50u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 50u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 50u);
}
#endif

TEST(LineSpeed, APortRunningAtAnotherSpeedIsTold) {
    struct Case { int asked; int actual; bool runs; };
    for (const Case& c : {Case{115200, 115200, true}, Case{250000, 250000, true},
                          Case{76800, 76677, true},    // what an FTDI chip makes of 76800
                          Case{76800, 38400, false},   // Wine 8
                          Case{100000, 115200, false}, Case{250000, 38400, false},
                          Case{4800, 4897, false},     // 2.02 %: with the chip's own error, past a UART's tolerance
                          Case{4800, 4896, true},
                          Case{115200, 0, false}}) {
        EXPECT_EQ(runs_at_speed(c.asked, c.actual), c.runs) << c.asked << " " << c.actual;
    }
    EXPECT_EQ(speed_failure("COM5", 76800, 38400), "порт COM5 работает на 38400 бод, а не на 76800: драйвер не даёт этой скорости");
    EXPECT_EQ(speed_failure("COM5", 76800, 0), "порт COM5 не принял скорость 76800 бод");
}

#if defined(__linux__)
// The rule where it is used: a port whose driver reads back another speed than the
// one asked for is refused by set_speed, with the speed it runs at named; one that
// reads back a speed near enough is taken. A pseudo-terminal stands in for the
// adapter; its driver is made to read back what a real one might.
TEST(LineSpeed, SetSpeedRefusesAPortThatReadsBackAnotherSpeed) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    struct Case { int asked; int read_back; bool taken; };
    for (const Case& c : {Case{115200, 0, true},  // the driver's own answer: what was set
                          Case{76800, 76677, true}, Case{76800, 38400, false}, Case{115200, 57600, false},
                          Case{250000, 38400, false}}) {
        SCOPED_TRACE(std::to_string(c.asked) + " read back as " + std::to_string(c.read_back));
        SteadyClock clock;
        SerialPort port(clock);
        ASSERT_TRUE(port.open(slave));
        testing::driver_reads_back_speed(c.read_back);
        const bool taken = port.set_speed(c.asked);
        testing::driver_reads_back_speed(0);
        EXPECT_EQ(taken, c.taken);
        if (!c.taken) {
            EXPECT_EQ(port.error_text(), speed_failure(port.name(), c.asked, c.read_back));
        }
        port.close();
    }
    ::close(master);
}
#endif

TEST(LineSpeed, TimeOnTheLineIsTenBitsAByteRoundedUp) {
    EXPECT_EQ(line_time_ms(132, 4800), 275);  // a block with its command at the lowest speed
    EXPECT_EQ(line_time_ms(4, 115200), 1);
    EXPECT_EQ(line_time_ms(0, 4800), 0);
    EXPECT_EQ(line_time_ms(128, 0), 0);  // no speed set: nothing to wait for
}

TEST(PortList, NamesSortAsNumbersForTheListing) {
    std::vector<std::string> names = {"COM12", "COM3", "COM1", "COM10", "COM2", "\\\\.\\COM4"};
    sort_ports_by_number(names);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM10", "COM12", "\\\\.\\COM4"}));
    std::vector<std::string> linux_names = {"ttyUSB10", "ttyS1", "ttyUSB2", "ttyACM0", "/dev/pts/10", "/dev/pts/9"};
    sort_ports_by_number(linux_names);
    EXPECT_EQ(linux_names,
              (std::vector<std::string>{"/dev/pts/9", "/dev/pts/10", "ttyACM0", "ttyS1", "ttyUSB2", "ttyUSB10"}));
    EXPECT_TRUE(port_name_before("COM9", "COM10"));
    EXPECT_FALSE(port_name_before("COM10", "COM9"));
    EXPECT_FALSE(port_name_before("COM3", "COM3"));
    EXPECT_TRUE(port_name_before("COM3", "COM3a"));
    EXPECT_TRUE(port_name_before("COM007", "COM8"));  // leading zeros do not make a number larger
}

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

// Windows names a USB device "USB\VID_xxxx&PID_xxxx\SERIAL"; a made-up last part (an
// adapter without a serial number) holds an '&', and a driver's own node or one
// interface of a composite device is no whole device: the walk goes on to its parent.
TEST(PortList, WindowsUsbDeviceNamesGiveTheIdsAndTheAdaptersOwnSerial) {
    struct Case { const char* id; bool device; const char* usb_id; const char* serial; };
    for (const Case& c : {Case{"USB\\VID_0403&PID_6001\\A50285BI", true, "0403:6001", "A50285BI"},
                          Case{"usb\\vid_1a86&pid_7523\\5&1C5A3D2&0&2", true, "1a86:7523", ""},
                          Case{"USB\\VID_10C4&PID_EA60\\0001", true, "10c4:ea60", "0001"},
                          Case{"USB\\VID_2341&PID_0043&MI_00\\6&3A7F&0&0000", false, "", ""},
                          Case{"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", false, "", ""},
                          Case{"USB\\VID_0403&PID_60\\X", false, "", ""},
                          Case{"USB\\VID_04031&PID_6001\\X", false, "", ""},
                          Case{"USB\\VID_04G3&PID_6001\\X", false, "", ""},
                          Case{"USB\\ROOT_HUB30\\4&1&0", false, "", ""},
                          Case{"ACPI\\PNP0501\\1", false, "", ""},
                          Case{"USB\\VID_0403&PID_6001", false, "", ""}}) {
        SCOPED_TRACE(c.id);
        const auto parsed = parse_usb_device_id(c.id);
        ASSERT_EQ(parsed.has_value(), c.device);
        if (!parsed) continue;
        EXPECT_EQ(parsed->usb_id, c.usb_id);
        EXPECT_EQ(parsed->serial, c.serial);
    }
}

#if defined(_WIN32)
TEST(PortList, APortWindowsDoesNotKnowHasNoDescription) {
    EXPECT_TRUE(describe_serial_port("COM250").empty());
    EXPECT_TRUE(describe_serial_port("\\\\.\\COM250").serial.empty());
}
#endif

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
