#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "link/cancellation.h"
#include "link/clock.h"
#include "loader/protocol.h"
#include "programmer/outcome.h"
#include "programmer/partial_pages.h"
#include "programmer/programmer_state.h"
#include "programmer/progress.h"
#include "programmer/stopwatch.h"

namespace zarvik {

struct WriteOptions {
    // Flash: erase each 64-byte page just before it is programmed, so that a write
    // alone leaves exactly the file's bytes on a chip that held another program.
    bool erase_pages = false;
};

// The way the bytes travel once the programmer has checked the file and the chip:
// the plain four-byte protocol, or our own loader's checked session. The programmer
// picks one per operation and hands it an outcome that names the memory and its range
// (`end_address`, and for write and verify the file already in the image); the road
// fills in the rest.
//
// A stop is honoured between transactions. The plain road asks whether one is
// requested, the fast road whether one is pending; they differ only under a hold. The
// fast road's frame stream takes one so that answers in flight are read to their end,
// and under it must still see the stop to send no further frame. No hold is ever taken
// around the plain road, nor around the fast road outside its stream, so there both
// questions answer alike.
class MemoryRoad {
public:
    virtual ~MemoryRoad() = default;
    // The whole user area (flash) or the whole EEPROM.
    virtual OperationOutcome erase(OperationOutcome o, ProgressObserver& progress) = 0;
    // Writes `first_address` up to `end_address`: flash in whole chip pages, the chip's
    // own bytes kept around the range; EEPROM byte for byte.
    virtual OperationOutcome write(OperationOutcome o, ProgressObserver& progress, WriteOptions options) = 0;
    // Compares `first_address` (0 for a file) up to `end_address`; the read-back buffer
    // is blank on entry.
    virtual OperationOutcome verify(OperationOutcome o, ProgressObserver& progress) = 0;
    // `end_address` bytes from address 0 into the read-back buffer, blank on entry.
    virtual OperationOutcome read(OperationOutcome o, ProgressObserver& progress) = 0;
};

// What both roads share.
std::span<std::uint8_t> image_of(ProgrammerState& s, MemoryKind m);
std::span<std::uint8_t> readback_of(ProgrammerState& s, MemoryKind m);
std::span<const std::uint8_t> readback_of(const ProgrammerState& s, MemoryKind m);
// The user program area (flash) or the EEPROM of the model.
std::uint32_t capacity_of(const DeviceModel& model, MemoryKind m);

OperationOutcome interrupted(OperationOutcome o, std::uint32_t address);
// A wait cut short by a stop (or a failure while one is requested) is an interruption,
// not a silent loader.
OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure, bool stop_requested);
// Lists where `found` differs from `wanted`, both starting at `address` on the chip;
// returns how many bytes did.
std::uint32_t note_differences(OperationOutcome& o, std::uint32_t address, std::span<const std::uint8_t> wanted,
                               std::span<const std::uint8_t> found);
// The outcome Differences when any were noted.
OperationOutcome judged(OperationOutcome o);
// The file's range widened to whole chip pages, with the end never before the start.
PageSpan file_pages(const OperationOutcome& o, const DeviceModel& model);

// Runs `work(o)` and stamps the time the device traffic took.
template <typename Work>
OperationOutcome timed(Clock& clock, OperationOutcome o, Work&& work) {
    const Stopwatch watch(clock);
    o = std::forward<Work>(work)(std::move(o));
    o.elapsed_ms = watch.elapsed();
    return o;
}

}  // namespace zarvik
