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

// The closing table: position (where the line names them), port, chip, serial number,
// result and time, one board a row in the order of the positions, then the totals.
std::string summary_table(const BatchSummary& summary);
// A board's result in a word or two: "годна", "различия", "нет связи", ...
std::string board_result_text(const BoardRecord& board);
// "PASS № 1001", "FAIL": the words are the same in every language, read at a glance.
std::string verdict_text(const BoardRecord& board);

// Not a terminal (a log, a pipe): one line per event, each naming its position when
// several share the streams; with `verdicts`, a line with each board's verdict and the
// counts. Quiet keeps to the failed boards' lines and prints no table: the log has it.
class EventLinesView final : public BatchView {
public:
    EventLinesView(TextReporter::Verbosity verbosity, bool name_positions, bool verdicts, bool progress_bar,
                   Clock& clock, std::FILE* out = stdout, std::FILE* err = stderr);
    std::unique_ptr<Reporter> board(const Position& position) override;
    void note(const Position& position, const std::string& text) override;
    void verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) override;
    void problem(const std::string& text) override;
    void summary(const BatchSummary& summary) override;

private:
    std::string prefix(const Position& position) const;

    TextReporter::Verbosity verbosity_;
    bool name_positions_;
    bool verdicts_;
    bool progress_bar_;
    Clock& clock_;
    std::FILE* out_;
    std::FILE* err_;
};

// --json: every object names its port (and position); each board ends with a "verdict"
// object and the batch with a "summary" object.
class JsonBatchView final : public BatchView {
public:
    explicit JsonBatchView(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
    std::unique_ptr<Reporter> board(const Position& position) override;
    void note(const Position& position, const std::string& text) override;
    void verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) override;
    void problem(const std::string& text) override;
    void summary(const BatchSummary& summary) override;

private:
    void put(const std::string& line);

    std::FILE* out_;
    std::FILE* err_;
};

// A terminal: one line per position, redrawn in place, within 80 columns: its state on
// the left, its counts and its last board's verdict (coloured when `colour`) on the
// right; with several positions, a line of totals below. Notes and problems scroll
// above the block.
class LiveLinesView final : public BatchView {
public:
    LiveLinesView(const std::vector<Position>& positions, bool colour, Clock& clock, std::FILE* out = stdout,
                  std::FILE* err = stderr);
    std::unique_ptr<Reporter> board(const Position& position) override;
    void note(const Position& position, const std::string& text) override;
    void verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) override;
    void problem(const std::string& text) override;
    void summary(const BatchSummary& summary) override;

    // For the boards' reporters: a position's state changed (drawn at most ten times a
    // second unless `now`), or a line to keep above the block.
    void set_state(const Position& position, const std::string& text, bool now);
    void message(const std::string& text);

private:
    struct Line {
        std::string state;
        std::string verdict;  // empty while a board runs
        bool passed = false;
        Tally tally;
    };
    void draw();
    std::string drawn_line(const Position& position, const Line& line, std::size_t label_width,
                           std::size_t verdict_width) const;

    bool colour_;
    Clock& clock_;
    std::FILE* out_;
    std::FILE* err_;
    std::mutex mutex_;
    std::vector<Position> positions_;
    std::map<std::string, Line> lines_;  // by the position's label
    Tally all_;
    int drawn_ = 0;  // lines on screen
    std::int64_t drawn_ms_ = -1000;
};

}  // namespace zarvik::cli
