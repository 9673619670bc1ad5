#include "cli/board_record.h"

#include <algorithm>

#include "programmer/status_texts.h"
#include "text/language.h"

namespace zarvik::cli {

void RecordingReporter::outcome(const OperationOutcome& o) {
    // What a failed operation got through: the address its progress reached, which each
    // road moves only past what the loader confirmed.
    const bool whole = o.ok() || o.result == OperationOutcome::Result::Differences;
    const std::uint32_t reached = position_ > o.first_address ? position_ - o.first_address : 0;
    const std::uint32_t bytes = whole ? o.bytes() : std::min(reached, o.bytes());
    record_.operations.push_back(
        {operation_word(o.operation), memory_word(o.memory), outcome_word(o.result), bytes, o.elapsed_ms});
    if (!o.ok()) keep_first_error(result_text(o));
    inner_.outcome(o);
}

void RecordingReporter::connection(bool connected, bool announce) {
    record_.operations.push_back({"connect", "", connected ? "success" : "link-error", 0, 0});
    if (!connected) keep_first_error(tr_text("status", kNotConnected));
    inner_.connection(connected, announce);
}

void RecordingReporter::started_program() {
    record_.operations.push_back({"start", "", "success", 0, 0});
    inner_.started_program();
}

void RecordingReporter::serial_number(std::uint64_t number) {
    record_.serial = number;
    inner_.serial_number(number);
}

void RecordingReporter::error(const std::string& text) {
    keep_first_error(text);
    inner_.error(text);
}

}  // namespace zarvik::cli
