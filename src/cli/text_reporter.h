#pragma once

#include <cstdio>
#include <string>

#include "cli/reporter.h"
#include "link/clock.h"

namespace zarvik::cli {

// The texts a person reads. Status texts go to standard output; a progress bar goes to
// standard error when that is a terminal. Quiet keeps to failures, warnings aside.
class TextReporter final : public Reporter {
public:
    enum class Verbosity { Normal, Quiet };

    TextReporter(Verbosity verbosity, bool progress_bar, Clock& clock, std::FILE* out = stdout,
                 std::FILE* err = stderr);

    // One of several boards: each line names `port`, and no bar is drawn.
    void name_port(const std::string& port);

    void begin(Operation operation, MemoryKind memory) override;
    void outcome(const OperationOutcome& outcome) override;
    void connection(bool connected, bool announce) override;
    void ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
               const std::string& summary) override;
    void started_program() override;
    void monitoring(const std::string& port, int baud) override;
    void monitor_output(std::span<const std::uint8_t> bytes) override;
    void serial_number(std::uint64_t number) override;
    void device(const std::string& name, std::uint32_t loader_start) override;
    void error(const std::string& text) override;
    void warning(const std::string& text) override;

    void on_phase(Phase phase) override;
    void on_range(std::uint32_t maximum) override;
    void on_position(std::uint32_t position) override;

private:
    template <typename... Args>
    void say(std::FILE* stream, const char* format, Args... args);
    void clear_bar();
    void draw_bar();

    bool quiet_;
    bool bar_;
    std::string prefix_;
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

}  // namespace zarvik::cli
