#pragma once

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_plan.h"
#include "cli/json_reporter.h"
#include "cli/session.h"
#include "cli/text_reporter.h"
#include "support/sim_fixture.h"

namespace zarvik::testing {

// What one run of the command line ended with and printed.
struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string drained(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

enum class Face { Text, Json };

// The command words run in process as zarvik-cli runs them, over `board`'s link and on
// its fake clock: what the program would print, without a process or a terminal.
inline CliRun run_session(SimBoard& board, const cli::SessionOptions& options, const std::vector<std::string>& words,
                          Face face = Face::Text) {
    auto plan = cli::parse_plan(words);
    if (auto* error = std::get_if<std::string>(&plan)) return {cli::kUsage, {}, *error};
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) return {};
    CliRun run;
    {
        cli::TextReporter text(cli::TextReporter::Verbosity::Normal, false, board.clock, out, err);
        cli::JsonReporter json(out, err);
        Cancellation cancel;
        cli::Session session(options, face == Face::Json ? static_cast<cli::Reporter&>(json) : text, board.clock,
                             cancel);
        session.use_link(board.link);
        run.code = session.run(std::get<std::vector<cli::Step>>(plan));
    }
    run.out = drained(out);
    run.err = drained(err);
    return run;
}

}  // namespace zarvik::testing
