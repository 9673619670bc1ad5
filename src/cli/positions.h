#pragma once

// The fixture positions a command line names, and the ones a log says to run again.

#include <string>
#include <variant>
#include <vector>

#include "cli/batch.h"
#include "cli/board_log.h"

namespace zarvik::cli {

// -p and --ports in the order given, each word PATH or NAME=PATH (a NAME holds no '/' or
// '\'). The usage error's text when a position has no port, a name is given twice, or two
// words reach one port (also through a symbolic link).
std::variant<std::vector<Position>, std::string> parse_positions(const std::vector<std::string>& words);

// The words of one --ports list: separated by commas, empty ones left out.
std::vector<std::string> split_port_words(const std::string& list);

// --rerun-failed: the positions whose last line in the log failed, by name, or by port
// where a position has none; in the order given.
std::vector<Position> failed_positions(const std::vector<Position>& positions, const LastOutcomes& outcomes);

}  // namespace zarvik::cli
