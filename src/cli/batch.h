#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/board_log.h"
#include "cli/board_record.h"
#include "cli/command_plan.h"
#include "cli/reporter.h"
#include "cli/session.h"
#include "link/byte_link.h"
#include "link/cancellation.h"
#include "link/clock.h"

namespace zarvik::cli {

// The worse of two exit codes, in the order of severity the README gives: a stop, then
// a line that failed (a board may be half written), differences, the wrong chip, a file
// problem, a usage error, success.
int worse_exit_code(int a, int b);

// What a batch ended with, for its closing table.
struct BatchSummary {
    std::vector<BoardRecord> boards;  // in the order they ended
    int passed = 0;
    int failed = 0;
    int spoiled = 0;        // serial numbers taken by boards that failed
    int numbers_used = 0;   // serial numbers taken, spoiled ones included
};

// How the boards of a batch reach the operator: a reporter for each board's run, notes
// between boards, and the closing table. Called from every port's thread.
class BatchView {
public:
    virtual ~BatchView() = default;
    virtual std::unique_ptr<Reporter> board(const std::string& port) = 0;
    // Between boards: waiting for one, the one programmed gone, the log not written.
    virtual void note(const std::string& port, const std::string& text) = 0;
    virtual void summary(const BatchSummary& summary) = 0;
};

struct BatchOptions {
    std::vector<std::string> ports;
    // Wait for a board on each port, program it, wait until it is gone, and again,
    // until a stop.
    bool repeat = false;
    std::string log_path;
    std::string csv_path;
    // The closing table even for a single board that ran once.
    bool always_summarise = false;
};

// The same command chain on several ports at once, each on its own thread with its own
// line, identity check and road. A board that fails stops only itself. Every board is
// logged when it ends, before the next one on its port begins.
class Batch {
public:
    Batch(const SessionOptions& base, const BatchOptions& options, BatchView& view, Clock& clock, Cancellation& stop);

    // A port's line is `link` on `clock` instead of the port itself (tests, simulated boards).
    void use_link(const std::string& port, ByteLink& link, Clock& clock);

    int run(const std::vector<Step>& plan);

private:
    struct Line {
        ByteLink* link = nullptr;
        Clock* clock = nullptr;
    };
    void run_port(const std::string& port, const std::vector<Step>& plan);
    void run_port_repeatedly(const std::string& port, const std::vector<Step>& plan);
    int run_board(const std::string& port, const std::vector<Step>& plan, Clock& clock, ByteLink* link,
                  Cancellation& cancel);
    void finish(BoardRecord record);

    const SessionOptions& base_;
    const BatchOptions& options_;
    BatchView& view_;
    Clock& clock_;
    Cancellation& stop_;
    BoardLog log_;
    std::map<std::string, Line> lines_;
    std::mutex mutex_;  // guards what follows
    BatchSummary summary_;
    int exit_code_ = kOk;
};

}  // namespace zarvik::cli
