#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "loader/clock.h"
#include "programmer/outcome.h"
#include "programmer/progress.h"
#include "serial/port_scan.h"

namespace zarvik::cli {

// Everything zarvik-cli prints. Status texts go to standard output; a progress bar goes
// to standard error when that is a terminal; --json prints one object a line instead.
class Reporter final : public ProgressObserver {
public:
    enum class Mode { Text, Json, Quiet };

    Reporter(Mode mode, bool progress_bar, Clock& clock, std::FILE* out = stdout, std::FILE* err = stderr);

    // An operation is about to run.
    void begin(Operation operation, MemoryKind memory);
    void outcome(const OperationOutcome& outcome);
    void connection(bool connected, bool announce);
    // One port a line; a tab and what the system knows of its adapter, where it does.
    void ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
               const std::string& summary);
    void started_program();
    // The serial terminal begins; then what the program sends, as it comes.
    void monitoring(const std::string& port, int baud);
    void monitor_output(std::span<const std::uint8_t> bytes);
    // The model the chip showed, when none was given.
    void device(const std::string& name, std::uint32_t loader_start);
    // A problem that is not an operation's outcome (no port, usage); always shown.
    void error(const std::string& text);
    void warning(const std::string& text);

    void on_phase(Phase phase) override;
    void on_range(std::uint32_t maximum) override;
    void on_position(std::uint32_t position) override;

private:
    void clear_bar();
    void draw_bar();

    Mode mode_;
    bool bar_;
    Clock& clock_;
    std::FILE* out_;
    std::FILE* err_;
    Operation operation_ = Operation::Erase;
    MemoryKind memory_ = MemoryKind::Flash;
    std::uint32_t maximum_ = 0;
    std::uint32_t position_ = 0;
    std::int64_t started_ms_ = 0;
    std::int64_t drawn_ms_ = -1000;
    bool bar_visible_ = false;
    int bar_width_ = 0;  // columns the bar last took
};

std::string json_escape(const std::string& text);

}  // namespace zarvik::cli
