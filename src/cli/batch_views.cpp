#include "cli/batch_views.h"

#include <algorithm>

#include "cli/console.h"
#include "cli/json_reporter.h"
#include "programmer/status_texts.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

// Columns a UTF-8 text takes on a terminal: one a code point (Cyrillic included).
std::size_t columns(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t n = columns(text);
    return n >= width ? text : text + std::string(width - n, ' ');
}

std::string milliseconds_text(std::int64_t ms) {
    return formatted_text(tr_text("cli", "%lld мс"), static_cast<long long>(ms));
}

// One board's progress as its line on a terminal shows it.
class LiveBoardReporter final : public Reporter {
public:
    LiveBoardReporter(LiveLinesView& view, std::string port) : view_(view), port_(std::move(port)) {}

    void begin(Operation operation, MemoryKind memory) override {
        step_ = std::string(operation_word(operation)) + " " + memory_word(memory);
        maximum_ = 0;
        show(step_, true);
    }
    void on_range(std::uint32_t maximum) override { maximum_ = maximum; }
    void on_position(std::uint32_t position) override {
        const int percent = maximum_ > 0 ? static_cast<int>(std::min<std::uint64_t>(position, maximum_) * 100 / maximum_) : 100;
        constexpr int kWidth = 20;
        const int filled = percent * kWidth / 100;
        show(step_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                 std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " + std::to_string(percent) + "%",
             false);
    }
    void outcome(const OperationOutcome& o) override {
        if (o.ok()) show(step_ + ": " + tr_text("cli", "готово"), true);
        else show(result_text(o), true);
    }
    void connection(bool connected, bool) override {
        show(tr_text("status", connected ? kConnected : kNotConnected), true);
    }
    void ports(const std::vector<std::string>&, const std::vector<PortDescription>&, const std::string&) override {}
    void started_program() override { show(tr_text("status", kProgramStarted), true); }
    void monitoring(const std::string&, int) override {}
    void monitor_output(std::span<const std::uint8_t>) override {}
    void serial_number(std::uint64_t number) override {
        serial_ = "№ " + std::to_string(number) + "  ";
        show(step_, true);
    }
    void device(const std::string& name, std::uint32_t) override { chip_ = name + "  "; }
    void error(const std::string& text) override {
        view_.message("zarvik-cli: " + port_prefix(port_) + text);
        show(text, true);
    }
    void warning(const std::string& text) override { view_.message(port_prefix(port_) + text); }

private:
    void show(const std::string& text, bool now) { view_.set_line(port_, chip_ + serial_ + text, now); }

    LiveLinesView& view_;
    std::string port_;
    std::string step_;
    std::string chip_;
    std::string serial_;
    std::uint32_t maximum_ = 0;
};

}  // namespace

std::string board_result_text(const BoardRecord& b) {
    switch (b.exit_code) {
        case kOk: return tr_text("cli", "годна");
        case kDifferences: return tr_text("cli", "различия");
        case kUsage: return tr_text("cli", "ошибка в команде");
        case kLink: return tr_text("cli", "нет связи");
        case kFile: return tr_text("cli", "ошибка файла");
        case kWrongDevice: return tr_text("cli", "не тот МК");
        default: return tr_text("cli", "прервано");
    }
}

std::string summary_table(const BatchSummary& summary) {
    const std::vector<std::string> head = {tr_text("cli", "Порт"), tr_text("cli", "МК"), tr_text("cli", "Номер"),
                                           tr_text("cli", "Итог"), tr_text("cli", "Время")};
    std::vector<std::vector<std::string>> rows;
    for (const BoardRecord& b : summary.boards) {
        std::string serial = b.serial ? std::to_string(*b.serial) : "-";
        if (b.serial_spoiled) serial += tr_text("cli", " (испорчен)");
        rows.push_back({b.port, b.chip.empty() ? "-" : b.chip, serial, board_result_text(b),
                        milliseconds_text(b.milliseconds)});
    }
    std::vector<std::size_t> widths(head.size());
    for (std::size_t c = 0; c < head.size(); ++c) {
        widths[c] = columns(head[c]);
        for (const auto& row : rows) widths[c] = std::max(widths[c], columns(row[c]));
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t c = 0; c < cells.size(); ++c) out += c + 1 < cells.size() ? padded(cells[c], widths[c] + 2) : cells[c];
        return out + "\n";
    };
    std::string table = line(head);
    for (const auto& row : rows) table += line(row);
    return table + formatted_text(tr_text("cli", "Плат: %d, годных: %d, с отказом: %d; номеров выдано: %d, испорчено: %d\n"),
                                  static_cast<int>(summary.boards.size()), summary.passed, summary.failed,
                                  summary.numbers_used, summary.spoiled);
}

EventLinesView::EventLinesView(TextReporter::Verbosity verbosity, bool name_ports, bool progress_bar, Clock& clock,
                               std::FILE* out, std::FILE* err)
    : verbosity_(verbosity), name_ports_(name_ports), progress_bar_(progress_bar), clock_(clock), out_(out), err_(err) {}

std::unique_ptr<Reporter> EventLinesView::board(const std::string& port) {
    auto reporter = std::make_unique<TextReporter>(verbosity_, progress_bar_, clock_, out_, err_);
    if (name_ports_) reporter->name_port(port);
    return reporter;
}

void EventLinesView::note(const std::string& port, const std::string& text) {
    if (verbosity_ == TextReporter::Verbosity::Quiet) return;
    print(err_, "%s%s\n", port_prefix(port).c_str(), text.c_str());
}

void EventLinesView::summary(const BatchSummary& summary) {
    write_text(out_, summary_table(summary));
    std::fflush(out_);
}

std::unique_ptr<Reporter> JsonBatchView::board(const std::string& port) {
    return std::make_unique<JsonReporter>(out_, err_, port);
}

void JsonBatchView::note(const std::string& port, const std::string& text) {
    print(out_, "{\"port\":\"%s\",\"event\":\"note\",\"text\":\"%s\"}\n", json_escape(port).c_str(),
          json_escape(text).c_str());
    std::fflush(out_);
}

void JsonBatchView::summary(const BatchSummary& summary) {
    std::string line = "{\"event\":\"summary\",\"passed\":" + std::to_string(summary.passed) +
                       ",\"failed\":" + std::to_string(summary.failed) + ",\"spoiled\":" +
                       std::to_string(summary.spoiled) + ",\"numbers_used\":" + std::to_string(summary.numbers_used) +
                       ",\"boards\":[";
    for (std::size_t i = 0; i < summary.boards.size(); ++i) {
        const BoardRecord& b = summary.boards[i];
        line += std::string(i ? "," : "") + "{\"port\":\"" + json_escape(b.port) + "\",\"chip\":\"" +
                json_escape(b.chip) + "\",\"serial\":" + (b.serial ? std::to_string(*b.serial) : "null") +
                ",\"spoiled\":" + (b.serial_spoiled ? "true" : "false") + ",\"outcome\":\"" +
                (b.passed() ? "passed" : "failed") + "\",\"exit_code\":" + std::to_string(b.exit_code) +
                ",\"milliseconds\":" + std::to_string(b.milliseconds) + "}";
    }
    write_text(out_, line + "]}\n");
    std::fflush(out_);
}

LiveLinesView::LiveLinesView(const std::vector<std::string>& ports, Clock& clock, std::FILE* out, std::FILE* err)
    : clock_(clock), out_(out), err_(err), ports_(ports) {}

std::unique_ptr<Reporter> LiveLinesView::board(const std::string& port) {
    return std::make_unique<LiveBoardReporter>(*this, port);
}

void LiveLinesView::note(const std::string& port, const std::string& text) { set_line(port, text, true); }

void LiveLinesView::set_line(const std::string& port, const std::string& text, bool now) {
    const std::lock_guard lock(mutex_);
    texts_[port] = text;
    const std::int64_t ms = clock_.now_ms();
    if (!now && ms - drawn_ms_ < 100) return;
    drawn_ms_ = ms;
    draw();
}

void LiveLinesView::message(const std::string& text) {
    const std::lock_guard lock(mutex_);
    // Written over the block, which is drawn again below it.
    if (drawn_ > 0) print(err_, "\x1b[%dA", drawn_);
    print(err_, "\r%s\x1b[K\n", text.c_str());
    drawn_ = 0;
    draw();
}

void LiveLinesView::draw() {
    std::string block;
    if (drawn_ > 0) block += "\x1b[" + std::to_string(drawn_) + "A";
    std::size_t width = 0;
    for (const std::string& port : ports_) width = std::max(width, columns(port));
    for (const std::string& port : ports_) {
        std::string line = padded(port, width + 2) + texts_[port];
        // Within 79 columns, so a terminal never wraps a line and the block keeps its height.
        std::size_t cut = 0;
        std::size_t seen = 0;
        while (cut < line.size() && (seen < 79 || (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)) {
            if ((static_cast<unsigned char>(line[cut]) & 0xC0) != 0x80) ++seen;
            ++cut;
        }
        block += "\r" + line.substr(0, cut) + "\x1b[K\n";
    }
    write_text(err_, block);
    std::fflush(err_);
    drawn_ = static_cast<int>(ports_.size());
}

void LiveLinesView::summary(const BatchSummary& summary) {
    write_text(out_, summary_table(summary));
    std::fflush(out_);
}

}  // namespace zarvik::cli
