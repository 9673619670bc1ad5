#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

// A place on the fixture: its port, and the name the line gives it (--ports 1=PATH), if
// it has one. The name is what the operator reads; the port, where it has none.
struct Position {
    std::string name;
    std::string port;
    const std::string& label() const { return name.empty() ? port : name; }
};

struct Tally {
    int passed = 0;
    int failed = 0;
};

// What a batch ended with, for its closing table.
struct BatchSummary {
    // In the order of the positions; each position's boards in the order they ended.
    std::vector<BoardRecord> boards;
    Tally all;
    int numbers_used = 0;  // serial numbers on boards that passed
    int spoiled = 0;       // serial numbers taken by boards that failed, never given again
};

// How the boards of a batch reach the operator: a reporter for each board's run, notes
// between boards, each board's verdict, and the closing table. Called from every
// position's thread.
class BatchView {
public:
    virtual ~BatchView() = default;
    // A board begins at `position`; the position's last verdict goes with it.
    virtual std::unique_ptr<Reporter> board(const Position& position) = 0;
    // Between boards: waiting for one, one left in its loader, the port missing, no more
    // boards taken.
    virtual void note(const Position& position, const std::string& text) = 0;
    // A board ended: its verdict, which stays until the position's next board begins, and
    // the counts at the position and in all so far.
    virtual void verdict(const Position& position, const BoardRecord& board, const Tally& here, const Tally& all) = 0;
    // A problem of the whole batch, shown whatever the verbosity: what keeps it from
    // taking its first board, or from taking more.
    virtual void problem(const std::string& text) = 0;
    virtual void summary(const BatchSummary& summary) = 0;
};

struct BatchOptions {
    std::vector<Position> positions;
    // Wait for a board at each position, program it, and wait for the next, until a stop.
    bool repeat = false;
    std::string log_path;
    std::string csv_path;
    std::string station;  // named in every log line
};

// The same command chain at several positions at once, each on its own thread with its
// own line, identity check and road. A board that fails stops only itself. Every board is
// logged when it ends, before the next one at its position begins; a board whose line
// cannot be logged fails the run, and no position takes another.
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
    void run_once(std::size_t position, const std::vector<Step>& plan);
    void run_repeatedly(std::size_t position, const std::vector<Step>& plan);
    BoardRecord run_board(std::size_t position, const std::vector<Step>& plan, Clock& clock, ByteLink* link,
                          Cancellation& cancel);
    // Logs and counts the board; false when its lines could not be logged.
    bool finish(std::size_t position, BoardRecord& record);
    std::optional<std::string> check_before_first_board() const;
    // False once a board's lines could not be logged: no position takes another.
    bool taking_boards() const;

    const SessionOptions& base_;
    const BatchOptions& options_;
    BatchView& view_;
    Clock& clock_;
    Cancellation& stop_;
    BoardLog log_;
    std::map<std::string, Line> lines_;
    mutable std::mutex mutex_;  // guards what follows
    std::vector<std::vector<BoardRecord>> boards_;  // by position
    std::vector<Tally> tallies_;                    // by position
    Tally all_;
    bool taking_ = true;
    int exit_code_ = kOk;
};

}  // namespace zarvik::cli
