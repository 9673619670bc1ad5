#include "cli/reporter.h"

#include <algorithm>

#include "cli/console.h"
#include "text/language.h"
#include "programmer/status_texts.h"
#include "text/number_text.h"

namespace zarvik::cli {
namespace {

const char* operation_word(Operation op) {
    switch (op) {
        case Operation::Erase: return "erase";
        case Operation::Write: return "write";
        case Operation::Verify: return "verify";
        case Operation::Read: return "read";
        case Operation::Configure: return "configure";
    }
    return "";
}

const char* memory_word(MemoryKind m) { return m == MemoryKind::Flash ? "flash" : "eeprom"; }

const char* result_word(OperationOutcome::Result r) {
    switch (r) {
        case OperationOutcome::Result::Success: return "success";
        case OperationOutcome::Result::Differences: return "differences";
        case OperationOutcome::Result::LinkFailure: return "link-error";
        case OperationOutcome::Result::FileFailure: return "file-error";
        case OperationOutcome::Result::Refused: return "refused";
        case OperationOutcome::Result::Interrupted: return "interrupted";
    }
    return "";
}

// What the command line can add to a refusal: the way out it offers.
std::string cli_hint(const OperationOutcome& o) {
    if (o.result != OperationOutcome::Result::Refused) return {};
    char buf[160];
    switch (o.refusal) {
        case Refusal::WaitCountTooLarge:
            if (o.longest_wait_seconds <= 0) return {};
            std::snprintf(buf, sizeof buf, tr_text("cli", " (при %s МГц — не больше %.2f с)"), o.fosc_text.c_str(),
                          o.longest_wait_seconds);
            return buf;
        case Refusal::WaitTooShort:
        case Refusal::FoscOutOfRange: return tr_text("cli", " (--force, если так и задумано)");
        case Refusal::DeviceNotConfirmed: return tr_text("cli", " (--force, если у загрузчика другой первый блок)");
        default: return {};
    }
}

// What the command line adds to a verify that found differences: how many bytes differ
// in all, where the window's list of addresses stops at "и далее".
std::string difference_count_text(const OperationOutcome& o) {
    if (o.result != OperationOutcome::Result::Differences || o.operation == Operation::Configure) return {};
    const std::string count = std::to_string(o.difference_count);
    const PluralForm form = plural_form(count);
    const char* text = form == PluralForm::One ? tr_text("cli", " (всего различается %u байт)")
                       : form == PluralForm::Few ? tr_text("cli", " (всего различаются %u байта)")
                                                 : tr_text("cli", " (всего различаются %u байт)");
    char buf[96];
    std::snprintf(buf, sizeof buf, text, o.difference_count);
    return buf;
}

}  // namespace

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

Reporter::Reporter(Mode mode, bool progress_bar, Clock& clock, std::FILE* out, std::FILE* err)
    : mode_(mode), bar_(progress_bar && mode == Mode::Text), clock_(clock), out_(out), err_(err) {}

void Reporter::begin(Operation operation, MemoryKind memory) {
    operation_ = operation;
    memory_ = memory;
    maximum_ = 0;
    position_ = 0;
    started_ms_ = clock_.now_ms();
    drawn_ms_ = -1000;
}

void Reporter::on_phase(Phase phase) {
    if (mode_ == Mode::Text && bar_) {
        clear_bar();
        // A verify reads the chip back: the step is named for what it does.
        if (operation_ == Operation::Verify && phase == Phase::Reading) phase = Phase::Verifying;
        print(err_, "%s\n", phase_text(phase, memory_).c_str());
    }
}

void Reporter::on_range(std::uint32_t maximum) {
    maximum_ = maximum;
    started_ms_ = clock_.now_ms();
}

void Reporter::on_position(std::uint32_t position) {
    position_ = std::min(position, maximum_);
    if (mode_ == Mode::Json) {
        print(out_, "{\"event\":\"progress\",\"operation\":\"%s\",\"memory\":\"%s\",\"position\":%u,\"maximum\":%u}\n",
                     operation_word(operation_), memory_word(memory_), position_, maximum_);
        std::fflush(out_);
        return;
    }
    if (bar_) draw_bar();
}

void Reporter::draw_bar() {
    const std::int64_t now = clock_.now_ms();
    if (now - drawn_ms_ < 50 && position_ < maximum_) return;  // a terminal need not redraw faster
    drawn_ms_ = now;
    const double fraction = maximum_ > 0 ? static_cast<double>(position_) / maximum_ : 1.0;
    // The whole line stays within 79 columns: a console that wraps at its edge would
    // begin every redraw on a new line.
    constexpr int kWidth = 24;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    const double seconds = static_cast<double>(now - started_ms_) / 1000.0;
    const double rate = seconds > 0 ? position_ / seconds : 0.0;
    char line[160];
    const int n = std::snprintf(line, sizeof line, "%s %s [%s] %3d%%  %u/%u bytes  %.0f B/s", operation_word(operation_),
                                memory_word(memory_), bar.c_str(), static_cast<int>(fraction * 100), position_, maximum_,
                                rate);
    // Drawn over with blanks rather than erased with an escape sequence, which a
    // Windows console without terminal processing prints as it is.
    const int width = std::clamp(n, 0, static_cast<int>(sizeof line) - 1);
    print(err_, "\r%s%*s", line, std::max(bar_width_ - width, 0), "");
    std::fflush(err_);
    bar_width_ = width;
    bar_visible_ = true;
}

void Reporter::clear_bar() {
    if (!bar_visible_) return;
    print(err_, "\r%*s\r", bar_width_, "");
    std::fflush(err_);
    bar_visible_ = false;
    bar_width_ = 0;
}

void Reporter::outcome(const OperationOutcome& o) {
    clear_bar();
    const std::string text = status_text(o, TimeUnit::InLanguage) + difference_count_text(o) + cli_hint(o);
    if (mode_ == Mode::Json) {
        std::string line = "{\"event\":\"result\",\"operation\":\"" + std::string(operation_word(o.operation)) +
                           "\",\"memory\":\"" + memory_word(o.memory) + "\",\"outcome\":\"" + result_word(o.result) +
                           "\",\"road\":\"" + (o.road == Road::Fast ? "fast" : "plain") +
                           "\",\"bytes\":" + std::to_string(o.bytes()) + ",\"milliseconds\":" +
                           std::to_string(o.elapsed_ms) + ",\"text\":\"" + json_escape(text) + "\"";
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
        print(out_, "%s}\n", line.c_str());
        std::fflush(out_);
        return;
    }
    if (o.ok()) {
        if (mode_ == Mode::Text) print(out_, "%s\n", text.c_str());
    } else {
        // Failures are shown even with --quiet: a script's log must say why it stopped.
        print(o.result == OperationOutcome::Result::Differences ? out_ : err_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

void Reporter::connection(bool connected, bool announce) {
    clear_bar();
    const char* text = tr_text("status", connected ? kConnected : kNotConnected);
    if (mode_ == Mode::Json) {
        print(out_, "{\"event\":\"result\",\"operation\":\"connect\",\"outcome\":\"%s\",\"text\":\"%s\"}\n",
                     connected ? "success" : "link-error", text);
    } else if (!connected) {
        print(err_, "%s\n", text);
    } else if (announce && mode_ == Mode::Text) {
        print(out_, "%s\n", text);
    }
    std::fflush(out_);
}

void Reporter::ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
                     const std::string& summary) {
    if (mode_ == Mode::Json) {
        std::string line = "{\"event\":\"ports\",\"ports\":[";
        for (std::size_t i = 0; i < names.size(); ++i) line += (i ? ",\"" : "\"") + json_escape(names[i]) + "\"";
        line += "],\"details\":[";
        for (std::size_t i = 0; i < names.size(); ++i) {
            const PortDescription& d = descriptions[i];
            line += (i ? "," : "") + std::string("{\"port\":\"") + json_escape(names[i]) + "\",\"product\":\"" +
                    json_escape(d.product) + "\",\"manufacturer\":\"" + json_escape(d.manufacturer) +
                    "\",\"usb_id\":\"" + json_escape(d.usb_id) + "\"}";
        }
        print(out_, "%s],\"text\":\"%s\"}\n", line.c_str(), json_escape(summary).c_str());
    } else {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string about = descriptions[i].text();
            if (about.empty()) print(out_, "%s\n", names[i].c_str());
            else print(out_, "%s\t%s\n", names[i].c_str(), about.c_str());
        }
        if (mode_ == Mode::Text) print(err_, "%s\n", summary.c_str());
    }
    std::fflush(out_);
}

void Reporter::started_program() {
    if (mode_ == Mode::Json) {
        write_text(out_, "{\"event\":\"result\",\"operation\":\"start\",\"outcome\":\"success\"}\n");
    } else if (mode_ == Mode::Text) {
        print(out_, "%s\n", tr_text("status", kProgramStarted));
    }
    std::fflush(out_);
}

void Reporter::monitoring(const std::string& port, int baud) {
    clear_bar();
    if (mode_ == Mode::Json) {
        print(out_, "{\"event\":\"monitor\",\"port\":\"%s\",\"baud\":%d}\n", json_escape(port).c_str(), baud);
        std::fflush(out_);
    } else if (mode_ == Mode::Text) {
        print(err_, tr_text("cli", "Монитор порта %s на %d бод; выход — Ctrl-C\n"), port.c_str(), baud);
    }
}

void Reporter::monitor_output(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (mode_ == Mode::Json) {
        const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        print(out_, "{\"event\":\"received\",\"text\":\"%s\"}\n", json_escape(text).c_str());
    } else {
        // The program's bytes as they are, even with --quiet: they are what was asked for.
        write_text(out_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    std::fflush(out_);
}

void Reporter::device(const std::string& name, std::uint32_t loader_start) {
    if (mode_ == Mode::Json) {
        print(out_, "{\"event\":\"device\",\"model\":\"%s\",\"loader_start\":%u}\n", json_escape(name).c_str(),
                     loader_start);
    } else if (mode_ == Mode::Text) {
        print(out_, tr_text("cli", "МК: %s (загрузчик с адреса %.4X)\n"), name.c_str(), loader_start);
    }
    std::fflush(out_);
}

void Reporter::error(const std::string& text) {
    clear_bar();
    if (mode_ == Mode::Json) {
        print(out_, "{\"event\":\"error\",\"text\":\"%s\"}\n", json_escape(text).c_str());
        std::fflush(out_);
    }
    print(err_, "zarvik-cli: %s\n", text.c_str());
}

void Reporter::warning(const std::string& text) {
    clear_bar();
    if (mode_ != Mode::Quiet) print(err_, tr_text("cli", "zarvik-cli: внимание: %s\n"), text.c_str());
}

}  // namespace zarvik::cli
