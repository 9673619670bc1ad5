#pragma once

#include <string>
#include <variant>
#include <vector>

#include "memory/memory_image.h"

namespace zarvik::cli {

struct Step {
    enum class Kind { Ports, Connect, Start, Erase, Write, Verify, Read, Configure, Monitor };
    Kind kind = Kind::Ports;
    MemoryKind memory = MemoryKind::Flash;
    std::string file;
    std::string fosc;
    std::string timeout;
    int baud = 0;  // monitor: the program's speed; 0 keeps the port's

    bool talks_to_device() const { return kind != Kind::Ports; }
};

// Turns the command words into steps, in the order given:
//   ports | connect | start | erase MEM | write MEM FILE | verify MEM FILE |
//   read MEM FILE | configure FOSC_MHZ TIMEOUT_S | monitor [BAUD]   (MEM is flash or eeprom)
// Returns the usage error text when the words do not form such a chain.
std::variant<std::vector<Step>, std::string> parse_plan(const std::vector<std::string>& words);

// The grammar above, for --help.
extern const char* const kCommandHelp;

}  // namespace zarvik::cli
