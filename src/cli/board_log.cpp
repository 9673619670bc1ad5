#include "cli/board_log.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "cli/json_reporter.h"
#include "platform/durable_file.h"

namespace zarvik::cli {
namespace {

std::string quoted(const std::string& text) {
    std::string out(1, '"');
    out += json_escape(text);
    out += '"';
    return out;
}

std::string hex32(std::uint32_t value) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%08x", value);
    return buf;
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string serial_text(const BoardRecord& b) { return b.serial ? std::to_string(*b.serial) : std::string(); }

// "used" once the board passed with it, "spoiled" when it failed with it.
std::string serial_state(const BoardRecord& b) {
    if (!b.serial) return {};
    return b.serial_spoiled ? "spoiled" : "used";
}

std::string outcome_of(const BoardRecord& b) { return b.passed() ? "passed" : "failed"; }

}  // namespace

std::string log_json_line(const BoardRecord& b) {
    std::string line = "{\"time\":" + quoted(b.time) + ",\"host\":" + quoted(b.host) + ",\"port\":" + quoted(b.port) +
                       ",\"adapter_serial\":" + quoted(b.adapter_serial) + ",\"chip\":" + quoted(b.chip) +
                       ",\"loader\":" + quoted(b.loader_kind) + ",\"loader_version\":" +
                       std::to_string(b.loader_version) + ",\"files\":[";
    for (std::size_t i = 0; i < b.files.size(); ++i) {
        const FileRecord& f = b.files[i];
        line += std::string(i ? "," : "") + "{\"memory\":" + quoted(f.memory) + ",\"name\":" + quoted(f.path) +
                ",\"crc32\":" + (f.crc32 ? quoted(hex32(*f.crc32)) : std::string("null")) + "}";
    }
    line += "],\"serial\":" + (b.serial ? std::to_string(*b.serial) : std::string("null")) +
            ",\"serial_state\":" + quoted(serial_state(b)) + ",\"operations\":[";
    for (std::size_t i = 0; i < b.operations.size(); ++i) {
        const OperationRecord& o = b.operations[i];
        line += std::string(i ? "," : "") + "{\"operation\":" + quoted(o.operation) + ",\"memory\":" +
                quoted(o.memory) + ",\"outcome\":" + quoted(o.outcome) + ",\"bytes\":" + std::to_string(o.bytes) +
                ",\"milliseconds\":" + std::to_string(o.milliseconds) + "}";
    }
    line += "],\"outcome\":" + quoted(outcome_of(b)) + ",\"exit_code\":" + std::to_string(b.exit_code) +
            ",\"milliseconds\":" + std::to_string(b.milliseconds) + ",\"error\":" + quoted(b.error) + "}\n";
    return line;
}

std::string log_csv_header() {
    return "time,host,port,adapter_serial,chip,loader,loader_version,files,serial,serial_state,operations,outcome,"
           "exit_code,milliseconds,error\r\n";
}

std::string log_csv_line(const BoardRecord& b) {
    // The lists go in one field each: "flash:app.hex:1a2b3c4d eeprom:cal.hex:..." and
    // "write flash success 31744 B 3955 ms; verify ...".
    std::string files;
    for (const FileRecord& f : b.files) {
        if (!files.empty()) files += ' ';
        files += f.memory + ":" + f.path + ":" + (f.crc32 ? hex32(*f.crc32) : std::string("-"));
    }
    std::string operations;
    for (const OperationRecord& o : b.operations) {
        if (!operations.empty()) operations += "; ";
        operations += o.operation + (o.memory.empty() ? "" : " " + o.memory) + " " + o.outcome + " " +
                      std::to_string(o.bytes) + " B " + std::to_string(o.milliseconds) + " ms";
    }
    const std::string fields[] = {b.time,        b.host,        b.port,           b.adapter_serial,
                                  b.chip,        b.loader_kind, std::to_string(b.loader_version),
                                  files,         serial_text(b), serial_state(b), operations,
                                  outcome_of(b), std::to_string(b.exit_code),    std::to_string(b.milliseconds),
                                  b.error};
    std::string line;
    for (const std::string& f : fields) {
        if (!line.empty() || &f != &fields[0]) line += ',';
        line += csv_field(f);
    }
    return line + "\r\n";
}

BoardLog::BoardLog(std::string json_path, std::string csv_path)
    : json_path_(std::move(json_path)), csv_path_(std::move(csv_path)) {}

std::optional<std::string> BoardLog::append(const BoardRecord& board) {
    const std::lock_guard lock(mutex_);
    if (!json_path_.empty()) {
        if (auto error = append_line_durably(json_path_, log_json_line(board))) return json_path_ + ": " + *error;
    }
    if (!csv_path_.empty()) {
        // A new file begins with its header. Two processes that start one together may
        // both write it; a reader skips a repeated header.
        std::error_code ec;
        if (std::filesystem::file_size(std::filesystem::u8path(csv_path_), ec) == 0 || ec) {
            if (auto error = append_line_durably(csv_path_, log_csv_header())) return csv_path_ + ": " + *error;
        }
        if (auto error = append_line_durably(csv_path_, log_csv_line(board))) return csv_path_ + ": " + *error;
    }
    return std::nullopt;
}

}  // namespace zarvik::cli
