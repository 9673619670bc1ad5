// `write flash` onto a chip that already holds another program, as zarvik-cli runs it
// against zarvik-sim emulating the wire at 115200 baud: the pages erased one by one
// just before they are written, against the whole user area erased first. Both roads
// end with the verify, and both leave the same bytes on the chip.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "memory/intel_hex_writer.h"

namespace {

std::string write_temp(const std::string& name, const std::string& text) {
    const std::string path = "/tmp/zarvik-write-road-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Starts zarvik-sim and reads the terminal's path from its first line.
struct Sim {
    pid_t pid = -1;
    std::string path;

    explicit Sim(const std::string& flash) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            // A loader of the original kind: its pages are erased by `E`, one by one.
            ::execl(ZARVIK_SIM_BINARY, ZARVIK_SIM_BINARY, "--model", "ATmega328", "--wire", "--plain-loader", "--flash", flash.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') path.push_back(c);
        ::close(out[0]);
    }
    ~Sim() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

double run_ms(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "write_road_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    std::mt19937 rng(11);
    std::vector<std::uint8_t> other(0x7C00), program(6 * 1024);
    for (auto& b : other) b = static_cast<std::uint8_t>(rng());
    for (auto& b : program) b = static_cast<std::uint8_t>(rng());
    const std::string other_file = write_temp("other.hex", zarvik::to_intel_hex(other));
    const std::string program_file = write_temp("program.hex", zarvik::to_intel_hex(program));
    const std::string cli = std::string(ZARVIK_CLI_BINARY) + " -q -b 115200 -m ATmega328 -p ";

    std::printf("6 KB program onto an ATmega328 full of another, zarvik-sim --wire at 115200 baud,\n"
                "whole zarvik-cli runs (start, handshake, chip check included), %d rounds:\n", rounds);
    double pages_total = 0, full_total = 0;
    for (int i = 0; i < rounds; ++i) {
        Sim a(other_file);
        pages_total += run_ms(cli + a.path + " write flash " + program_file);
        Sim b(other_file);
        full_total += run_ms(cli + b.path + " erase flash write flash " + program_file);
    }
    const double pages = pages_total / rounds, full = full_total / rounds;
    std::printf("%-44s %8.0f ms\n", "page erase + write + verify (write flash)", pages);
    std::printf("%-44s %8.0f ms\n", "full erase + write + verify", full);
    std::printf("%-44s %8.3f\n", "ratio", pages / full);
    return 0;
}
