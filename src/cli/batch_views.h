#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/text_reporter.h"
#include "link/clock.h"

namespace zarvik::cli {

// The closing table: port, chip, serial number, result and time, one board a row, then
// the batch's totals.
std::string summary_table(const BatchSummary& summary);
// A board's result in a word or two: "годна", "различия", "нет связи", ...
std::string board_result_text(const BoardRecord& board);

// Not a terminal (a log, a pipe): one line per event, each naming its port when several
// share the streams.
class EventLinesView final : public BatchView {
public:
    EventLinesView(TextReporter::Verbosity verbosity, bool name_ports, bool progress_bar, Clock& clock,
                   std::FILE* out = stdout, std::FILE* err = stderr);
    std::unique_ptr<Reporter> board(const std::string& port) override;
    void note(const std::string& port, const std::string& text) override;
    void summary(const BatchSummary& summary) override;

private:
    TextReporter::Verbosity verbosity_;
    bool name_ports_;
    bool progress_bar_;
    Clock& clock_;
    std::FILE* out_;
    std::FILE* err_;
};

// --json: every object names its port; the batch ends with a "summary" object.
class JsonBatchView final : public BatchView {
public:
    explicit JsonBatchView(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
    std::unique_ptr<Reporter> board(const std::string& port) override;
    void note(const std::string& port, const std::string& text) override;
    void summary(const BatchSummary& summary) override;

private:
    std::FILE* out_;
    std::FILE* err_;
};

// A terminal: one line per port, redrawn in place; notes and problems scroll above them.
class LiveLinesView final : public BatchView {
public:
    LiveLinesView(const std::vector<std::string>& ports, Clock& clock, std::FILE* out = stdout, std::FILE* err = stderr);
    std::unique_ptr<Reporter> board(const std::string& port) override;
    void note(const std::string& port, const std::string& text) override;
    void summary(const BatchSummary& summary) override;

    // For the boards' reporters: a port's line changed (drawn at most ten times a
    // second unless `now`), or a line to keep above them.
    void set_line(const std::string& port, const std::string& text, bool now);
    void message(const std::string& text);

private:
    void draw();

    Clock& clock_;
    std::FILE* out_;
    std::FILE* err_;
    std::mutex mutex_;
    std::vector<std::string> ports_;
    std::map<std::string, std::string> texts_;
    int drawn_ = 0;  // lines on screen
    std::int64_t drawn_ms_ = -1000;
};

}  // namespace zarvik::cli
