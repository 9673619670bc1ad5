#include "cli/board_record.h"

namespace zarvik::cli {

void RecordingReporter::outcome(const OperationOutcome& o) {
    record_.operations.push_back(
        {operation_word(o.operation), memory_word(o.memory), outcome_word(o.result), o.bytes(), o.elapsed_ms});
    inner_.outcome(o);
}

void RecordingReporter::connection(bool connected, bool announce) {
    record_.operations.push_back({"connect", "", connected ? "success" : "link-error", 0, 0});
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
    if (record_.error.empty()) record_.error = text;
    inner_.error(text);
}

}  // namespace zarvik::cli
