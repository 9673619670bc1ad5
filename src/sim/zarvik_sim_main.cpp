// zarvik-sim: a simulated board with the resident loader, on a new pseudo-terminal.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <fstream>
#include <iostream>
#include <variant>

#include "memory/intel_hex_loader.h"
#include "sim/board/sim_loader.h"
#include "sim/pty/pty_server.h"
#include "sim/sim_program.h"
#include "text/language.h"
#include "zarvik_version.h"

namespace {

using zarvik::tr_text;

// SIGUSR1 presses the board's reset button: the loader starts afresh, the memories stay.
std::atomic<bool> g_reset{false};
void on_reset(int) { g_reset.store(true); }

bool load_into(const std::string& path, std::span<std::uint8_t> memory, const char* what) {
    std::vector<std::uint8_t> image(memory.size(), 0xFF);
    auto result = zarvik::load_intel_hex_file(path, image);
    if (std::holds_alternative<zarvik::HexError>(result)) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot load %s from %s\n"), "zarvik-sim", what, path.c_str());
        return false;
    }
    std::copy(image.begin(), image.end(), memory.begin());
    return true;
}

int run(zarvik::SimProgram& program, int argc, char** argv) {
    zarvik::SimProgram::choose_language(argc, argv);
    CLI::App app{tr_text("sim-help",
                         "Simulated AVR board with the resident loader, served on a new pseudo-terminal.\n"
                         "Prints the terminal's path on the first line of standard output, then serves\n"
                         "until it is interrupted (SIGINT, SIGTERM) or its line is made to vanish.\n"
                         "SIGUSR1 presses the reset button: the loader starts afresh, the memories stay.")};
    app.set_version_flag("--version", "zarvik-sim " ZARVIK_VERSION);
    zarvik::SimFaults faults;
    bool wire = false;
    std::string flash_in, eeprom_in, log_out;
    program.add_language_option(app);
    program.add_model_option(app);
    app.add_flag("--wire", wire, tr_text("sim-help", "emulate the wire: 10 bits a byte at the speed the host set"));
    app.add_option("--flash", flash_in, tr_text("sim-help", "load flash from this Intel HEX file at start"));
    app.add_option("--eeprom", eeprom_in, tr_text("sim-help", "load EEPROM from this Intel HEX file at start"));
    program.add_dump_options(app);
    app.add_option("--log", log_out, tr_text("sim-help", "write every byte the host sent, with its time in microseconds, on exit"));
    program.add_link_option(app);
    program.add_latency_option(app, tr_text("sim-help", "an answer reaches the host"));
    auto* faults_group = app.add_option_group("faults");
    faults_group->add_flag("--silent", faults.silent, tr_text("sim-help", "answer nothing"));
    faults_group->add_flag("--echo", faults.echo, tr_text("sim-help", "echo every byte, like a looped-back line"));
    faults_group->add_option("--mute-command", faults.mute_command, tr_text("sim-help", "give no answer to the N-th command"));
    faults_group->add_flag("--short-block", faults.short_block, tr_text("sim-help", "send 100 of the 128 bytes of a block"));
    faults_group->add_option("--late", faults.late_ms, tr_text("sim-help", "answer this many milliseconds late"));
    faults_group->add_flag("--garbage", faults.garbage, tr_text("sim-help", "answer with noise"));
    faults_group->add_option("--line-gone-after", faults.line_gone_after, tr_text("sim-help", "drop the line after N host bytes"));
    faults_group->add_flag("--loader-locked", faults.loader_locked, tr_text("sim-help", "leave the loader's pages unchanged by E and F, as lock bits do"));
    faults_group->add_option("--torn-count", faults.torn_count,
                             tr_text("sim-help", "start with this wait count in the loader's second copy only, as a configuration cut short leaves it"));
    faults_group->add_option("--drop-byte", faults.drop_byte, tr_text("sim-help", "lose the N-th byte the host sends"));
    faults_group->add_option("--flip-byte", faults.flip_byte, tr_text("sim-help", "flip the lowest bit of the N-th byte the host sends"));
    faults_group->add_option("--corrupt-at", faults.corrupt_at, tr_text("sim-help", "program the flash byte at this address with a bit flipped"));
    faults_group->add_option("--wrong-check-at", faults.wrong_check_at,
                             tr_text("sim-help", "answer the flash check of the 128-byte unit at this address wrongly"));
    bool plain_loader = false;
    app.add_flag("--plain-loader", plain_loader,
                 tr_text("sim-help", "a loader of the original kind: no signature in its first block, only the four-byte commands"));
    bool version1_loader = false;
    app.add_flag("--version1-loader", version1_loader,
                 tr_text("sim-help", "our loader with a protocol-version-1 signature: a host gives it the plain road only, and so does this board"));
    CLI11_PARSE(app, argc, argv);

    zarvik::SimLoader loader(*zarvik::find_device_model(program.model_name()), faults,
                             plain_loader      ? zarvik::LoaderKind::Plain
                             : version1_loader ? zarvik::LoaderKind::OursVersion1
                                               : zarvik::LoaderKind::Ours);
    if (!flash_in.empty() && !load_into(flash_in, loader.flash().first(loader.model().loader_start), tr_text("sim", "flash"))) {
        return 4;
    }
    if (!eeprom_in.empty() && !load_into(eeprom_in, loader.eeprom(), tr_text("sim", "EEPROM"))) return 4;

    zarvik::PtyServer server(loader, wire, std::llround(program.latency_ms() * 1000));
    if (!server.open()) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot open a pseudo-terminal: %s\n"), program.name(), server.error().c_str());
        return 3;
    }
    if (!program.make_link(server.path())) return 3;
    program.prepare_to_serve();
    zarvik::SimProgram::announce(server.path());
    std::signal(SIGUSR1, on_reset);
    server.serve(program.stop(), &g_reset);

    if (!loader.line_gone()) loader.finish_programming();
    if (!log_out.empty()) {
        std::ofstream log(log_out);
        for (const auto& entry : loader.log()) log << entry.time_us << ' ' << static_cast<int>(entry.byte) << '\n';
    }
    return program.finish(loader.flash(), loader.eeprom());
}

}  // namespace

int main(int argc, char** argv) {
    zarvik::SimProgram program("zarvik-sim");
    return program.guarded([&] { return run(program, argc, argv); });
}
