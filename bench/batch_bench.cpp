// Several boards at once: `write flash` of 31 KB with zarvik-cli on one zarvik-sim
// --wire board (the line's own time at 115200 baud), then on four at once from one
// command. The boards must not slow each other down beyond the machine's cores: four
// take at most 1.3 times one board's time.
//
//   batch_bench [RUNS] [--quick]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_process.h"
#include "memory/intel_hex_writer.h"

namespace {

using zarvik::bench::BoardProcess;
using zarvik::bench::run_program;

std::string program_file(std::size_t size) {
    std::mt19937 rng(11);
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string path = "/tmp/zarvik-batch-bench-" + std::to_string(::getpid()) + ".hex";
    std::ofstream(path, std::ios::binary) << zarvik::to_intel_hex(data);
    return path;
}

// The wall time of one `write flash` on `boards` boards at once.
double batch_ms(int boards, const std::string& program) {
    std::vector<std::unique_ptr<BoardProcess>> sims;
    std::vector<std::string> args = {ZARVIK_CLI_BINARY, "-m", "ATmega328", "-q"};
    for (int i = 0; i < boards; ++i) {
        sims.push_back(std::make_unique<BoardProcess>(
            std::vector<std::string>{ZARVIK_SIM_BINARY, "-m", "ATmega328", "--wire"}));
        if (!sims.back()->ok()) return -1;
        args.push_back("-p");
        args.push_back(sims.back()->path());
    }
    args.insert(args.end(), {"write", "flash", program});
    const auto run = run_program(args);
    return run.code == 0 ? run.ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else runs = std::atoi(argv[i]);
    }
    const std::string program = program_file(quick ? 2048 : 31 * 1024);
    if (quick) runs = 1;
    double one = 1e18;
    double four = 1e18;
    for (int r = 0; r < runs; ++r) {
        const double a = batch_ms(1, program);
        const double b = batch_ms(4, program);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "batch_bench: a run failed\n");
            std::remove(program.c_str());
            return 1;
        }
        one = std::min(one, a);
        four = std::min(four, b);
    }
    std::remove(program.c_str());
    std::printf("write flash %s, best of %d: one board %.0f ms, four boards at once %.0f ms, ratio %.2f (at most 1.30)\n",
                quick ? "2 KB" : "31 KB", runs, one, four, four / one);
    return 0;
}
