// zarvik-sim: a simulated board with the resident loader, on a new pseudo-terminal.
#include <CLI/CLI.hpp>

#include <sys/prctl.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <variant>

#include "memory/intel_hex_loader.h"
#include "sim/board/sim_loader.h"
#include "sim/memory_dump.h"
#include "sim/pty/pty_server.h"
#include "zarvik_version.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop.store(true); }

bool load_into(const std::string& path, std::span<std::uint8_t> memory, const char* what) {
    std::vector<std::uint8_t> image(memory.size(), 0xFF);
    auto result = zarvik::load_intel_hex_file(path, image);
    if (std::holds_alternative<zarvik::HexError>(result)) {
        std::cerr << "zarvik-sim: cannot load " << what << " from " << path << "\n";
        return false;
    }
    std::copy(image.begin(), image.end(), memory.begin());
    return true;
}

}  // namespace

static int run(int argc, char** argv) {
    CLI::App app{"Simulated AVR board with the resident loader, served on a new pseudo-terminal.\n"
                 "Prints the terminal's path on the first line of standard output, then serves\n"
                 "until it is interrupted (SIGINT, SIGTERM) or its line is made to vanish."};
    app.set_version_flag("--version", "zarvik-sim " ZARVIK_VERSION);
    std::string model_name = "ATmega328";
    zarvik::SimFaults faults;
    bool wire = false;
    double latency_ms = 0;
    std::string flash_in, eeprom_in, flash_out, eeprom_out, log_out, link_path;
    app.add_option("-m,--model", model_name, "ATmega8, ATmega88, ATmega168 or ATmega328")
        ->check(CLI::IsMember({"ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->capture_default_str();
    app.add_flag("--wire", wire, "emulate the wire: 10 bits a byte at the speed the host set");
    app.add_option("--flash", flash_in, "load flash from this Intel HEX file at start");
    app.add_option("--eeprom", eeprom_in, "load EEPROM from this Intel HEX file at start");
    app.add_option("--dump-flash", flash_out, "write the whole flash as Intel HEX on exit");
    app.add_option("--dump-eeprom", eeprom_out, "write the EEPROM as Intel HEX on exit");
    app.add_option("--log", log_out, "write every byte the host sent, with its time in microseconds, on exit");
    app.add_option("--link", link_path, "also make this symbolic link to the terminal");
    app.add_option("--latency", latency_ms,
                   "like a USB serial adapter's latency timer: an answer reaches the host this many\n"
                   "milliseconds after the last delivery, or at once when 62 bytes have gathered")
        ->check(CLI::Range(0.0, 1000.0));
    auto* faults_group = app.add_option_group("faults");
    faults_group->add_flag("--silent", faults.silent, "answer nothing");
    faults_group->add_flag("--echo", faults.echo, "echo every byte, like a looped-back line");
    faults_group->add_option("--mute-command", faults.mute_command, "give no answer to the N-th command");
    faults_group->add_flag("--short-block", faults.short_block, "send 100 of the 128 bytes of a block");
    faults_group->add_option("--late", faults.late_ms, "answer this many milliseconds late");
    faults_group->add_flag("--garbage", faults.garbage, "answer with noise");
    faults_group->add_option("--line-gone-after", faults.line_gone_after, "drop the line after N host bytes");
    faults_group->add_flag("--loader-locked", faults.loader_locked, "leave the loader's pages unchanged by E and F, as lock bits do");
    faults_group->add_option("--torn-count", faults.torn_count,
                             "start with this wait count in the loader's second copy only, as a configuration cut short leaves it");
    faults_group->add_option("--drop-byte", faults.drop_byte, "lose the N-th byte the host sends");
    faults_group->add_option("--flip-byte", faults.flip_byte, "flip the lowest bit of the N-th byte the host sends");
    faults_group->add_option("--corrupt-at", faults.corrupt_at, "program the flash byte at this address with a bit flipped");
    faults_group->add_option("--wrong-check-at", faults.wrong_check_at,
                             "answer the flash check of the 128-byte unit at this address wrongly");
    bool plain_loader = false;
    app.add_flag("--plain-loader", plain_loader,
                 "a loader of the original kind: no signature in its first block, only the four-byte commands");
    bool version1_loader = false;
    app.add_flag("--version1-loader", version1_loader,
                 "our loader with a protocol-version-1 signature: a host gives it the plain road only, and so does this board");
    CLI11_PARSE(app, argc, argv);

    zarvik::SimLoader loader(*zarvik::find_device_model(model_name), faults,
                             plain_loader      ? zarvik::LoaderKind::Plain
                             : version1_loader ? zarvik::LoaderKind::OursVersion1
                                               : zarvik::LoaderKind::Ours);
    if (!flash_in.empty() && !load_into(flash_in, loader.flash().first(loader.model().loader_start), "flash")) return 4;
    if (!eeprom_in.empty() && !load_into(eeprom_in, loader.eeprom(), "EEPROM")) return 4;

    zarvik::PtyServer server(loader, wire, std::llround(latency_ms * 1000));
    if (!server.open()) {
        std::cerr << "zarvik-sim: cannot open a pseudo-terminal: " << server.error() << "\n";
        return 3;
    }
    if (!link_path.empty()) {
        std::remove(link_path.c_str());
        if (::symlink(server.path().c_str(), link_path.c_str()) != 0) {
            std::cerr << "zarvik-sim: cannot make the link " << link_path << "\n";
            return 3;
        }
    }
    // Answers are timed to the microsecond when the wire is emulated; the default 50 us
    // of timer slack would show up as host overhead in every round trip.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::cout << server.path() << std::endl;
    server.serve(g_stop);

    int status = 0;
    if (!loader.line_gone()) loader.finish_programming();
    if (!zarvik::dump_memory("zarvik-sim", flash_out, loader.flash())) status = 4;
    if (!zarvik::dump_memory("zarvik-sim", eeprom_out, loader.eeprom())) status = 4;
    if (!log_out.empty()) {
        std::ofstream log(log_out);
        for (const auto& entry : loader.log()) log << entry.time_us << ' ' << static_cast<int>(entry.byte) << '\n';
    }
    if (!link_path.empty()) std::remove(link_path.c_str());
    return status;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvik-sim: %s\n", e.what());
        return 3;
    }
}
