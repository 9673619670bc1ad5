// The loader on the real core beside the fast simulator: write + verify of a 6 KB
// program on an ATmega328 at 115200 baud,
//  - in process on the core's simulated time (what the chip itself would take),
//  - zarvik-avr-sim over a pseudo-terminal, held to wall time,
//  - zarvik-sim --wire over a pseudo-terminal (10 bits a byte and the chip's times),
// and the size of each loader image.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "bench_process.h"
#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
#include "sim/avr/avr_board.h"
#include "sim/avr/avr_link.h"

namespace {

using namespace zarvik;

struct Times {
    std::int64_t write_ms = -1;
    std::int64_t verify_ms = -1;
};

Times write_and_verify(Programmer& programmer, const std::string& file) {
    Times t;
    const auto w = programmer.write(MemoryKind::Flash, file);
    if (!w.ok()) {
        std::fprintf(stderr, "write failed: %s\n", status_text(w).c_str());
        return t;
    }
    const auto v = programmer.verify(MemoryKind::Flash, file);
    if (!v.ok()) {
        std::fprintf(stderr, "verify failed: %s\n", status_text(v).c_str());
        return t;
    }
    return {w.elapsed_ms, v.elapsed_ms};
}

Times over_pty(std::vector<std::string> board_args, const std::string& file) {
    bench::BoardProcess sim(std::move(board_args));
    if (!sim.ok()) return {};
    SteadyClock clock;
    SerialPort port(clock);
    if (!port.open(sim.path()) || !port.set_speed(115200)) return {};
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, port, clock);
    programmer.set_model(*find_device_model("ATmega328"));
    Times t;
    if (programmer.connect() == HandshakeOutcome::Connected) t = write_and_verify(programmer, file);
    port.close();
    return t;
}

}  // namespace

// avr_core_bench [--quick]: --quick writes 1 KB instead of 6 KB.
int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    std::printf("Loader image sizes (%s):\n", ZARVIK_LOADER_SUFFIX);
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        const AvrChip& chip = *find_avr_chip(model);
        std::vector<std::uint8_t> flash(0x8000, 0xFF);
        const auto result = load_intel_hex_file(std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" +
                                                    std::string(chip.mcu) + "-" + ZARVIK_LOADER_SUFFIX + ".hex",
                                                flash);
        if (const auto* range = std::get_if<LoadedRange>(&result)) {
            std::printf("  %-10s %4zu bytes at 0x%04X\n", model, range->size(), static_cast<unsigned>(range->start));
        }
    }

    std::mt19937 rng(7);
    std::vector<std::uint8_t> program(quick ? 1024 : 6144);
    for (auto& b : program) b = static_cast<std::uint8_t>(rng() & 0x7F);
    const std::string file = "/tmp/zarvik-avr-core-bench-6k.hex";
    std::ofstream(file, std::ios::binary) << to_intel_hex(program);

    std::printf("\nWrite + verify of a %zu KB program, ATmega328, 115200 baud:\n", program.size() / 1024);
    std::printf("  %-34s %9s %10s %12s\n", "", "write ms", "verify ms", "wall ms");
    {
        AvrBoard board("ATmega328", 16'000'000);
        board.load_flash_hex(std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-atmega328p-" + ZARVIK_LOADER_SUFFIX + ".hex");
        board.reset();
        AvrLink link(board, 115200);
        auto state = std::make_unique<ProgrammerState>();
        Programmer programmer(*state, link, link);
        programmer.set_model(*find_device_model("ATmega328"));
        const auto start = std::chrono::steady_clock::now();
        Times t;
        if (programmer.connect() == HandshakeOutcome::Connected) t = write_and_verify(programmer, file);
        const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("  %-34s %9lld %10lld %12lld\n", "real core, simulated time", static_cast<long long>(t.write_ms),
                    static_cast<long long>(t.verify_ms), static_cast<long long>(wall.count()));
    }
    const Times avr = over_pty({ZARVIK_AVR_SIM_BINARY, "--model", "ATmega328"}, file);
    std::printf("  %-34s %9lld %10lld\n", "zarvik-avr-sim, pseudo-terminal", static_cast<long long>(avr.write_ms),
                static_cast<long long>(avr.verify_ms));
    const Times wire = over_pty({ZARVIK_SIM_BINARY, "--model", "ATmega328", "--wire"}, file);
    std::printf("  %-34s %9lld %10lld\n", "zarvik-sim --wire, pseudo-terminal", static_cast<long long>(wire.write_ms),
                static_cast<long long>(wire.verify_ms));
    return 0;
}
