#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "programmer/outcome.h"
#include "programmer/progress.h"
#include "serial/port_scan.h"

namespace zarvik::cli {

// Everything a command-line session tells its user. TextReporter writes the texts a
// person reads; JsonReporter writes one object a line for a script.
class Reporter : public ProgressObserver {
public:
    // An operation is about to run.
    virtual void begin(Operation operation, MemoryKind memory) = 0;
    virtual void outcome(const OperationOutcome& outcome) = 0;
    virtual void connection(bool connected, bool announce) = 0;
    // One port a line; a tab and what the system knows of its adapter, where it does.
    virtual void ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
                       const std::string& summary) = 0;
    virtual void started_program() = 0;
    // The serial terminal begins; then what the program sends, as it comes.
    virtual void monitoring(const std::string& port, int baud) = 0;
    virtual void monitor_output(std::span<const std::uint8_t> bytes) = 0;
    // The serial number this board was given, once it is taken from the counter.
    virtual void serial_number(std::uint64_t number) = 0;
    // The model the chip showed, when none was given.
    virtual void device(const std::string& name, std::uint32_t loader_start) = 0;
    // A problem that is not an operation's outcome (no port, usage); always shown.
    virtual void error(const std::string& text) = 0;
    virtual void warning(const std::string& text) = 0;
};

// The words both faces name an operation and a memory by: the bar's prefix, JSON's values.
const char* operation_word(Operation op);
const char* memory_word(MemoryKind m);
// An operation and its memory as a person reads them, in the current language: "write
// flash", «запись flash».
std::string operation_text(Operation op, MemoryKind m);
// "success", "differences", "link-error", "file-error", "refused", "interrupted".
const char* outcome_word(OperationOutcome::Result r);

// An outcome's status text with what only the command line adds to it: the count of
// differing bytes, and the option that is the way out of a refusal.
std::string result_text(const OperationOutcome& o);

// "PORT: " before a line that one of several boards prints; empty for a single board.
std::string port_prefix(const std::string& port);

}  // namespace zarvik::cli
