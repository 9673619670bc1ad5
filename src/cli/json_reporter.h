#pragma once

#include <cstdio>
#include <string>

#include "cli/reporter.h"

namespace zarvik::cli {

// --json: one object a line on standard output for each progress step, result and
// event, flushed as it is written, for a script that follows along. Errors and warnings
// also go to standard error as text, where a log collects them.
class JsonReporter final : public Reporter {
public:
    // `port`, when given, is named in every object, and `position` with it when the line
    // names its positions: the boards of several ports share one stream.
    explicit JsonReporter(std::FILE* out = stdout, std::FILE* err = stderr, std::string port = {},
                          std::string position = {});

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

    void on_range(std::uint32_t maximum) override;
    void on_position(std::uint32_t position) override;

private:
    template <typename... Args>
    void put_line(const char* format, Args... args);

    std::FILE* out_;
    std::FILE* err_;
    std::string port_;
    std::string position_;
    Operation operation_ = Operation::Erase;
    MemoryKind memory_ = MemoryKind::Flash;
    std::uint32_t maximum_ = 0;
};

std::string json_escape(const std::string& text);

}  // namespace zarvik::cli
