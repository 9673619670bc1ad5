#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "link/byte_link.h"
#include "link/clock.h"

namespace zarvik {

// What travels on the line, for the plain four-byte protocol and for our loader's
// checked session alike: the packets and frames, the byte order, the sync, and the
// failure that an answer missing, short or wrong becomes.

namespace command {
inline constexpr std::uint8_t kSync = 0x55;
inline constexpr std::uint8_t kSetAddress = 'A';
inline constexpr std::uint8_t kLoadBuffer = 'B';
inline constexpr std::uint8_t kWriteFlash = 'F';
inline constexpr std::uint8_t kWriteEeprom = 'D';
inline constexpr std::uint8_t kReadFlash = 'f';
inline constexpr std::uint8_t kReadEeprom = 'd';
inline constexpr std::uint8_t kFetchBuffer = 'b';
inline constexpr std::uint8_t kEraseFlashPage = 'E';
inline constexpr std::uint8_t kEraseEeprom = 'e';
inline constexpr std::uint8_t kStart = 'S';
}  // namespace command

inline constexpr std::size_t kAckSize = 4;
inline constexpr std::size_t kIdentifySize = 10;
inline constexpr std::size_t kLoaderBlock = 128;

using Packet = std::array<std::uint8_t, 4>;
using Block = std::array<std::uint8_t, kLoaderBlock>;

inline constexpr Packet kSyncPacket{command::kSync, command::kSync, command::kSync, command::kSync};

// Addresses travel high byte first; the CRC-32 of a frame and the values in a session
// answer travel low byte first.
constexpr std::uint8_t address_high(std::uint32_t address) { return static_cast<std::uint8_t>((address >> 8) & 0xFF); }
constexpr std::uint8_t address_low(std::uint32_t address) { return static_cast<std::uint8_t>(address & 0xFF); }
std::uint32_t load_le32(const std::uint8_t* p);
void append_le32(std::vector<std::uint8_t>& bytes, std::uint32_t value);

Packet make_packet(std::uint8_t cmd, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3);
Packet address_packet(std::uint32_t address);
// The buffer's load command and its block, to go out in one write: the same bytes on
// the wire, one system call fewer per block.
std::array<std::uint8_t, 4 + kLoaderBlock> load_buffer_packet(std::span<const std::uint8_t, kLoaderBlock> block);

// A session frame as it goes on the wire: letter, length, address high byte first, the
// data, then the CRC-32 of all of it, low byte first. For `D` and `W` (and answers).
std::vector<std::uint8_t> session_frame(std::uint8_t letter, std::uint32_t address, std::span<const std::uint8_t> data);
// A session request without data, whose `len` is a count: `Z`, `C`, `f`, `d`.
std::vector<std::uint8_t> count_frame(std::uint8_t letter, std::uint8_t count, std::uint32_t address);

// What a failed session frame that was to change the chip left there, as a check of
// its unit told after the loader was brought back: the loader programs nothing of a
// frame that failed its own check, but an answer lost on the way back says nothing.
enum class FrameEffect : std::uint8_t {
    NotAsked,        // not a writing frame, or the check could not be taken
    NothingWritten,  // the unit holds what it held before the frame
    Written,         // the unit holds the frame's bytes
    Unknown,         // the unit holds neither
};

// A transaction whose answer did not (fully) arrive. Acknowledgement contents are
// never examined; only their arrival is.
struct TransactionFailure {
    std::uint8_t command = 0;   // the command whose answer was missing or short
    std::uint32_t address = 0;  // the address of the transaction
    std::size_t expected = 0;   // bytes expected back
    std::size_t received = 0;   // bytes that came
    bool line_lost = false;     // the port went away
    bool interrupted = false;   // a stop was requested while the answer was awaited
    // The answer came whole but said something else: another letter or
    // address, a check that the bytes read back contradict.
    bool wrong_answer = false;
    std::uint32_t status = 0;   // wrong_answer: the status or value the loader sent
    bool echoed = false;        // what came was the bytes the host had sent: a line that loops back
    bool out_of_step = false;   // after an earlier short or missing answer, the loader did not
                                // answer the sync that was to bring it back in step
    bool bad_check = false;     // a session answer came whole, but its CRC-32 did not match
    FrameEffect frame_effect = FrameEffect::NotAsked;
};

using TransactionResult = std::optional<TransactionFailure>;

// The answer to `command` at `address` that came short of `expected` bytes (or not at all).
TransactionFailure short_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, const ReadResult& got);

// The reply text ends at the first zero byte or at the last byte read; it must be
// exactly "Loader", or "UUUU" from a line that echoes the sync.
bool is_loader_reply(std::span<const std::uint8_t> reply);
// Inside a session the sync is answered by exactly the six bytes "Loader".
bool is_session_sync_reply(std::span<const std::uint8_t> reply);

// Waits until the line is quiet, dropping what comes: late answers, or frames sent
// ahead still being answered. Gives up after two seconds or 16 KB (a line that keeps
// talking is not a loader waiting, and the sync after it will say so).
ReadResult drain_line(ByteLink& link, Clock& clock);

// Sends the sync and listens for the loader's reply in the way the protocol in use
// calls for; says whether the reply was the loader's, and what came.
struct SyncHeard {
    ReadResult got;
    bool loader = false;
};
using SyncListener = std::function<SyncHeard()>;
// A loader drops a packet or frame it received only in part after about half a
// second of silence.
inline constexpr std::int64_t kAbandonedPacketMs = 600;
inline constexpr int kResyncAttempts = 3;
// Brings the loader back in step after an answer that came short or not at all: a
// drain and the sync, three times at most, the later ones after a pause that makes the
// loader drop what it had half received. A failure names `command` and `address` when
// the line went or a stop came, and the sync when the loader never answered it.
TransactionResult resync_loader(ByteLink& link, Clock& clock, std::uint8_t command, std::uint32_t address,
                                const SyncListener& listen);

}  // namespace zarvik
