// Full ATmega328 flash and EEPROM operations against zarvik-sim emulating the wire
// (10 bits a byte at the set speed, and the chip's programming times). Each time is
// printed beside its floor: bytes on the wire x 10 / speed plus the protocol's fixed
// waits. The ratio is what the host adds on top.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_process.h"
#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"

namespace {

using namespace zarvik;

constexpr std::uint32_t kUserArea = 0x7C00;
constexpr std::uint32_t kEeprom = 1024;
constexpr std::int64_t kBlockWriteBytes = 4 + 128 + 4 + 4 + 4 + 4 + 4;  // B+block, ack, A, ack, F/D, ack
constexpr std::int64_t kBlockReadBytes = 4 + 4 + 4 + 4 + 4 + 128;       // A, ack, f/d, ack, b, block
constexpr std::int64_t kPageEraseBytes = 16;                           // A, ack, E, ack

// The kernel's own cost of one exchange over a pseudo-terminal (write four bytes, the
// far side answers four), with no Qt and no simulator: what any host pays here.
double pty_round_trip_ms() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    constexpr int kRounds = 2000;
    std::thread echo([&] {
        std::uint8_t buf[4];
        for (int i = 0; i < kRounds; ++i) {
            std::size_t got = 0;
            while (got < 4) got += static_cast<std::size_t>(std::max<ssize_t>(0, ::read(master, buf + got, 4 - got)));
            (void)!::write(master, buf, 4);
        }
    });
    std::uint8_t buf[4] = {'A', 0, 0, 0};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        (void)!::write(slave, buf, 4);
        std::size_t got = 0;
        while (got < 4) got += static_cast<std::size_t>(std::max<ssize_t>(0, ::read(slave, buf + got, 4 - got)));
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    echo.join();
    ::close(slave);
    ::close(master);
    return std::chrono::duration<double, std::milli>(elapsed).count() / kRounds;
}

struct Row {
    const char* name;
    std::int64_t wire_bytes;
    double fixed_wait_ms;
    std::int64_t round_trips;
    std::function<OperationOutcome()> run;
};

std::string write_temp(const std::string& name, const std::string& text) {
    const std::string path = "/tmp/zarvik-wire-bench-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

int run_at(int baud, const std::string& flash_file, const std::string& eeprom_file, bool quick) {
    // A loader of the original kind: these floors are the four-byte protocol's.
    bench::BoardProcess sim({ZARVIK_SIM_BINARY, "--model", "ATmega328", "--wire", "--plain-loader"});
    if (!sim.ok()) return 1;

    SteadyClock clock;
    SerialPort port(clock);
    if (!port.open(sim.path()) || !port.set_speed(baud)) return 1;
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, port, clock);
    programmer.set_model(*find_device_model("ATmega328"));
    if (programmer.connect() != HandshakeOutcome::Connected) return 1;

    const std::int64_t blocks = kUserArea / 128;
    const std::int64_t eeprom_blocks = kEeprom / 128;
    const std::int64_t pages = kUserArea / 64;
    const std::vector<Row> rows{
        {"flash erase", kPageEraseBytes * pages, 4.5 * pages, 2 * pages,
         [&] { return programmer.erase(MemoryKind::Flash); }},
        {"flash write", kBlockWriteBytes * blocks, 10.0 * blocks, 3 * blocks,
         [&] { return programmer.write(MemoryKind::Flash, flash_file); }},
        {"flash verify", kBlockReadBytes * blocks, 0, 3 * blocks,
         [&] { return programmer.verify(MemoryKind::Flash, flash_file); }},
        {"flash read", kBlockReadBytes * blocks, 0, 3 * blocks, [&] { return programmer.read(MemoryKind::Flash); }},
        {"EEPROM write", kBlockWriteBytes * eeprom_blocks, 9.0 * kEeprom, 3 * eeprom_blocks,
         [&] { return programmer.write(MemoryKind::Eeprom, eeprom_file); }},
        {"EEPROM verify", kBlockReadBytes * eeprom_blocks, 0, 3 * eeprom_blocks,
         [&] { return programmer.verify(MemoryKind::Eeprom, eeprom_file); }},
        {"EEPROM read", kBlockReadBytes * eeprom_blocks, 0, 3 * eeprom_blocks,
         [&] { return programmer.read(MemoryKind::Eeprom); }},
    };
    const double pty_ms = pty_round_trip_ms();
    std::printf("\n%d baud (pseudo-terminal round trip %.3f ms)\n%-14s %9s %9s %7s %12s %7s\n", baud, pty_ms, "operation",
                "time ms", "floor ms", "ratio", "+pty floor", "ratio");
    for (const Row& row : rows) {
        // A quick run (the test command's) only reads: no fixed waits, nothing to compare.
        if (quick && std::string(row.name).find("read") == std::string::npos) continue;
        const auto outcome = row.run();
        if (!outcome.ok()) {
            std::printf("%-14s failed: %s\n", row.name, status_text(outcome).c_str());
            return 1;
        }
        const double floor = static_cast<double>(row.wire_bytes) * 10000.0 / baud + row.fixed_wait_ms;
        const double pty_floor = floor + pty_ms * static_cast<double>(row.round_trips);
        const auto ms = static_cast<double>(outcome.elapsed_ms);
        std::printf("%-14s %9.0f %9.0f %7.3f %12.0f %7.3f\n", row.name, ms, floor, ms / floor, pty_floor, ms / pty_floor);
    }
    port.close();
    return 0;
}

}  // namespace

// wire_bench [BAUD] [--quick]
int main(int argc, char** argv) {
    bool quick = false;
    std::vector<int> speeds{115200, 250000};
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick") quick = true;
        else speeds.assign(1, std::atoi(argv[i]));
    }
    std::mt19937 rng(7);
    std::vector<std::uint8_t> program(kUserArea), data(kEeprom);
    for (auto& b : program) b = static_cast<std::uint8_t>(rng() & 0x7F);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng() & 0x7F);
    const std::string flash_file = write_temp("flash.hex", to_intel_hex(program));
    const std::string eeprom_file = write_temp("data.eep", to_intel_hex(data));
    std::printf("Floors: bytes on the wire x 10 / speed + the fixed waits (10 ms a flash block, 9 ms an\n"
                "EEPROM byte) + the chip's 4.5 ms a flash page erase. '+pty floor' adds the kernel's\n"
                "pseudo-terminal round trip for each exchange, which no host avoids on this line.\n");
    for (int baud : speeds) {
        if (run_at(baud, flash_file, eeprom_file, quick) != 0) {
            std::fprintf(stderr, "wire_bench: run at %d baud failed\n", baud);
            return 1;
        }
    }
    return 0;
}
