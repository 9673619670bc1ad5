#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/reporter.h"

namespace zarvik::cli {

// One operation of a board as the log keeps it.
struct OperationRecord {
    std::string operation;  // "connect", "erase", "write", ...
    std::string memory;     // "flash", "eeprom", or empty
    std::string outcome;    // "success", "differences", "link-error", ...
    std::uint32_t bytes = 0;  // done: a failed write counts the bytes confirmed, not those planned
    std::int64_t milliseconds = 0;
};

struct FileRecord {
    std::string memory;
    std::string path;
    std::optional<std::uint32_t> crc32;  // of the file's bytes as they were read; none when unreadable
};

// Everything a production line keeps of one board: what it was, what it was given, and
// how each step ended.
struct BoardRecord {
    std::string time;     // ISO 8601 UTC, when the board's run began
    std::string ended;    // and when it ended
    std::string station;  // --station, by default the host's name
    std::string host;
    std::string position;  // the fixture position's name (--ports NAME=PATH), or empty
    std::string port;
    std::string adapter_serial;  // the USB adapter's serial number, when the system knows it
    // The chip its loader showed: "ATmega328", or "ATmega8/88" for the two that cannot be
    // told apart; empty when the chain never read it (`connect` alone) or could not.
    std::string chip;
    std::string chip_asked;   // -m's model, where it is not the chip found
    std::string loader_kind;  // "zarvik" (ours), "other", or empty when none answered
    int loader_version = 0;   // ours only
    std::vector<FileRecord> files;
    std::optional<std::uint64_t> serial;
    bool serial_spoiled = false;  // taken, but the board failed: never given again
    std::string serial_place;     // "eeprom:0x10", with --serial-at
    std::string serial_format;    // "u32le"
    std::vector<OperationRecord> operations;
    std::string error;  // the first problem, as the screen showed it
    int exit_code = 0;
    std::int64_t milliseconds = 0;
    bool logged = true;  // false: its line could not be kept in the logs

    bool passed() const { return exit_code == 0; }
    bool program_started() const {
        return !operations.empty() && operations.back().operation == "start" && operations.back().outcome == "success";
    }
};

// A reporter that keeps what a board's session tells into its record and passes it on.
class RecordingReporter final : public Reporter {
public:
    RecordingReporter(Reporter& inner, BoardRecord& record) : inner_(inner), record_(record) {}

    void begin(Operation operation, MemoryKind memory) override {
        position_ = 0;
        inner_.begin(operation, memory);
    }
    void outcome(const OperationOutcome& outcome) override;
    void connection(bool connected, bool announce) override;
    void ports(const std::vector<std::string>& names, const std::vector<PortDescription>& descriptions,
               const std::string& summary) override {
        inner_.ports(names, descriptions, summary);
    }
    void started_program() override;
    void monitoring(const std::string& port, int baud) override { inner_.monitoring(port, baud); }
    void monitor_output(std::span<const std::uint8_t> bytes) override { inner_.monitor_output(bytes); }
    void serial_number(std::uint64_t number) override;
    void device(const std::string& name, std::uint32_t loader_start) override { inner_.device(name, loader_start); }
    void error(const std::string& text) override;
    void warning(const std::string& text) override { inner_.warning(text); }

    void on_phase(Phase phase) override { inner_.on_phase(phase); }
    void on_range(std::uint32_t maximum) override { inner_.on_range(maximum); }
    void on_position(std::uint32_t position) override {
        position_ = position;
        inner_.on_position(position);
    }

private:
    void keep_first_error(const std::string& text) {
        if (record_.error.empty()) record_.error = text;
    }

    Reporter& inner_;
    BoardRecord& record_;
    std::uint32_t position_ = 0;  // how far the operation under way has come
};

}  // namespace zarvik::cli
