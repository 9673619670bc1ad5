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
// Verifying: the reading of a verify, as a face names it; the operations themselves
// report Reading for both.
enum class Phase { Erasing, Writing, Reading, Verifying, Configuring };

// Which commands an operation used: the plain four-byte protocol every loader knows,
// or the checks and page frames of our own loader.
enum class Road { Plain, Fast };
// Auto takes the fast road when the loader's first block carries our signature with
// the protocol version this host speaks (2); any other loader gets the plain road.
enum class RoadChoice { Auto, Plain };

// Advice about the loader, given with every outcome on its connection.
enum class LoaderAdvice {
    None,
    ReplaceVersion1,  // our loader of protocol version 1: plain road only, and it should be replaced
};

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
    FoscNotNumber,      // no number can be read from the clock text
    TimeoutNotNumber,   // no number can be read from the wait text
    WaitTooShort,       // under half a second: asks for confirmation first
    FoscOutOfRange,     // a clock these chips do not run at: asks for confirmation first
    WrongDevice,        // the chip's loader is at another model's address
    DeviceNotConfirmed, // no loader block at any candidate address
    NoLoaderBlock,      // configure: the model's loader start holds no loader block
    SerialOverFileData, // the serial number would lie on a byte the file holds
};

struct OperationOutcome {
    enum class Result {
        Success,
        Differences,  // verify: the device differs from the file
        LinkFailure,  // no or short answer, or the line went away
        FileFailure,  // HEX file unreadable, damaged or empty; or an export not written
        Refused,
        Interrupted,  // a stop was requested; what was under way may be half done
    };

    Operation operation = Operation::Erase;
    MemoryKind memory = MemoryKind::Flash;
    Result result = Result::Success;
    Road road = Road::Plain;
    std::int64_t elapsed_ms = 0;       // device traffic only: no file loading, no dialogs
    std::uint32_t first_address = 0;   // the range the operation covered
    std::uint32_t end_address = 0;
    std::vector<Difference> differences;  // verify: in address order, at most kMaxListedDifferences
    std::uint32_t difference_count = 0;   // verify: all of them
    std::optional<TransactionFailure> link_failure;
    bool while_identifying = false;    // LinkFailure: it came while the chip's identity was read
    std::optional<HexError> file_error;
    std::string export_error;          // read: why the file could not be written
    std::string path;                  // the file the operation used
    Refusal refusal = Refusal::None;
    std::uint32_t refused_address = 0;   // the highest data address of the file; for a patch, its
                                         // last byte, or the first it shares with the file
    std::uint32_t refusal_limit = 0;     // where the model's memory for it ends
    bool patch_refused = false;          // DataOverLoader, DataBeyondEeprom: the patch reaches there, not the file
    std::uint32_t stopped_address = 0;   // Interrupted: the address it had reached
    std::string fosc_text;             // configure: the texts as used, commas made points
    std::string timeout_text;
    double wait_seconds = 0;           // configure: the wait the count gives
    double longest_wait_seconds = 0;   // configure: the longest wait that fits at this clock
    std::string device_name;           // WrongDevice: the chip found ("ATmega8/88")
    std::uint32_t device_loader_start = 0;  // WrongDevice: where its loader is
    std::string selected_name;         // WrongDevice, DeviceNotConfirmed: the model chosen
    LoaderAdvice advice = LoaderAdvice::None;

    bool ok() const { return result == Result::Success; }
    std::uint32_t bytes() const { return end_address - first_address; }

    static constexpr std::size_t kMaxListedDifferences = 1024;
};

}  // namespace zarvik
