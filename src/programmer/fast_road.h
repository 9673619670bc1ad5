#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/cancellation.h"
#include "loader/loader_session.h"
#include "loader/protocol.h"
#include "programmer/outcome.h"
#include "programmer/partial_pages.h"
#include "programmer/programmer_state.h"
#include "programmer/progress.h"
#include "programmer/road.h"

namespace zarvik {

// The flash page, in words, that our loader must report for a model's chip.
std::uint8_t page_words_for(const DeviceModel& model);
// Where the section begins whose pages program with the CPU halted (up to the loader):
// a frame reaching above it travels alone.
std::uint32_t halting_section_for(const DeviceModel& model);

// Every operation with our own loader, as frames of its checked session: flash checks
// instead of read-back, only the units that differ written (a flash erase is page
// frames of blank bytes for the units that are not blank), page frames streamed three
// deep; the EEPROM read rather than checked, and written only where it differs, each
// write confirmed by the bytes the loader reads back. Every operation starts once the
// chip is confirmed, and returns the same outcome as the plain road would, with `road`
// set to Fast. The session opens with the first operation and stays open until the
// programmer ends it before a plain exchange; after a pause it is opened again.
class FastRoad final : public MemoryRoad {
public:
    FastRoad(ProgrammerState& state, ByteLink& link, Clock& clock);

    void set_cancellation(Cancellation* cancel) { cancel_ = cancel; }

    OperationOutcome erase(OperationOutcome o, ProgressObserver& progress) override;
    // Page frames erase what they program: `options` asks for nothing more here.
    OperationOutcome write(OperationOutcome o, ProgressObserver& progress, WriteOptions options) override;
    OperationOutcome verify(OperationOutcome o, ProgressObserver& progress) override;
    OperationOutcome read(OperationOutcome o, ProgressObserver& progress) override;
    // The session is open, or a failed exchange left the loader to be brought back:
    // either way a sync must come before any plain exchange.
    bool session_pending() const { return session_.is_open() || session_.needs_resync(); }
    // Ends the session with a sync answered "Loader" (nothing when none is open).
    TransactionResult end_session() { return session_.end(); }
    // The configuration inside the session: the loader's first block read, and a new one
    // offered to the loader's guard as a checked frame, so that no line error can turn
    // it into another command.
    TransactionResult read_loader_block(std::uint32_t at, Block& into) {
        if (auto failure = open()) return failure;
        return session_.read(MemoryKind::Flash, at, into);
    }
    TransactionResult program_loader_block(std::uint32_t at, const Block& block) {
        if (auto failure = open()) return failure;
        return session_.program_loader_block(at, block);
    }
    // Someone else's plain sync has ended it (a new connection).
    void forget_session() { session_.forget(); }
    // A version 3 loader's session then runs at the fastest speed both ends hold.
    void allow_speed_switch(LineSpeed* port, int base_baud, int max_baud) { session_.allow_speed_switch(port, base_baud, max_baud); }
    int line_speed() const { return session_.speed(); }
    int refused_speed() const { return session_.refused_speed(); }

    // Another exchange is about to change what the chip holds, or time has passed:
    // checks taken earlier no longer stand for it.
    void forget_checks() { fresh_.reset(); }

private:
    struct Frame {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
        std::uint32_t unit;        // the 128-byte unit it lies in
        std::uint32_t before = 0;  // that unit's check before it, and once it is programmed
        std::uint32_t after = 0;
        std::uint32_t sent = 0;        // the CRC-32 of the frame's own bytes
        std::uint32_t programmed = 0;  // the same, as the loader read its range back
        bool whole = false;            // the frame is its whole unit
        // Nothing else in flight with it: its bytes hold 55 55 55 55, or the chip stops
        // reading the line while it programs.
        bool alone = false;
    };
    // What an operation has just found on the chip, to stand in for a verify soon after.
    struct FreshChecks {
        MemoryKind memory;
        std::vector<std::uint32_t> checks;  // flash: of the units from address 0
        std::vector<std::uint8_t> bytes;    // EEPROM: its bytes from address 0
        std::int64_t taken_ms;
    };

    bool stop_asked() const { return cancel_ != nullptr && cancel_->pending(); }
    OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure) const {
        return zarvik::failed(std::move(o), failure, cancel_ != nullptr && cancel_->requested());
    }
    TransactionResult take_checks(std::uint32_t units, std::vector<std::uint32_t>& checks);
    // The EEPROM's first `end` bytes.
    TransactionResult read_eeprom(std::uint32_t end, std::vector<std::uint8_t>& into);
    TransactionResult open();
    // After a failed frame that was to change `unit`: brings the loader back and tells
    // from the unit's check whether the frame was programmed.
    FrameEffect judge(std::uint32_t unit, std::uint32_t before, std::uint32_t after);
    // The same for a failed `D`, from the bytes at `address` read back.
    FrameEffect judge_eeprom(std::uint32_t address, std::span<const std::uint8_t> before,
                             std::span<const std::uint8_t> after);
    OperationOutcome write_flash(OperationOutcome o, ProgressObserver& progress);
    // Brings the flash in `span` to `image`: checks, frames for the units that differ,
    // the checks again.
    OperationOutcome program_flash(OperationOutcome o, std::span<const std::uint8_t> image, PageSpan span,
                                   ProgressObserver& progress);
    OperationOutcome write_eeprom(const OperationOutcome& o, ProgressObserver& progress);
    OperationOutcome verify_flash(OperationOutcome o, ProgressObserver& progress);
    OperationOutcome verify_eeprom(OperationOutcome o, ProgressObserver& progress);
    // Writes `data` at `address` with `D` and names what a failure left there, which
    // held `before`.
    TransactionResult write_eeprom_unit(std::uint32_t address, std::span<const std::uint8_t> data,
                                        std::span<const std::uint8_t> before);
    // Streams the frames; `o` comes back Interrupted or LinkFailure with the progress
    // standing where every frame below it is confirmed programmed.
    OperationOutcome stream(OperationOutcome o, std::vector<Frame>& frames, std::uint32_t end,
                            ProgressObserver& progress);
    // After the stream: each written unit's check, from its frame's answer or taken
    // again, compared with what was sent; `after` starts as the checks before the write.
    // Differences are listed from the unit's bytes.
    OperationOutcome confirm(OperationOutcome o, std::span<const std::uint8_t> image, const std::vector<Frame>& frames,
                             std::vector<std::uint32_t> after);

    ProgrammerState& state_;
    Clock& clock_;
    LoaderSession session_;
    Cancellation* cancel_ = nullptr;
    std::optional<FreshChecks> fresh_;
};

}  // namespace zarvik
