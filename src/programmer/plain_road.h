#pragma once

#include "loader/protocol.h"
#include "programmer/road.h"

namespace zarvik {

// Every operation in the four-byte protocol, one block at a time with fixed waits:
// what any loader of the original kind takes. Writes program whole chip pages, the
// chip's own bytes kept where the file leaves a page partly uncovered; a verify is a
// read-back compared byte for byte.
class PlainRoad final : public MemoryRoad {
public:
    PlainRoad(ProgrammerState& state, LoaderProtocol& protocol, Clock& clock)
        : state_(state), protocol_(protocol), clock_(clock) {}

    void set_cancellation(Cancellation* cancel) { cancel_ = cancel; }

    OperationOutcome erase(OperationOutcome o, ProgressObserver& progress) override;
    OperationOutcome write(OperationOutcome o, ProgressObserver& progress, WriteOptions options) override;
    OperationOutcome verify(OperationOutcome o, ProgressObserver& progress) override;
    OperationOutcome read(OperationOutcome o, ProgressObserver& progress) override;

private:
    bool stop_requested() const { return cancel_ != nullptr && cancel_->requested(); }
    OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure) const {
        return zarvik::failed(std::move(o), failure, stop_requested());
    }
    OperationOutcome write_flash(const OperationOutcome& o, ProgressObserver& progress, WriteOptions options);
    OperationOutcome write_eeprom(const OperationOutcome& o, ProgressObserver& progress);

    ProgrammerState& state_;
    LoaderProtocol& protocol_;
    Clock& clock_;
    Cancellation* cancel_ = nullptr;
};

}  // namespace zarvik
