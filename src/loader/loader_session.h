#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/byte_link.h"
#include "link/clock.h"
#include "link/line_speed.h"
#include "loader/loader_signature.h"
#include "loader/protocol.h"
#include "loader/wire.h"
#include "memory/memory_image.h"

namespace zarvik {

// The letters of our loader's checked session (firmware/PROTOCOL.md). Inside a session
// each goes out as a frame `letter len hi lo [data] crc32`, and each answer comes back
// as one. Only `D` and `W` carry data; for the others `len` is a count. A loader of
// the original kind never sees any of them.
namespace session_command {
inline constexpr std::uint8_t kOpen = 'Z';
inline constexpr std::uint8_t kFlashChecks = 'C';
// The loader runs these on the plain commands' own code, under their letters.
inline constexpr std::uint8_t kReadFlash = command::kReadFlash;
inline constexpr std::uint8_t kReadEeprom = command::kReadEeprom;
inline constexpr std::uint8_t kPageProgram = 'W';
inline constexpr std::uint8_t kWriteEeprom = command::kWriteEeprom;
// The configuration's new first block, taken by the loader's guard like a plain `F`.
inline constexpr std::uint8_t kLoaderBlock = command::kWriteFlash;
// Version 3: the line's speed, as the UART divisor in the address field.
inline constexpr std::uint8_t kSpeed = 'R';
}  // namespace session_command

// Every check is over a 128-byte unit.
inline constexpr std::uint32_t kCheckUnit = 128;
inline constexpr std::size_t kMaxFrameData = 128;
inline constexpr std::uint32_t kChecksPerFrame = 32;
// The opening reads the six bytes at the loader's start + 6: version, page words, clock.
inline constexpr std::uint32_t kGreetingOffset = 6;
inline constexpr std::size_t kGreetingSize = 6;
// At most this many page-program frames may await their answer.
inline constexpr std::size_t kFramesInFlight = 3;
// The silence after a sync that a hunting loader waits for before it answers.
inline constexpr std::int64_t kHuntQuietMs = 20;
// How long the host waits for an answer that comes only when the chip is done: the
// chip's worst time plus the usual margin for an answer on the line.
inline constexpr std::int64_t kAnswerMarginMs = 500;
// A wrong answer's `status` when the answer named another address than the request's.
inline constexpr std::uint32_t kOtherAddress = 0x10000;
// A wrong answer's `status` when it carried another letter than the request's.
inline constexpr std::uint32_t kOtherLetter = 0x20000;
// A loader in a session hunts after half a second of silence, between frames too; a
// host that has been quiet this long synchronises and opens the session again first.
inline constexpr std::int64_t kSessionIdleMs = 400;
// After a failure above the base speed: bytes at the base speed that end whatever
// frame a loader still at the high speed was reading (each 0xFF is one falling edge,
// so at least one byte there), before the sync.
inline constexpr std::size_t kRecoveryBurst = 140;

// Frames are built in loader/wire.h.
inline std::vector<std::uint8_t> page_frame(std::uint32_t address, std::span<const std::uint8_t> data) {
    return session_frame(session_command::kPageProgram, address, data);
}

// What the loader says when the session opens (and to every ping).
struct SessionGreeting {
    std::uint8_t version = 0;
    std::uint8_t page_words = 0;
    std::uint32_t clock_hz = 0;
};

// The host side of the checked session. Every answer is read by count and checked
// whole (letter, address, length, CRC-32): anything else is a failure, never data.
// After any failure the loader may be hunting for a sync, or still answering frames
// sent ahead: the next command first brings it back (sync, the loader's silence, a
// fresh opening), so no command is ever sent to a loader out of step.
class LoaderSession {
public:
    LoaderSession(ByteLink& link, Clock& clock) : link_(link), clock_(clock) {}

    bool is_open() const { return open_; }
    // True when the last exchange failed and the loader has not been brought back yet.
    bool needs_resync() const { return needs_resync_; }
    // Opens the session (or pings it) with `Z 06` at `loader_start` + 6, the loader's
    // start as the identity read found it: the answer must name version 2 and
    // `page_words`. Both are kept for the openings that follow a failure or a pause.
    TransactionResult open(std::uint8_t page_words, std::uint32_t loader_start);
    const SessionGreeting& greeting() const { return greeting_; }

    // Lets a session with a version 3 loader run faster than the connection: `port`
    // sets the link's speed, `base_baud` is the loader's own, `max_baud` caps the speed
    // asked for (0: no cap; the base speed itself keeps the base speed).
    void allow_speed_switch(LineSpeed* port, int base_baud, int max_baud) {
        port_ = port;
        base_baud_ = base_baud;
        max_baud_ = max_baud;
        speed_ = base_baud;
    }
    // The speed the line runs at now.
    int speed() const { return speed_; }
    // The speed the line refused, after which the session went on at the base speed.
    int refused_speed() const { return refused_speed_; }

    // `C`: the checks of `checks.size()` flash units from `address`, in frames of 32.
    TransactionResult checks(std::uint32_t address, std::span<std::uint32_t> checks);
    // `f` or `d`: `into.size()` bytes from `address`, in frames of 128.
    TransactionResult read(MemoryKind memory, std::uint32_t address, std::span<std::uint8_t> into);
    // `D`: writes 1..128 bytes; the answer carries them as read back from the EEPROM
    // after writing, and must be the bytes sent.
    TransactionResult write_eeprom(std::uint32_t address, std::span<const std::uint8_t> data);
    // Before a stream of `W` frames: brings the loader back after a failure or a pause
    // and opens the session, so that the frames go to a loader that takes them.
    TransactionResult prepare(std::uint32_t address) { return ready(address); }

    // A `W` frame without waiting for its answer; false when the line is gone.
    bool send_frame(std::span<const std::uint8_t> frame);
    // The answer to the oldest frame in flight, which was sent for `address`: it comes
    // once that frame's pages are programmed, with the CRC-32 of the frame's range as
    // the flash now holds it, into `programmed`.
    TransactionResult frame_answer(std::uint32_t address, std::uint32_t& programmed, std::int64_t budget_ms);
    // `F`: the loader's first block with a new wait count, programmed only if the
    // loader's guard takes it. Whether it did, only a read-back tells.
    TransactionResult program_loader_block(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block);
    // Marks the exchange failed: the next command brings the loader back first.
    void lose_step() {
        open_ = false;
        needs_resync_ = true;
    }

    // Ends the session with a sync, answered "Loader", before any plain exchange (the
    // plain `S` that starts the program among them). Nothing is sent when no session is
    // open and none failed.
    TransactionResult end();
    // A plain sync was sent by someone else (a new connection): the loader is in
    // plain mode now.
    void forget() {
        open_ = false;
        needs_resync_ = false;
    }
    // After a failure: lets what was sent go out, drops what comes, sends the sync and
    // waits for "Loader" with room for the loader's silence; three tries, the later
    // ones after a pause that makes the loader drop a frame it had half received.
    TransactionResult resync();

    // Reads exactly `into.size()` bytes, taking up to `budget_ms`.
    ReadResult read_within(std::span<std::uint8_t> into, std::int64_t budget_ms);

private:
    // Brings the loader back after a failure and opens the session when needed; after
    // a pause that the loader may have taken for a host gone away, synchronises first.
    TransactionResult ready(std::uint32_t address);
    // Nothing has gone to or come from the loader for so long that it may be hunting.
    bool idle() const;
    void note_exchange() { last_exchange_ms_ = clock_.now_ms(); }
    // Sends a request and reads its answer of `expected` data bytes into `into`.
    TransactionResult exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> into,
                               std::int64_t budget_ms);
    // Reads the answer to `letter` at `address`: exactly `into.size()` data bytes, or with
    // `up_to` any number up to that.
    TransactionResult answer(std::uint8_t letter, std::uint32_t address, std::span<std::uint8_t> into,
                             std::int64_t budget_ms, bool up_to = false);
    TransactionResult fail(TransactionFailure failure);
    // Asks for the fastest speed both ends hold and pings there; on any failure goes
    // back to the base speed for the rest of the connection.
    TransactionResult switch_speed();
    // Sends `Z 06` at the loader's start + 6 and reads the six bytes it answers.
    TransactionResult greet(std::array<std::uint8_t, kGreetingSize>& into);
    // Whether the loader may be above the base speed: a recovery then starts with the
    // port at the base speed and the burst.
    bool may_be_fast() const { return port_ != nullptr && (speed_ != base_baud_ || asked_speed_); }

    ByteLink& link_;
    Clock& clock_;
    bool open_ = false;
    bool needs_resync_ = false;
    std::uint8_t page_words_ = 0;
    std::uint32_t loader_start_ = 0;
    std::int64_t last_exchange_ms_ = 0;
    SessionGreeting greeting_;
    LineSpeed* port_ = nullptr;
    int base_baud_ = 0;
    int max_baud_ = 0;
    int speed_ = 0;
    int refused_speed_ = 0;
    bool asked_speed_ = false;
};

}  // namespace zarvik
