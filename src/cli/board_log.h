#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "cli/board_record.h"

namespace zarvik::cli {

// A board as one JSON object on one line, ending in '\n'.
std::string log_json_line(const BoardRecord& board);
// The same fields as one CSV line (RFC 4180 quoting), and the header that names them.
std::string log_csv_line(const BoardRecord& board);
std::string log_csv_header();

// --log and --log-csv: one line a board, each appended whole with one write and flushed
// to disk before the next board is counted, so that several processes can share the
// files and a crash leaves no half line.
class BoardLog {
public:
    BoardLog(std::string json_path, std::string csv_path);

    // The system's error text when a line could not be kept.
    std::optional<std::string> append(const BoardRecord& board);

private:
    std::string json_path_;
    std::string csv_path_;
    std::mutex mutex_;
};

}  // namespace zarvik::cli
