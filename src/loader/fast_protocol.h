#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "loader/byte_link.h"
#include "loader/clock.h"
#include "loader/protocol.h"
#include "memory/memory_image.h"

namespace zarvik {

// The commands our own loader adds to the four-byte protocol (firmware/PROTOCOL.md).
// A loader of the original kind never sees one of these letters: the host sends them
// only after it has found our signature in the loader's first block.
namespace fast_command {
inline constexpr std::uint8_t kFlashChecks = 'C';
inline constexpr std::uint8_t kEepromChecks = 'c';
inline constexpr std::uint8_t kRangeErase = 'X';
inline constexpr std::uint8_t kPageProgram = 'W';
}  // namespace fast_command

// Every check is over a 128-byte unit.
inline constexpr std::uint32_t kCheckUnit = 128;
// At most this many page-program frames may await their answer.
inline constexpr std::size_t kFramesInFlight = 3;
inline constexpr std::uint8_t kFastProtocolVersion = 1;

// CRC-32 as zlib computes it (reflected 0xEDB88320, initial and final XOR 0xFFFFFFFF).
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// What our loader says of itself at fixed offsets of its first block.
struct LoaderSignature {
    std::uint8_t version = 0;
    std::uint8_t page_words = 0;  // the chip's flash page: 32 or 64 words
};

// Our signature ("ZRVK", version 1) in a loader's first block, or nothing for any
// other loader (also for a later version, whose commands this host does not know).
std::optional<LoaderSignature> find_signature(std::span<const std::uint8_t, kLoaderBlock> block);
// Writes the signature into a first block (the simulated board's loader).
void put_signature(std::span<std::uint8_t, kLoaderBlock> block, std::uint8_t page_words);

// Status byte of a page-program frame or a range erase.
enum class FrameStatus : std::uint8_t { Taken = 0, BadCheck = 1, Refused = 2 };
// A wrong answer's `status` when the answer named another address than the packet's.
inline constexpr std::uint32_t kOtherAddress = 0x10000;

// The frame as it goes on the wire: `W hi lo n`, the data, then the CRC-32 of
// `hi lo n` and the data, low byte first.
std::vector<std::uint8_t> page_frame(std::uint32_t address, std::span<const std::uint8_t> data);

// The fast commands over the same link as the plain protocol. Each answer is read by
// count and checked: a short, late or inconsistent answer is a failure, never data.
class FastProtocol {
public:
    FastProtocol(ByteLink& link, Clock& clock) : link_(link), clock_(clock) {}

    // `C` or `c`: the checks of `count` units (1..256) from `address`, into `checks`.
    TransactionResult checks(MemoryKind memory, std::uint32_t address, std::span<std::uint32_t> checks);
    // `X`: erases the non-blank pages of `units` units from `address`; the answer comes
    // when the chip is done, which may take `units` x two page erases.
    TransactionResult erase_range(std::uint32_t address, std::uint32_t units);

    // `W` without waiting for its answer; false when the line is gone.
    bool send_frame(std::span<const std::uint8_t> frame);
    // The answer to the oldest frame in flight, which was sent for `address`: within
    // `budget_ms`, with the frame's own address, status 0.
    TransactionResult frame_answer(std::uint32_t address, std::int64_t budget_ms);

    // The plain `D` and `e`, whose answer our loader sends when the EEPROM is written:
    // no fixed sleep, only a time-out long enough for n x 9 ms.
    TransactionResult write_eeprom_block(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block,
                                         std::uint8_t count);
    TransactionResult erase_eeprom_block(std::uint32_t address);

    // After a refused frame the loader takes nothing until a sync. Sends syncs until
    // "Loader" comes back (three tries); true when it did.
    bool resync();

    // Reads exactly `into.size()` bytes, taking up to `budget_ms` (and at least one
    // read with the link's own time-outs).
    ReadResult read_within(std::span<std::uint8_t> into, std::int64_t budget_ms);

private:
    TransactionResult ack_within(const Packet& packet, std::uint32_t address, std::int64_t budget_ms);

    ByteLink& link_;
    Clock& clock_;
};

// How long the host waits for an answer that comes only when the chip is done: the
// chip's worst time plus the usual margin for an answer on the line.
inline constexpr std::int64_t kAnswerMarginMs = 500;

}  // namespace zarvik
