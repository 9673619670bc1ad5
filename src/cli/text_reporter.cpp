#include "cli/text_reporter.h"

#include <algorithm>

#include "cli/console.h"
#include "cli/console_text.h"
#include "programmer/status_texts.h"
#include "text/language.h"

namespace zarvik::cli {

TextReporter::TextReporter(Verbosity verbosity, bool progress_bar, Clock& clock, std::FILE* out, std::FILE* err)
    : quiet_(verbosity == Verbosity::Quiet), bar_(progress_bar && !quiet_), clock_(clock), out_(out), err_(err) {}

void TextReporter::name_port(const std::string& port) {
    prefix_ = port_prefix(port);
    bar_ = false;  // several boards' bars cannot share one line
}

// A line formatted whole and written with one call, after the port's name when several
// boards share the streams, so that their lines never mix.
template <typename... Args>
void TextReporter::say(std::FILE* stream, const char* format, Args... args) {
    const std::string text = formatted_text(format, args...);
    if (!text.empty()) write_text(stream, prefix_ + text);
}

void TextReporter::begin(Operation operation, MemoryKind memory) {
    operation_ = operation;
    memory_ = memory;
    maximum_ = 0;
    position_ = 0;
    started_ms_ = clock_.now_ms();
    drawn_ms_ = -1000;
}

void TextReporter::on_phase(Phase phase) {
    if (!bar_) return;
    clear_bar();
    // A verify reads the chip back: the step is named for what it does.
    if (operation_ == Operation::Verify && phase == Phase::Reading) phase = Phase::Verifying;
    say(err_, "%s\n", phase_text(phase, memory_).c_str());
}

void TextReporter::on_range(std::uint32_t maximum) {
    maximum_ = maximum;
    started_ms_ = clock_.now_ms();
}

void TextReporter::on_position(std::uint32_t position) {
    position_ = std::min(position, maximum_);
    if (bar_) draw_bar();
}

void TextReporter::draw_bar() {
    const std::int64_t now = clock_.now_ms();
    if (now - drawn_ms_ < 50 && position_ < maximum_) return;  // a terminal need not redraw faster
    drawn_ms_ = now;
    const double fraction = maximum_ > 0 ? static_cast<double>(position_) / maximum_ : 1.0;
    // The whole line stays within 79 columns: a console that wraps at its edge would
    // begin every redraw on a new line.
    constexpr int kWidth = 20;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    const double seconds = static_cast<double>(now - started_ms_) / 1000.0;
    const double rate = seconds > 0 ? position_ / seconds : 0.0;
    const std::string line = formatted_text(tr_text("cli", "%s [%s] %3d%%  %u/%u байт  %.0f Б/с"),
                                            operation_text(operation_, memory_).c_str(), bar.c_str(),
                                            static_cast<int>(fraction * 100), position_, maximum_, rate);
    // Drawn over with blanks rather than erased with an escape sequence, which a
    // Windows console without terminal processing prints as it is.
    const int width = static_cast<int>(text_columns(line));
    print(err_, "\r%s%*s", line.c_str(), std::max(bar_width_ - width, 0), "");
    std::fflush(err_);
    bar_width_ = width;
    bar_visible_ = true;
}

void TextReporter::clear_bar() {
    if (!bar_visible_) return;
    print(err_, "\r%*s\r", bar_width_, "");
    std::fflush(err_);
    bar_visible_ = false;
    bar_width_ = 0;
}

void TextReporter::outcome(const OperationOutcome& o) {
    clear_bar();
    const std::string text = result_text(o);
    if (o.ok()) {
        if (!quiet_) say(out_, "%s\n", text.c_str());
    } else {
        // Failures are shown even with --quiet: a script's log must say why it stopped.
        say(o.result == OperationOutcome::Result::Differences ? out_ : err_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

void TextReporter::connection(bool connected, bool announce) {
    clear_bar();
    const char* text = tr_text("status", connected ? kConnected : kNotConnected);
    if (!connected) {
        say(err_, "%s\n", text);
    } else if (announce && !quiet_) {
        say(out_, "%s\n", text);
    }
    std::fflush(out_);
}

void TextReporter::ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
                         const std::string& summary) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string about = descriptions[i].text();
        if (about.empty()) say(out_, "%s\n", names[i].c_str());
        else say(out_, "%s\t%s\n", names[i].c_str(), about.c_str());
    }
    if (!quiet_) say(err_, "%s\n", summary.c_str());
    std::fflush(out_);
}

void TextReporter::started_program() {
    if (!quiet_) say(out_, "%s\n", tr_text("status", kProgramStarted));
    std::fflush(out_);
}

void TextReporter::monitoring(const std::string& port, int baud) {
    clear_bar();
    if (!quiet_) say(err_, tr_text("cli", "Монитор порта %s на %d бод; выход — Ctrl-C\n"), port.c_str(), baud);
}

void TextReporter::monitor_output(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    // The program's bytes as they are, even with --quiet: they are what was asked for.
    write_text(out_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    std::fflush(out_);
}

void TextReporter::serial_number(std::uint64_t number) {
    if (!quiet_) say(out_, tr_text("cli", "Серийный номер: %llu\n"), static_cast<unsigned long long>(number));
    std::fflush(out_);
}

void TextReporter::device(const std::string& name, std::uint32_t loader_start) {
    if (!quiet_) say(out_, tr_text("cli", "МК: %s (загрузчик с адреса 0x%.4X)\n"), name.c_str(), loader_start);
    std::fflush(out_);
}

void TextReporter::error(const std::string& text) {
    clear_bar();
    // The port comes after the program's name, as a compiler puts the file.
    print(err_, "zarvik-cli: %s%s\n", prefix_.c_str(), text.c_str());
}

void TextReporter::warning(const std::string& text) {
    clear_bar();
    if (!quiet_) print(err_, tr_text("cli", "zarvik-cli: внимание: %s\n"), (prefix_ + text).c_str());
}

}  // namespace zarvik::cli
