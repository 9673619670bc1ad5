#include "sim/sim_program.h"

#include <CLI/CLI.hpp>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "memory/file_io.h"
#include "memory/intel_hex_writer.h"
#include "text/language.h"

namespace zarvik {

namespace {

std::atomic<bool> g_stop{false};

void on_stop(int) { g_stop.store(true); }

// What a simulated board leaves behind when it ends: a memory as Intel HEX, for the
// tests and the user to compare. Says why on standard error and returns false when the
// file cannot be written; an empty path writes nothing.
bool dump_memory(const char* program, const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) return true;
    if (auto error = write_file_atomically(path, to_intel_hex(bytes))) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot write %s: %s\n"), program, path.c_str(), error->c_str());
        return false;
    }
    return true;
}

}  // namespace

void SimProgram::choose_language(int argc, const char* const* argv) {
    set_language(language_for_arguments(argc, argv));
}

void SimProgram::add_language_option(CLI::App& app) {
    // Read by choose_language() before the help was made; taken here so that it is known.
    app.add_option("--lang", language_,
                   tr_text("sim-help", "language of the help and the messages: en or ru (default: the environment's; Russian when unset)"))
        ->check(CLI::IsMember({"en", "ru"}));
}

void SimProgram::add_model_option(CLI::App& app) {
    app.add_option("-m,--model", model_name_, tr_text("sim-help", "ATmega8, ATmega88, ATmega168 or ATmega328"))
        ->check(CLI::IsMember({"ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->capture_default_str();
}

void SimProgram::add_dump_options(CLI::App& app) {
    app.add_option("--dump-flash", flash_out_, tr_text("sim-help", "write the whole flash as Intel HEX on exit"));
    app.add_option("--dump-eeprom", eeprom_out_, tr_text("sim-help", "write the EEPROM as Intel HEX on exit"));
}

void SimProgram::add_link_option(CLI::App& app) {
    app.add_option("--link", link_path_, tr_text("sim-help", "also make this symbolic link to the terminal"));
}

void SimProgram::add_latency_option(CLI::App& app, const char* what_reaches) {
    char text[512];
    std::snprintf(text, sizeof text,
                  tr_text("sim-help", "like a USB serial adapter's latency timer: %s this many\n"
                                      "milliseconds after the last delivery, or at once when 62 bytes have gathered"),
                  what_reaches);
    app.add_option("--latency", latency_ms_, text)
        ->check(CLI::Range(0.0, 1000.0));
}

bool SimProgram::make_link(const std::string& terminal) {
    if (link_path_.empty()) return true;
    std::remove(link_path_.c_str());
    if (::symlink(terminal.c_str(), link_path_.c_str()) != 0) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot make the link %s\n"), name_, link_path_.c_str());
        return false;
    }
    return true;
}

void SimProgram::prepare_to_serve() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
}

void SimProgram::announce(const std::string& terminal) { std::cout << terminal << std::endl; }

const std::atomic<bool>& SimProgram::stop() const { return g_stop; }

int SimProgram::finish(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> eeprom) {
    int status = 0;
    if (!dump_memory(name_, flash_out_, flash)) status = 4;
    if (!dump_memory(name_, eeprom_out_, eeprom)) status = 4;
    if (!link_path_.empty()) std::remove(link_path_.c_str());
    return status;
}

int SimProgram::guarded(const std::function<int()>& run) const {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name_, e.what());
        return 3;
    }
}

}  // namespace zarvik
