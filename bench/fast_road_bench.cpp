// Our loader's fast road beside the plain four-byte road, on the real AVR core:
// zarvik-avr-sim (ATmega328, 16 MHz, our loader) at 115200 baud, whole zarvik-cli runs
// (start, handshake and chip check included), a 31 KB random program and 1 KB of random
// EEPROM data. Each road gets a fresh board and the same sequence of commands.
//
//   fast_road_bench [--quick] [--board PATH] [--loader FILE] [ROUNDS]
//
// --board and --loader measure another simulator binary or loader image.
// --quick (the test command's run) takes 2 KB and 128 bytes and leaves out the plain
// road's EEPROM erases, which sleep 1152 ms a block.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_process.h"
#include "memory/intel_hex_writer.h"

namespace {

using zarvik::bench::BoardProcess;
using zarvik::bench::run_program;

struct Step {
    const char* name;
    std::vector<std::string> args;
    bool plain_too = true;
    double target_ms = 0;  // 0: none of its own
};

std::string write_temp(const std::string& name, const std::vector<std::uint8_t>& data) {
    const std::string path = "/tmp/zarvik-fast-road-bench-" + name;
    std::ofstream(path, std::ios::binary) << zarvik::to_intel_hex(data);
    return path;
}

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// The steps on one fresh board; milliseconds of each, or -1 when it failed.
std::string g_board = ZARVIK_AVR_SIM_BINARY;
std::string g_loader;

std::vector<double> run_road(const std::vector<Step>& steps, const char* road, std::vector<std::string> board_args) {
    std::vector<double> ms(steps.size(), -1);
    board_args.insert(board_args.begin(), {g_board, "--model", "ATmega328"});
    if (!g_loader.empty()) board_args.insert(board_args.end(), {"--loader", g_loader});
    BoardProcess board(board_args);
    if (!board.ok()) return ms;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (std::string(road) == "plain" && !steps[i].plain_too) continue;
        std::vector<std::string> args{ZARVIK_CLI_BINARY, "-q", "-p", board.path(), "-b", "115200", "-m", "ATmega328",
                                      "--protocol", road};
        args.insert(args.end(), steps[i].args.begin(), steps[i].args.end());
        const auto run = run_program(args);
        if (run.code != 0) {
            std::fprintf(stderr, "fast_road_bench: %s on the %s road ended with %d\n", steps[i].name, road, run.code);
            return ms;
        }
        ms[i] = run.ms;
    }
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") quick = true;
        else if (arg == "--board" && i + 1 < argc) g_board = argv[++i];
        else if (arg == "--loader" && i + 1 < argc) g_loader = argv[++i];
        else rounds = std::max(1, std::atoi(argv[i]));
    }
    const std::size_t flash_bytes = quick ? 2048 : 0x7C00;
    const std::size_t eeprom_bytes = quick ? 128 : 1024;
    const std::string image = write_temp("flash.hex", random_bytes(flash_bytes, 31));
    const std::string data = write_temp("data.eep", random_bytes(eeprom_bytes, 32));
    const std::vector<Step> steps{
        {"write + verify", {"write", "flash", image}, true, 3500},
        {"the same image again", {"write", "flash", image}, true, 400},
        {"verify", {"verify", "flash", image}, true, 300},
        {"erase of a full flash", {"erase", "flash"}, true, 1500},
        {"EEPROM write, --no-verify", {"--no-verify", "write", "eeprom", data}, true, 3900},
        {"the same EEPROM again", {"--no-verify", "write", "eeprom", data}, true, 300},
        {"erase of an EEPROM with data", {"erase", "eeprom"}, !quick},
        {"erase of a blank EEPROM", {"erase", "eeprom"}, !quick, 300},
    };
    const std::vector<Step> latency_steps{{"write + verify, --latency 16", {"write", "flash", image}, true}};

    std::printf("zarvik-avr-sim ATmega328 16 MHz, 115200 baud, whole zarvik-cli runs; %zu bytes of flash, %zu of EEPROM;\n"
                "%d round(s), medians. Fast: --protocol auto (our loader's commands); plain: --protocol plain.\n\n",
                flash_bytes, eeprom_bytes, rounds);
    std::vector<std::vector<double>> fast(steps.size()), plain(steps.size()), fast_latency(1), plain_latency(1);
    bool latency_ok = true;
    for (int r = 0; r < rounds; ++r) {
        const auto f = run_road(steps, "auto", {});
        const auto p = run_road(steps, "plain", {});
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (f[i] >= 0) fast[i].push_back(f[i]);
            if (p[i] >= 0) plain[i].push_back(p[i]);
        }
        const auto fl = run_road(latency_steps, "auto", {"--latency", "16"});
        const auto pl = run_road(latency_steps, "plain", {"--latency", "16"});
        if (fl[0] < 0 || pl[0] < 0) latency_ok = false;
        if (fl[0] >= 0) fast_latency[0].push_back(fl[0]);
        if (pl[0] >= 0) plain_latency[0].push_back(pl[0]);
    }

    bool all_ran = true;
    std::printf("%-32s %10s %10s %8s %10s\n", "measure", "fast ms", "plain ms", "ratio", "target ms");
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const double f = median(fast[i]);
        const double p = median(plain[i]);
        if (f < 0 || (steps[i].plain_too && p < 0)) all_ran = false;
        char target[16] = "";
        if (steps[i].target_ms > 0 && !quick) std::snprintf(target, sizeof target, "%.0f", steps[i].target_ms);
        std::printf("%-32s %10.0f %10.0f %8.3f %10s\n", steps[i].name, f, p, p > 0 ? f / p : 0.0, target);
    }
    const double f = median(fast_latency[0]);
    const double p = median(plain_latency[0]);
    std::printf("%-32s %10.0f %10.0f %8.3f %10s\n", latency_steps[0].name, f, p, p > 0 ? f / p : 0.0, "");
    const double without = median(fast[0]);
    if (f > 0 && without > 0) {
        std::printf("\nwrite + verify with --latency 16 / without: fast %.3f (target <= 1.2), plain %.3f\n", f / without,
                    median(plain[0]) > 0 ? p / median(plain[0]) : 0.0);
    }
    if (!quick && without > 0) {
        const double floor = static_cast<double>(flash_bytes) * 10.0 * 1000.0 / 115200.0;
        std::printf("write + verify / the wire floor of the image (%.0f ms): %.3f (target <= 1.3)\n", floor, without / floor);
        if (median(plain[0]) > 0) std::printf("write + verify / the plain road's: %.3f (target <= 0.25)\n", without / median(plain[0]));
    }
    if (!latency_ok) std::printf("(the board's --latency was not taken: no figure with latency)\n");
    return all_ran ? 0 : 1;
}
