#include "cli/batch_views.h"

#include <algorithm>

#include "cli/console.h"
#include "cli/console_text.h"
#include "cli/json_reporter.h"
#include "programmer/status_texts.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

// The live lines stay within 79 columns, so that an 80-column terminal never wraps one
// and the block keeps its height.
constexpr std::size_t kLineColumns = 79;

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t n = text_columns(text);
    return n >= width ? text : text + std::string(width - n, ' ');
}

// The first `width` columns of a UTF-8 text.
std::string cut(const std::string& text, std::size_t width) {
    std::size_t end = 0;
    std::size_t seen = 0;
    while (end < text.size() && (seen < width || (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) ++seen;
        ++end;
    }
    return text.substr(0, end);
}

std::string milliseconds_text(std::int64_t ms) {
    return formatted_text(tr_text("cli", "%lld мс"), static_cast<long long>(ms));
}

// A result in a word or two, by the exit code it gives.
std::string result_word(int exit_code) {
    switch (exit_code) {
        case kOk: return tr_text("cli", "годна");
        case kDifferences: return tr_text("cli", "различия");
        case kUsage: return tr_text("cli", "ошибка в команде");
        case kLink: return tr_text("cli", "нет связи");
        case kFile: return tr_text("cli", "ошибка файла");
        case kWrongDevice: return tr_text("cli", "не тот МК");
        default: return tr_text("cli", "прервано");
    }
}

// The chip found, and the one asked for where that is another.
std::string chip_text(const BoardRecord& b) {
    if (b.chip.empty()) return "-";
    if (b.chip_asked.empty()) return b.chip;
    return b.chip + formatted_text(tr_text("cli", " (задан %s)"), b.chip_asked.c_str());
}

std::string counts_text(const Tally& here, const Tally& all, bool several) {
    std::string text = formatted_text(tr_text("cli", "годных: %d, с отказом: %d"), here.passed, here.failed);
    if (several) text += formatted_text(tr_text("cli", "; всего годных: %d, с отказом: %d"), all.passed, all.failed);
    return text;
}

// One board's progress as its line on a terminal shows it: short states, the full texts
// of failures above the block.
class LiveBoardReporter final : public Reporter {
public:
    LiveBoardReporter(LiveLinesView& view, Position position) : view_(view), position_(std::move(position)) {}

    void begin(Operation operation, MemoryKind memory) override {
        step_ = operation_text(operation, memory);
        maximum_ = 0;
        show(step_, true);
    }
    void on_range(std::uint32_t maximum) override { maximum_ = maximum; }
    void on_position(std::uint32_t position) override {
        const int percent = maximum_ > 0 ? static_cast<int>(std::min<std::uint64_t>(position, maximum_) * 100 / maximum_) : 100;
        constexpr int kWidth = 12;
        const int filled = percent * kWidth / 100;
        show(step_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                 std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " + std::to_string(percent) + "%",
             false);
    }
    void outcome(const OperationOutcome& o) override {
        if (o.ok()) {
            show(step_ + ": " + tr_text("cli", "готово"), true);
            return;
        }
        view_.message("zarvik-cli: " + port_prefix(position_.label()) + result_text(o));
        show(step_ + ": " + result_word(exit_code_for(o)), true);
    }
    void connection(bool connected, bool) override {
        show(tr_text("status", connected ? kConnected : kNotConnected), true);
    }
    void ports(const std::vector<std::string>&, const std::vector<PortDescription>&, const std::string&) override {}
    void started_program() override { show(tr_text("cli", "программа запущена"), true); }
    void monitoring(const std::string&, int) override {}
    void monitor_output(std::span<const std::uint8_t>) override {}
    void serial_number(std::uint64_t number) override {
        serial_ = "№ " + std::to_string(number) + "  ";
        show(step_, true);
    }
    void device(const std::string& name, std::uint32_t) override { chip_ = name + "  "; }
    void error(const std::string& text) override {
        view_.message("zarvik-cli: " + port_prefix(position_.label()) + text);
        show(text, true);
    }
    void warning(const std::string& text) override { view_.message(port_prefix(position_.label()) + text); }

private:
    void show(const std::string& text, bool now) { view_.set_state(position_, chip_ + serial_ + text, now); }

    LiveLinesView& view_;
    Position position_;
    std::string step_;
    std::string chip_;
    std::string serial_;
    std::uint32_t maximum_ = 0;
};

}  // namespace

std::string board_result_text(const BoardRecord& b) { return result_word(b.exit_code); }

std::string verdict_text(const BoardRecord& b) {
    std::string text = b.passed() ? "PASS" : "FAIL";
    if (b.serial) text += " № " + std::to_string(*b.serial);
    return text;
}

std::string summary_table(const BatchSummary& summary) {
    const bool named = std::any_of(summary.boards.begin(), summary.boards.end(),
                                   [](const BoardRecord& b) { return !b.position.empty(); });
    std::vector<std::string> head = {tr_text("cli", "Порт"), tr_text("cli", "МК"), tr_text("cli", "Номер"),
                                     tr_text("cli", "Итог"), tr_text("cli", "Время")};
    if (named) head.insert(head.begin(), tr_text("cli", "Место"));
    std::vector<std::vector<std::string>> rows;
    for (const BoardRecord& b : summary.boards) {
        std::string serial = b.serial ? std::to_string(*b.serial) : "-";
        if (b.serial_spoiled) serial += tr_text("cli", " (испорчен)");
        std::string result = board_result_text(b);
        if (!b.logged) result += tr_text("cli", " (нет в журнале)");
        std::vector<std::string> row = {b.port, chip_text(b), serial, result, milliseconds_text(b.milliseconds)};
        if (named) row.insert(row.begin(), b.position.empty() ? "-" : b.position);
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths(head.size());
    for (std::size_t c = 0; c < head.size(); ++c) {
        widths[c] = text_columns(head[c]);
        for (const auto& row : rows) widths[c] = std::max(widths[c], text_columns(row[c]));
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t c = 0; c < cells.size(); ++c) out += c + 1 < cells.size() ? padded(cells[c], widths[c] + 2) : cells[c];
        return out + "\n";
    };
    std::string table = line(head);
    for (const auto& row : rows) table += line(row);
    return table + formatted_text(tr_text("cli", "Плат: %d, годных: %d, с отказом: %d; номеров использовано: %d, испорчено: %d\n"),
                                  static_cast<int>(summary.boards.size()), summary.all.passed, summary.all.failed,
                                  summary.numbers_used, summary.spoiled);
}

EventLinesView::EventLinesView(TextReporter::Verbosity verbosity, bool name_positions, bool verdicts,
                               bool progress_bar, Clock& clock, std::FILE* out, std::FILE* err)
    : verbosity_(verbosity), name_positions_(name_positions), verdicts_(verdicts), progress_bar_(progress_bar),
      clock_(clock), out_(out), err_(err) {}

std::string EventLinesView::prefix(const Position& position) const {
    return name_positions_ ? port_prefix(position.label()) : std::string();
}

std::unique_ptr<Reporter> EventLinesView::board(const Position& position) {
    auto reporter = std::make_unique<TextReporter>(verbosity_, progress_bar_, clock_, out_, err_);
    if (name_positions_) reporter->name_port(position.label());
    return reporter;
}

void EventLinesView::note(const Position& position, const std::string& text) {
    if (verbosity_ == TextReporter::Verbosity::Quiet) return;
    print(err_, "%s%s\n", prefix(position).c_str(), text.c_str());
}

void EventLinesView::verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) {
    if (!verdicts_ || (verbosity_ == TextReporter::Verbosity::Quiet && board.passed())) return;
    print(out_, "%s%s  (%s)\n", prefix(position).c_str(), verdict_text(board).c_str(),
          counts_text(here, all, name_positions_).c_str());
    std::fflush(out_);
}

void EventLinesView::problem(const std::string& text) { print(err_, "zarvik-cli: %s\n", text.c_str()); }

void EventLinesView::summary(const BatchSummary& summary) {
    if (verbosity_ == TextReporter::Verbosity::Quiet) return;
    write_text(out_, summary_table(summary));
    std::fflush(out_);
}

void JsonBatchView::put(const std::string& line) {
    write_text(out_, line);
    std::fflush(out_);
}

std::unique_ptr<Reporter> JsonBatchView::board(const Position& position) {
    return std::make_unique<JsonReporter>(out_, err_, position.port, position.name);
}

namespace {

std::string json_position(const Position& position) {
    std::string text = "{\"port\":\"" + json_escape(position.port) + "\",";
    if (!position.name.empty()) text += "\"position\":\"" + json_escape(position.name) + "\",";
    return text;
}

}  // namespace

void JsonBatchView::note(const Position& position, const std::string& text) {
    put(json_position(position) + "\"event\":\"note\",\"text\":\"" + json_escape(text) + "\"}\n");
}

void JsonBatchView::verdict(const Position& position, const BoardRecord& b, const Tally& here, const Tally& all) {
    put(json_position(position) + "\"event\":\"verdict\",\"outcome\":\"" + (b.passed() ? "passed" : "failed") +
        "\",\"serial\":" + (b.serial ? std::to_string(*b.serial) : "null") + ",\"passed\":" +
        std::to_string(here.passed) + ",\"failed\":" + std::to_string(here.failed) + ",\"all_passed\":" +
        std::to_string(all.passed) + ",\"all_failed\":" + std::to_string(all.failed) + "}\n");
}

void JsonBatchView::problem(const std::string& text) {
    put("{\"event\":\"error\",\"text\":\"" + json_escape(text) + "\"}\n");
    print(err_, "zarvik-cli: %s\n", text.c_str());
}

void JsonBatchView::summary(const BatchSummary& summary) {
    std::string line = "{\"event\":\"summary\",\"passed\":" + std::to_string(summary.all.passed) +
                       ",\"failed\":" + std::to_string(summary.all.failed) + ",\"spoiled\":" +
                       std::to_string(summary.spoiled) + ",\"numbers_used\":" + std::to_string(summary.numbers_used) +
                       ",\"boards\":[";
    for (std::size_t i = 0; i < summary.boards.size(); ++i) {
        const BoardRecord& b = summary.boards[i];
        line += std::string(i ? "," : "") + "{\"port\":\"" + json_escape(b.port) + "\",\"position\":\"" +
                json_escape(b.position) + "\",\"chip\":\"" + json_escape(b.chip) + "\",\"chip_asked\":\"" +
                json_escape(b.chip_asked) + "\",\"serial\":" + (b.serial ? std::to_string(*b.serial) : "null") +
                ",\"spoiled\":" + (b.serial_spoiled ? "true" : "false") + ",\"outcome\":\"" +
                (b.passed() ? "passed" : "failed") + "\",\"exit_code\":" + std::to_string(b.exit_code) +
                ",\"logged\":" + (b.logged ? "true" : "false") + ",\"milliseconds\":" +
                std::to_string(b.milliseconds) + "}";
    }
    put(line + "]}\n");
}

LiveLinesView::LiveLinesView(const std::vector<Position>& positions, bool colour, Clock& clock, std::FILE* out,
                             std::FILE* err)
    : colour_(colour), clock_(clock), out_(out), err_(err), positions_(positions) {}

std::unique_ptr<Reporter> LiveLinesView::board(const Position& position) {
    {
        const std::lock_guard lock(mutex_);
        Line& line = lines_[position.label()];
        line.verdict.clear();
        line.state.clear();
    }
    return std::make_unique<LiveBoardReporter>(*this, position);
}

void LiveLinesView::note(const Position& position, const std::string& text) { set_state(position, text, true); }

void LiveLinesView::verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) {
    const std::lock_guard lock(mutex_);
    Line& line = lines_[position.label()];
    line.verdict = verdict_text(board);
    line.passed = board.passed();
    line.tally = here;
    all_ = all;
    drawn_ms_ = clock_.now_ms();
    draw();
}

void LiveLinesView::problem(const std::string& text) { message("zarvik-cli: " + text); }

void LiveLinesView::set_state(const Position& position, const std::string& text, bool now) {
    const std::lock_guard lock(mutex_);
    lines_[position.label()].state = text;
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

// The position's name, its state cut to what is left, then its counts and its verdict,
// which ends the line; the counts stand in one column on every line.
std::string LiveLinesView::drawn_line(const Position& position, const Line& line, std::size_t label_width,
                                      std::size_t verdict_width) const {
    std::string counts;
    if (line.tally.passed + line.tally.failed > 0) {
        counts = "✓" + std::to_string(line.tally.passed) + " ✗" + std::to_string(line.tally.failed);
    }
    const std::size_t right_width = std::max<std::size_t>(text_columns(counts), 7) + 2 + verdict_width;
    const std::size_t room = kLineColumns > right_width + 1 ? kLineColumns - right_width - 1 : 0;
    std::string text = padded(cut(padded(position.label(), label_width + 2) + line.state, room), room + 1);
    text += padded(counts, right_width - verdict_width);
    if (line.verdict.empty()) return text;
    // Only the verdict is coloured: green for a board that passed, red for one that failed.
    if (!colour_) return text + line.verdict;
    return text + (line.passed ? "\x1b[1;32m" : "\x1b[1;31m") + line.verdict + "\x1b[0m";
}

void LiveLinesView::draw() {
    std::string block;
    if (drawn_ > 0) block += "\x1b[" + std::to_string(drawn_) + "A";
    std::size_t width = 0;
    std::size_t verdict_width = 4;
    for (const Position& position : positions_) {
        width = std::max(width, text_columns(position.label()));
        verdict_width = std::max(verdict_width, text_columns(lines_[position.label()].verdict));
    }
    for (const Position& position : positions_) {
        block += "\r" + drawn_line(position, lines_[position.label()], width, verdict_width) + "\x1b[K\n";
    }
    int lines = static_cast<int>(positions_.size());
    if (positions_.size() > 1) {
        block += "\r" + cut(formatted_text(tr_text("cli", "Всего: годных %d, с отказом %d"), all_.passed, all_.failed),
                            kLineColumns) + "\x1b[K\n";
        ++lines;
    }
    write_text(err_, block);
    std::fflush(err_);
    drawn_ = lines;
}

void LiveLinesView::summary(const BatchSummary& summary) {
    write_text(out_, summary_table(summary));
    std::fflush(out_);
}

}  // namespace zarvik::cli
