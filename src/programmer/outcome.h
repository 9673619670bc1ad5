#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loader/protocol.h"
#include "memory/intel_hex_error.h"
#include "memory/memory_image.h"

namespace zarvik {

enum class Operation { Erase, Write, Verify, Read, Configure };
enum class Phase { Writing, Reading };

struct Difference {
    std::uint32_t address;
    std::uint8_t expected;
    std::uint8_t found;
};

// Why an operation refused to start; nothing was sent to the device.
enum class Refusal {
    None,
    DataOverLoader,     // flash data at or above the loader start address
    DataBeyondEeprom,   // EEPROM data at or beyond the model's EEPROM size
    WaitCountTooLarge,
    WaitCountNegative,
    WaitCountNotNumber,
};

struct OperationOutcome {
    enum class Result {
        Success,
        Differences,  // verify: the device differs from the file
        LinkFailure,  // no or short answer, or the line went away
        FileFailure,  // HEX file unreadable, damaged or empty; or an export not written
        Refused,
    };

    Operation operation = Operation::Erase;
    MemoryKind memory = MemoryKind::Flash;
    Result result = Result::Success;
    std::int64_t elapsed_ms = 0;       // device traffic only: no file loading, no dialogs
    std::uint32_t first_address = 0;   // the range the operation covered
    std::uint32_t end_address = 0;
    std::vector<Difference> differences;  // verify: in address order, at most kMaxListedDifferences
    std::uint32_t difference_count = 0;   // verify: all of them
    std::optional<TransactionFailure> link_failure;
    std::optional<HexError> file_error;
    std::string export_error;          // read: why the file could not be written
    std::string path;                  // the file the operation used
    Refusal refusal = Refusal::None;
    std::uint32_t refused_address = 0;   // the highest data address of the file
    std::uint32_t refusal_limit = 0;     // where the model's memory for it ends
    std::string fosc_text;             // configure: the texts as used, commas made points
    std::string timeout_text;

    bool ok() const { return result == Result::Success; }
    std::uint32_t bytes() const { return end_address - first_address; }

    static constexpr std::size_t kMaxListedDifferences = 1024;
};

}  // namespace zarvik
