#include "cli/board_log.h"

#include <filesystem>
#include <fstream>
#include <utility>

#include "cli/json_reporter.h"
#include "platform/durable_file.h"
#include "text/language.h"

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
            ",\"milliseconds\":" + std::to_string(b.milliseconds) + ",\"error\":" + quoted(b.error) +
            ",\"ended\":" + quoted(b.ended) + ",\"station\":" + quoted(b.station) + ",\"position\":" +
            quoted(b.position) + ",\"chip_asked\":" + quoted(b.chip_asked) + ",\"serial_place\":" +
            quoted(b.serial_place) + ",\"serial_format\":" + quoted(b.serial_format) + "}\n";
    return line;
}

std::string log_csv_header() {
    // The fields added since the first version come last, so that the columns of a log
    // begun by it keep their places.
    return "time,host,port,adapter_serial,chip,loader,loader_version,files,serial,serial_state,operations,outcome,"
           "exit_code,milliseconds,error,ended,station,position,chip_asked,serial_place,serial_format\r\n";
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
                                  b.error,       b.ended,       b.station,        b.position,
                                  b.chip_asked,  b.serial_place, b.serial_format};
    std::string line;
    for (const std::string& f : fields) {
        if (!line.empty() || &f != &fields[0]) line += ',';
        line += csv_field(f);
    }
    return line + "\r\n";
}

BoardLog::BoardLog(std::string json_path, std::string csv_path)
    : json_path_(std::move(json_path)), csv_path_(std::move(csv_path)) {}

std::optional<std::string> BoardLog::check() const {
    for (const std::string& path : {json_path_, csv_path_}) {
        if (path.empty()) continue;
        if (auto error = check_appendable(path)) return path + ": " + *error;
    }
    return std::nullopt;
}

std::optional<std::string> BoardLog::append(const BoardRecord& board) {
    const std::lock_guard lock(mutex_);
    std::vector<LogLine> lines;
    if (!json_path_.empty()) lines.push_back({json_path_, log_json_line(board), {}});
    // A new CSV file begins with its header, written under the file's lock with the first line.
    if (!csv_path_.empty()) lines.push_back({csv_path_, log_csv_line(board), log_csv_header()});
    if (lines.empty()) return std::nullopt;
    return append_lines_durably(lines);
}

namespace {

void skip_blanks(std::string_view text, std::size_t& i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
}

void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<std::uint32_t> hex_code(std::string_view text, std::size_t& i) {
    if (i + 4 > text.size()) return std::nullopt;
    std::uint32_t c = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const char d = text[i++];
        c <<= 4;
        if (d >= '0' && d <= '9') c |= static_cast<std::uint32_t>(d - '0');
        else if (d >= 'a' && d <= 'f') c |= static_cast<std::uint32_t>(d - 'a' + 10);
        else if (d >= 'A' && d <= 'F') c |= static_cast<std::uint32_t>(d - 'A' + 10);
        else return std::nullopt;
    }
    return c;
}

// A JSON string from its opening quote at `i`, unescaped; `i` ends past its closing quote.
std::optional<std::string> json_string(std::string_view text, std::size_t& i) {
    if (i >= text.size() || text[i] != '"') return std::nullopt;
    std::string out;
    for (++i; i < text.size();) {
        const char c = text[i++];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size()) return std::nullopt;
        const char e = text[i++];
        switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                auto code = hex_code(text, i);
                if (!code) return std::nullopt;
                // A pair of surrogates stands for one character beyond the first plane.
                if (*code >= 0xD800 && *code < 0xDC00 && i + 6 <= text.size() && text[i] == '\\' && text[i + 1] == 'u') {
                    std::size_t j = i + 2;
                    if (auto low = hex_code(text, j); low && *low >= 0xDC00 && *low < 0xE000) {
                        code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
                        i = j;
                    }
                }
                put_utf8(out, *code);
                break;
            }
            default: out += e;  // '"', '\\' and '/' stand for themselves
        }
    }
    return std::nullopt;
}

// Past a nested object or array from its opening bracket at `i`.
bool skip_nested(std::string_view text, std::size_t& i) {
    int depth = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            if (!json_string(text, i)) return false;
            continue;
        }
        ++i;
        if (c == '{' || c == '[') ++depth;
        else if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return false;
}

}  // namespace

std::optional<std::map<std::string, std::string>> top_level_fields(std::string_view json) {
    std::map<std::string, std::string> fields;
    std::size_t i = 0;
    skip_blanks(json, i);
    if (i >= json.size() || json[i++] != '{') return std::nullopt;
    skip_blanks(json, i);
    if (i < json.size() && json[i] == '}') return fields;
    for (;;) {
        skip_blanks(json, i);
        auto key = json_string(json, i);
        if (!key) return std::nullopt;
        skip_blanks(json, i);
        if (i >= json.size() || json[i++] != ':') return std::nullopt;
        skip_blanks(json, i);
        if (i >= json.size()) return std::nullopt;
        if (json[i] == '"') {
            auto value = json_string(json, i);
            if (!value) return std::nullopt;
            fields[*key] = std::move(*value);
        } else if (json[i] == '{' || json[i] == '[') {
            if (!skip_nested(json, i)) return std::nullopt;
        } else {
            const std::size_t start = i;
            while (i < json.size() && json[i] != ',' && json[i] != '}' && json[i] != ' ') ++i;
            fields[*key] = std::string(json.substr(start, i - start));
        }
        skip_blanks(json, i);
        if (i >= json.size()) return std::nullopt;
        const char next = json[i++];
        if (next == '}') break;
        if (next != ',') return std::nullopt;
    }
    skip_blanks(json, i);
    if (i != json.size()) return std::nullopt;
    return fields;
}

std::variant<LastOutcomes, std::string> last_outcomes(const std::string& path, const std::string& station) {
    const std::string unreadable = tr_string("cli", "не удалось прочитать журнал ") + path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ec)) {
        return ec ? unreadable + ": " + ec.message() : unreadable;
    }
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return unreadable;
    LastOutcomes outcomes;
    for (std::string line; std::getline(in, line);) {
        const auto fields = top_level_fields(line);
        if (!fields) continue;
        auto field = [&](const char* name) {
            const auto found = fields->find(name);
            return found != fields->end() ? found->second : std::string();
        };
        // A line of the first version names no station: its host stands for it.
        const std::string written_by = fields->count("station") ? field("station") : field("host");
        if (written_by != station) continue;
        const std::string position = field("position");
        outcomes[position.empty() ? field("port") : position] = field("outcome") != "passed";
    }
    if (in.bad()) return unreadable;
    return outcomes;
}

}  // namespace zarvik::cli
