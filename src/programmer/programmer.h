#pragma once

#include <string>

#include "loader/byte_link.h"
#include "loader/clock.h"
#include "loader/handshake.h"
#include "loader/protocol.h"
#include "programmer/outcome.h"
#include "programmer/programmer_state.h"
#include "programmer/progress.h"

namespace zarvik {

// The flash, EEPROM and loader-configuration operations, shared by every face.
// Each one runs to its end on the calling thread and returns what happened; none
// prints or shows anything itself.
class Programmer {
public:
    Programmer(ProgrammerState& state, ByteLink& link, Clock& clock);

    HandshakeOutcome connect();
    bool start_program();

    OperationOutcome erase(MemoryKind memory, ProgressObserver& progress = no_progress());
    OperationOutcome write(MemoryKind memory, const std::string& path, ProgressObserver& progress = no_progress());
    OperationOutcome verify(MemoryKind memory, const std::string& path, ProgressObserver& progress = no_progress());
    // Reads the model's whole user program area, or its whole EEPROM, into the
    // read-back buffer; nothing that did not arrive is ever kept as read.
    OperationOutcome read(MemoryKind memory, ProgressObserver& progress = no_progress());
    // Saves what `read` fetched as Intel HEX; `read_outcome` is returned with the path
    // and, if writing failed, the reason.
    OperationOutcome save_read(OperationOutcome read_outcome, const std::string& path);
    OperationOutcome configure_loader(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                      ProgressObserver& progress = no_progress());

    // Where `read` put its bytes: the whole area of the model.
    std::span<const std::uint8_t> read_back(MemoryKind memory) const;
    const ProgrammerState& state() const { return state_; }
    void set_model(const DeviceModel& model) { state_.model = model; }

private:
    OperationOutcome load_file(OperationOutcome outcome, const std::string& path);
    OperationOutcome fetch(OperationOutcome outcome, std::uint32_t count, ProgressObserver& progress);
    OperationOutcome write_flash(OperationOutcome outcome, ProgressObserver& progress);
    OperationOutcome write_eeprom(OperationOutcome outcome, ProgressObserver& progress);
    std::uint32_t capacity_for(MemoryKind memory) const;

    ProgrammerState& state_;
    Clock& clock_;
    LoaderProtocol protocol_;
};

}  // namespace zarvik
