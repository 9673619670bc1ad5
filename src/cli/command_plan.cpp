#include "cli/command_plan.h"

#include "text/language.h"

#include <array>

namespace zarvik::cli {

const char* const kCommandHelp = ZARVIK_TEXT("cli-help",
    "Commands, run in the order given and stopping at the first failure:\n"
    "  ports                       list the serial ports that can be opened\n"
    "  connect                     check that the loader answers\n"
    "  start                       start the user program\n"
    "  erase flash|eeprom          erase the user program area or the EEPROM\n"
    "  write flash|eeprom FILE     write an Intel HEX or ELF file, then verify it (unless --no-verify);\n"
    "                              flash pages are erased just before they are written (see --erase)\n"
    "  verify flash|eeprom FILE    compare the device with an Intel HEX or ELF file\n"
    "  read flash|eeprom FILE      read the whole memory into an Intel HEX file\n"
    "  configure FOSC_MHZ TIMEOUT_S  set the loader's start-up wait for a clock frequency\n"
    "  monitor [BAUD]              then show what the program sends and send it what is typed,\n"
    "                              at BAUD (default: --baud) until Ctrl-C; monitor must come last\n"
    "Every command that talks to the device first checks, once per call, that the loader answers;\n"
    "before the first one that touches memory, the chip's model is read from its loader\n"
    "and compared with -m (without -m, the chip's model is used).\n"
    "\n"
    "Exit codes:\n"
    "  0    success\n"
    "  1    verify found differences\n"
    "  2    usage error\n"
    "  3    no or short answer from the loader, or a port error\n"
    "  4    file error: a HEX file that cannot be read or is damaged, an export not written\n"
    "  5    wrong device: the chip is another model than -m, or no loader block confirms it\n"
    "       (nothing was erased or written)\n"
    "  130  interrupted by Ctrl-C, 143 stopped by SIGTERM (or a Windows log-off or shutdown),\n"
    "       129 by SIGHUP (or a closed Windows console); the port is restored and closed\n");

namespace {

struct Grammar {
    const char* name;
    Step::Kind kind;
    bool memory;
    int values;  // words after the memory kind
};

constexpr std::array<Grammar, 9> kGrammar{{
    {"ports", Step::Kind::Ports, false, 0},
    {"connect", Step::Kind::Connect, false, 0},
    {"start", Step::Kind::Start, false, 0},
    {"erase", Step::Kind::Erase, true, 0},
    {"write", Step::Kind::Write, true, 1},
    {"verify", Step::Kind::Verify, true, 1},
    {"read", Step::Kind::Read, true, 1},
    {"configure", Step::Kind::Configure, false, 2},
    {"monitor", Step::Kind::Monitor, false, 0},
}};

}  // namespace

std::variant<std::vector<Step>, std::string> parse_plan(const std::vector<std::string>& words) {
    std::vector<Step> plan;
    if (words.empty()) return std::string("no command given");
    for (std::size_t i = 0; i < words.size();) {
        const std::string& word = words[i++];
        const Grammar* g = nullptr;
        for (const auto& entry : kGrammar) {
            if (word == entry.name) g = &entry;
        }
        if (g == nullptr) return "unknown command '" + word + "'";
        Step step;
        step.kind = g->kind;
        if (g->memory) {
            if (i >= words.size()) return word + ": expected flash or eeprom";
            const std::string& memory = words[i++];
            if (memory == "flash") {
                step.memory = MemoryKind::Flash;
            } else if (memory == "eeprom") {
                step.memory = MemoryKind::Eeprom;
            } else {
                std::string error = word;
                error.append(": expected flash or eeprom, not '").append(memory).append("'");
                return error;
            }
        }
        if (i + static_cast<std::size_t>(g->values) > words.size()) {
            return word + (g->kind == Step::Kind::Configure ? ": expected FOSC_MHZ and TIMEOUT_S" : ": expected a FILE");
        }
        if (g->kind == Step::Kind::Monitor) {
            // An optional speed, then nothing: the terminal runs until Ctrl-C.
            if (i < words.size()) {
                const std::string& speed = words[i++];
                if (speed.empty() || speed.find_first_not_of("0123456789") != std::string::npos || speed.size() > 7) {
                    return "monitor: expected a speed such as 9600, not '" + speed + "'";
                }
                step.baud = std::stoi(speed);
            }
            if (i < words.size()) return std::string("monitor must be the last command");
        } else if (g->kind == Step::Kind::Configure) {
            step.fosc = words[i++];
            step.timeout = words[i++];
        } else if (g->values == 1) {
            step.file = words[i++];
        }
        plan.push_back(step);
    }
    return plan;
}

}  // namespace zarvik::cli
