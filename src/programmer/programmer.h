#pragma once

#include <string>

#include "link/byte_link.h"
#include "link/cancellation.h"
#include "loader/chip_identity.h"
#include "link/clock.h"
#include "loader/handshake.h"
#include "loader/protocol.h"
#include "programmer/fast_road.h"
#include "programmer/outcome.h"
#include "programmer/patch_check.h"
#include "programmer/plain_road.h"
#include "programmer/programmer_state.h"
#include "programmer/progress.h"
#include "programmer/road.h"

namespace zarvik {

// The flash, EEPROM and loader-configuration operations, shared by every face.
// Each one runs to its end on the calling thread and returns what happened; none
// prints or shows anything itself.

// The clocks these chips and this loader run at. A Fosc outside is most likely a slip
// (0.016 typed for 16): the count would then be right for no clock the board has, and
// after a reset the loader would wait too short a time for anyone to reach it.
inline constexpr double kLowestFoscMhz = 1.0;
inline constexpr double kHighestFoscMhz = 20.0;

struct ConfigureOptions {
    // The user confirmed a wait under half a second.
    bool allow_short_wait = false;
    // The user confirmed a Fosc outside kLowestFoscMhz..kHighestFoscMhz.
    bool allow_unusual_clock = false;
};

class Programmer {
public:
    Programmer(ProgrammerState& state, ByteLink& link, Clock& clock);

    // Operations stop between transactions once `cancel` is requested and end as
    // Interrupted; a port that watches the same object also cuts a wait short.
    // With our loader of version 3, its session runs at the fastest speed that the chip
    // makes, `port` sets and reads back, and `max_baud` allows (0: no cap); `base_baud`
    // is the connection's speed, which the loader runs at outside the session.
    void allow_speed_switch(LineSpeed* port, int base_baud, int max_baud) { fast_.allow_speed_switch(port, base_baud, max_baud); }
    // The speed the line runs at now, and the one it refused (0: none).
    int line_speed() const { return fast_.line_speed(); }
    int refused_speed() const { return fast_.refused_speed(); }
    void set_cancellation(Cancellation* cancel) {
        cancel_ = cancel;
        plain_.set_cancellation(cancel);
        fast_.set_cancellation(cancel);
    }
    // `Plain` keeps to the four-byte protocol even with our own loader.
    void set_road_choice(RoadChoice choice) {
        road_choice_ = choice;
        fast_.forget_checks();
    }
    // The road erase, write, verify and read take on this connection (asks the chip once).
    Road road();
    // What the connection's loader calls for (asks the chip once).
    LoaderAdvice loader_advice();

    // A new connection: the chip's identity is asked again before the next operation
    // that touches memory.
    HandshakeOutcome connect();
    // The plain `S`, after the sync that ends a session.
    bool start_program();

    // Which chip is on the line, read once per connection (three block reads at most)
    // and kept. Every erase, write, verify, read and configuration first compares it
    // with the selected model and refuses, touching nothing, when they differ or when
    // no loader block was found.
    const ChipIdentity& identify_device();
    // For a loader without the usual first block: the user has agreed to go on
    // unconfirmed for this connection. A chip found to be another model stays refused.
    void accept_unconfirmed_device() { unconfirmed_accepted_ = true; }

    // Nothing when the chip on the line is the selected model (or the user accepted
    // a loader that cannot be confirmed); otherwise the outcome `operation` would end
    // with. Sends nothing but the identity's reads, once per connection.
    std::optional<OperationOutcome> confirm_device(Operation operation, MemoryKind memory);
    // When the identity read last failed (a short or missing answer, the line gone, a
    // stop), the outcome `operation` ends with; nothing otherwise. Reads nothing: a
    // face that read the identity itself reports its failure with this.
    std::optional<OperationOutcome> identity_failure(Operation operation, MemoryKind memory) const;

    // Loads the file into its image and checks it against the model as `write` would,
    // without a byte to the device: a face that erases before writing calls this
    // first, so that a missing or damaged file, or one that reaches the loader or
    // past the EEPROM, leaves the chip as it was. Success, FileFailure or Refused.
    OperationOutcome check_file(MemoryKind memory, const std::string& path);

    // A few bytes (a board's serial number) that go onto the chip with every write and
    // verify of their memory from here on, and are checked by `check_file`; kept until
    // changed. With a file of the same memory, the patch is refused (nothing sent) when
    // it lies on a byte the file holds or outside the model's memory; otherwise it is
    // put into the image, and a patch outside the file's range is written and compared
    // as a pass of its own, so that the bytes between the two stay as the chip holds them.
    void set_patch(std::optional<ImagePatch> patch) { patch_ = std::move(patch); }
    const std::optional<ImagePatch>& patch() const { return patch_; }
    // The patch against the model's memory, sending nothing: nothing when it may go
    // (or none is set), the refused outcome otherwise.
    std::optional<OperationOutcome> check_patch(Operation operation = Operation::Write) const;
    // The patch alone: only its own bytes change. In flash the chip page(s) around it
    // are programmed again with their other bytes as the chip held them (erased first
    // on the plain road when `options` asks, as for a file). With no patch set, nothing
    // is sent and the outcome covers no byte.
    OperationOutcome write_patch(ProgressObserver& progress = no_progress(), WriteOptions options = {});
    // Compares the patch's range only.
    OperationOutcome verify_patch(ProgressObserver& progress = no_progress());

    // Every outcome of an operation on this connection carries the advice about the
    // loader (`advice`), whatever its result.
    OperationOutcome erase(MemoryKind memory, ProgressObserver& progress = no_progress());
    OperationOutcome write(MemoryKind memory, const std::string& path, ProgressObserver& progress = no_progress(),
                           WriteOptions options = {});
    OperationOutcome verify(MemoryKind memory, const std::string& path, ProgressObserver& progress = no_progress());
    // Reads the model's whole user program area, or its whole EEPROM, into the
    // read-back buffer; nothing that did not arrive is ever kept as read.
    OperationOutcome read(MemoryKind memory, ProgressObserver& progress = no_progress());
    // Saves what `read` fetched as Intel HEX; `read_outcome` is returned with the path
    // and, if writing failed, the reason.
    OperationOutcome save_read(OperationOutcome read_outcome, const std::string& path);
    OperationOutcome configure_loader(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                      ProgressObserver& progress = no_progress(), ConfigureOptions options = {});

    // Where `read` put its bytes: the whole area of the model.
    std::span<const std::uint8_t> read_back(MemoryKind memory) const;
    const ProgrammerState& state() const { return state_; }
    void set_model(const DeviceModel& model) { state_.model = model; }

private:
    OperationOutcome advised(OperationOutcome o) const;
    OperationOutcome erase_unadvised(MemoryKind memory, ProgressObserver& progress);
    OperationOutcome write_unadvised(MemoryKind memory, const std::string& path, ProgressObserver& progress,
                                     WriteOptions options);
    OperationOutcome verify_unadvised(MemoryKind memory, const std::string& path, ProgressObserver& progress);
    OperationOutcome read_unadvised(OperationOutcome o, ProgressObserver& progress);
    OperationOutcome configure_unadvised(const std::string& fosc_mhz_text, const std::string& timeout_s_text,
                                         ProgressObserver& progress, ConfigureOptions options);
    // Ends an open session (a sync answered "Loader") before a plain exchange.
    TransactionResult leave_session();
    // Nothing when the chip may be touched; otherwise the outcome to return.
    std::optional<OperationOutcome> refuse_unless_confirmed(const OperationOutcome& o);
    bool cancelled() const { return cancel_ != nullptr && cancel_->requested(); }
    OperationOutcome failed(OperationOutcome o, const TransactionFailure& failure) const {
        return zarvik::failed(std::move(o), failure, cancelled());
    }
    // Runs `step` on the road this connection takes, the session ended first for
    // the plain one; or the outcome when ending it failed.
    template <typename Step>
    OperationOutcome on_road(const OperationOutcome& o, Step step);
    // The read-back buffer blank over the memory, before a read or verify fills it.
    void clear_read_back(MemoryKind memory);
    OperationOutcome program_loader_block(OperationOutcome o, const Block& block, ProgressObserver& progress);
    OperationOutcome program_loader_block_in_session(OperationOutcome o, const Block& block, ProgressObserver& progress);
    OperationOutcome load_file(OperationOutcome outcome, const std::string& path);
    // The patch when one is set for `memory`, with bytes.
    const ImagePatch* patch_for(MemoryKind memory) const;
    // The patch's bytes into the image of its memory.
    void put_patch();
    // The patch's range alone on the road, after a file's pass or without one.
    OperationOutcome write_patch_range(OperationOutcome o, ProgressObserver& progress, WriteOptions options);
    OperationOutcome verify_patch_range(OperationOutcome o, ProgressObserver& progress);
    std::uint32_t capacity_for(MemoryKind memory) const;

    ProgrammerState& state_;
    Clock& clock_;
    LoaderProtocol protocol_;
    PlainRoad plain_;
    FastRoad fast_;
    RoadChoice road_choice_ = RoadChoice::Auto;
    Cancellation* cancel_ = nullptr;
    std::optional<ChipIdentity> identity_;
    std::optional<ImagePatch> patch_;
    // Which bytes of the image the last file held, for a patch of its memory.
    std::vector<std::uint8_t> filled_;
    bool unconfirmed_accepted_ = false;
    // A loader that answered the sync on this link. Ours takes no command before one,
    // so an operation started without «Соединить» sends it first.
    bool synced_ = false;
};

}  // namespace zarvik
