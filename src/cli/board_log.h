#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "cli/board_record.h"

namespace zarvik::cli {

// A board as one JSON object on one line, ending in '\n'.
std::string log_json_line(const BoardRecord& board);
// The same fields as one CSV line (RFC 4180 quoting), and the header that names them.
std::string log_csv_line(const BoardRecord& board);
std::string log_csv_header();

// --log and --log-csv: one line a board in each, both appended whole or neither, and
// flushed to disk before the board is counted, so that several processes can share the
// files and neither a crash nor a full disk leaves half a line or a board that one log
// has and the other lacks.
class BoardLog {
public:
    BoardLog(std::string json_path, std::string csv_path);

    // Before the first board: whether both logs can be appended to (each is created when
    // absent). "PATH: the system's error text" when one cannot.
    std::optional<std::string> check() const;
    // "PATH: the system's error text" when the board's lines could not be kept.
    std::optional<std::string> append(const BoardRecord& board);

private:
    std::string json_path_;
    std::string csv_path_;
    std::mutex mutex_;
};

// --rerun-failed: whether the last line of each fixture position that `station` wrote
// into the JSON log at `path` failed, by the position's name, or by its port where it
// has none. A line that is not a whole object is passed over. The error text when the
// log cannot be read.
using LastOutcomes = std::map<std::string, bool>;
std::variant<LastOutcomes, std::string> last_outcomes(const std::string& path, const std::string& station);

// The fields at the top level of one JSON object whose values are strings, numbers or
// literals, each as its text (strings unescaped); nested objects and arrays are passed
// over. Nothing when the text is not one whole object.
std::optional<std::map<std::string, std::string>> top_level_fields(std::string_view json);

}  // namespace zarvik::cli
