#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "loader/cancellation.h"
#include "loader/fast_protocol.h"
#include "loader/protocol.h"
#include "programmer/outcome.h"
#include "programmer/programmer_state.h"
#include "programmer/progress.h"

namespace zarvik {

// The flash page, in words, that our loader must report for a model's chip.
std::uint8_t page_words_for(const DeviceModel& model);
// Where the section begins whose pages program with the CPU halted (up to the loader):
// a frame reaching above it is answered only once programmed.
std::uint32_t halting_section_for(const DeviceModel& model);

// Erase, write and verify with our own loader's commands: checks instead of read-back,
// only the units that differ written, page frames streamed three deep, EEPROM answers
// awaited instead of slept for. Every operation starts once the chip is confirmed, and
// returns the same outcome as the plain road would, with `road` set to Fast.
class FastRoad {
public:
    FastRoad(ProgrammerState& state, ByteLink& link, Clock& clock, LoaderProtocol& plain);

    void set_cancellation(Cancellation* cancel) { cancel_ = cancel; }

    // The whole user area (flash) or the whole EEPROM.
    OperationOutcome erase(OperationOutcome o, ProgressObserver& progress);
    // `o` holds the range of the file already loaded into the image.
    OperationOutcome write(OperationOutcome o, ProgressObserver& progress);
    OperationOutcome verify(OperationOutcome o, ProgressObserver& progress);

    // Another exchange is about to change what the chip holds, or time has passed:
    // checks taken earlier no longer stand for it.
    void forget_checks() { fresh_.reset(); }

private:
    struct Frame {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
        // Nothing else in flight with it: its bytes hold 55 55 55 55, or the chip stops
        // reading the line while it programs.
        bool alone = false;
    };
    struct FreshChecks {
        MemoryKind memory;
        std::vector<std::uint32_t> checks;  // of the units from address 0
        std::int64_t taken_ms;
    };

    bool stop_asked() const { return cancel_ != nullptr && cancel_->pending(); }
    OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure) const;
    OperationOutcome interrupted(OperationOutcome o, std::uint32_t address) const;
    TransactionResult take_checks(MemoryKind memory, std::uint32_t units, std::vector<std::uint32_t>& checks);
    TransactionResult read_plain(MemoryKind memory, std::uint32_t address, Block& into);
    OperationOutcome write_flash(OperationOutcome o, ProgressObserver& progress);
    OperationOutcome write_eeprom(OperationOutcome o, ProgressObserver& progress);
    // Streams the frames; `o` comes back Interrupted or LinkFailure with the progress
    // standing where every frame below it is confirmed programmed.
    OperationOutcome stream(OperationOutcome o, const std::vector<Frame>& frames, std::uint32_t end,
                            ProgressObserver& progress);

    ProgrammerState& state_;
    Clock& clock_;
    LoaderProtocol& plain_;
    FastProtocol fast_;
    Cancellation* cancel_ = nullptr;
    std::optional<FreshChecks> fresh_;
};

}  // namespace zarvik
