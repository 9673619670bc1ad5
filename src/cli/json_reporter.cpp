#include "cli/json_reporter.h"

#include <algorithm>
#include <utility>

#include "cli/console.h"
#include "programmer/status_texts.h"
#include "text/language.h"

namespace zarvik::cli {

std::string json_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out;
}

JsonReporter::JsonReporter(std::FILE* out, std::FILE* err, std::string port, std::string position)
    : out_(out), err_(err), port_(std::move(port)), position_(std::move(position)) {}

// One object a line, written with one call so that the boards of several ports, each
// on its own thread, never interleave within a line; each names its port.
template <typename... Args>
void JsonReporter::put_line(const char* format, Args... args) {
    std::string text = formatted_text(format, args...);
    if (text.size() <= 1) return;
    if (!position_.empty()) text.insert(1, "\"position\":\"" + json_escape(position_) + "\",");
    if (!port_.empty()) text.insert(1, "\"port\":\"" + json_escape(port_) + "\",");
    write_text(out_, text);
    std::fflush(out_);
}

void JsonReporter::begin(Operation operation, MemoryKind memory) {
    operation_ = operation;
    memory_ = memory;
    maximum_ = 0;
}

void JsonReporter::on_range(std::uint32_t maximum) { maximum_ = maximum; }

void JsonReporter::on_position(std::uint32_t position) {
    put_line("{\"event\":\"progress\",\"operation\":\"%s\",\"memory\":\"%s\",\"position\":%u,\"maximum\":%u}\n",
          operation_word(operation_), memory_word(memory_), std::min(position, maximum_), maximum_);
}

void JsonReporter::outcome(const OperationOutcome& o) {
    std::string line = "{\"event\":\"result\",\"operation\":\"" + std::string(operation_word(o.operation)) +
                       "\",\"memory\":\"" + memory_word(o.memory) + "\",\"outcome\":\"" + outcome_word(o.result) +
                       "\",\"road\":\"" + (o.road == Road::Fast ? "fast" : "plain") +
                       "\",\"bytes\":" + std::to_string(o.bytes()) + ",\"milliseconds\":" +
                       std::to_string(o.elapsed_ms) + ",\"text\":\"" + json_escape(result_text(o)) + "\"";
    if (!o.path.empty()) line += ",\"file\":\"" + json_escape(o.path) + "\"";
    if (o.advice == LoaderAdvice::ReplaceVersion1) line += ",\"advice\":\"replace-loader\"";
    if (o.result == OperationOutcome::Result::Differences) {
        line += ",\"difference_count\":" + std::to_string(o.difference_count) + ",\"differences\":[";
        for (std::size_t i = 0; i < o.differences.size(); ++i) {
            const auto& d = o.differences[i];
            line += (i ? "," : "") + std::string("{\"address\":") + std::to_string(d.address) +
                    ",\"expected\":" + std::to_string(d.expected) + ",\"found\":" + std::to_string(d.found) + "}";
        }
        line += "]";
    }
    put_line("%s}\n", line.c_str());
}

void JsonReporter::connection(bool connected, bool /*announce*/) {
    put_line("{\"event\":\"result\",\"operation\":\"connect\",\"outcome\":\"%s\",\"text\":\"%s\"}\n",
          connected ? "success" : "link-error", tr_text("status", connected ? kConnected : kNotConnected));
}

void JsonReporter::ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
                         const std::string& summary) {
    std::string line = "{\"event\":\"ports\",\"ports\":[";
    for (std::size_t i = 0; i < names.size(); ++i) line += (i ? ",\"" : "\"") + json_escape(names[i]) + "\"";
    line += "],\"details\":[";
    for (std::size_t i = 0; i < names.size(); ++i) {
        const PortDescription& d = descriptions[i];
        line += (i ? "," : "") + std::string("{\"port\":\"") + json_escape(names[i]) + "\",\"product\":\"" +
                json_escape(d.product) + "\",\"manufacturer\":\"" + json_escape(d.manufacturer) + "\",\"usb_id\":\"" +
                json_escape(d.usb_id) + "\"}";
    }
    put_line("%s],\"text\":\"%s\"}\n", line.c_str(), json_escape(summary).c_str());
}

void JsonReporter::started_program() {
    put_line("%s", "{\"event\":\"result\",\"operation\":\"start\",\"outcome\":\"success\"}\n");
}

void JsonReporter::monitoring(const std::string& port, int baud) {
    if (!port_.empty()) {
        put_line("{\"event\":\"monitor\",\"baud\":%d}\n", baud);  // the port is named already
        return;
    }
    put_line("{\"event\":\"monitor\",\"port\":\"%s\",\"baud\":%d}\n", json_escape(port).c_str(), baud);
}

void JsonReporter::monitor_output(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    put_line("{\"event\":\"received\",\"text\":\"%s\"}\n", json_escape(text).c_str());
}

void JsonReporter::serial_number(std::uint64_t number) {
    put_line("{\"event\":\"serial\",\"number\":%llu}\n", static_cast<unsigned long long>(number));
}

void JsonReporter::device(const std::string& name, std::uint32_t loader_start) {
    put_line("{\"event\":\"device\",\"model\":\"%s\",\"loader_start\":%u}\n", json_escape(name).c_str(),
          loader_start);
}

void JsonReporter::error(const std::string& text) {
    put_line("{\"event\":\"error\",\"text\":\"%s\"}\n", json_escape(text).c_str());
    print(err_, "zarvik-cli: %s%s\n", port_prefix(position_.empty() ? port_ : position_).c_str(), text.c_str());
}

void JsonReporter::warning(const std::string& text) {
    print(err_, tr_text("cli", "zarvik-cli: внимание: %s\n"),
          (port_prefix(position_.empty() ? port_ : position_) + text).c_str());
}

}  // namespace zarvik::cli
