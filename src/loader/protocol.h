#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "loader/byte_link.h"
#include "loader/clock.h"

namespace zarvik {

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
inline constexpr std::int64_t kFlashWriteWaitMs = 10;
inline constexpr std::int64_t kEepromByteWaitMs = 9;
inline constexpr std::int64_t kEepromEraseWaitMs = 128 * kEepromByteWaitMs;

using Packet = std::array<std::uint8_t, 4>;
using Block = std::array<std::uint8_t, kLoaderBlock>;

Packet make_packet(std::uint8_t cmd, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3);
// Byte addresses travel high byte first.
Packet address_packet(std::uint32_t address);
// The buffer's load command and its block, to go out in one write: the same bytes on
// the wire, one system call fewer per block.
std::array<std::uint8_t, 4 + kLoaderBlock> load_buffer_packet(std::span<const std::uint8_t, kLoaderBlock> block);

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

// The reply text ends at the first zero byte or at the last byte read; it must be
// exactly "Loader", or "UUUU" from a line that echoes the sync.
bool is_loader_reply(std::span<const std::uint8_t> reply);

// The host side of the loader's wire format: four-byte packets, fixed waits and
// reads of fixed counts, one transaction at a time.
//
// Answers are read by count, so one byte lost, or one answer that comes after its
// time-out, would shift every later answer by that much. After any answer that came
// short or not at all the link is therefore out of step: before the next exchange the
// host waits until the line is quiet, drops what came, and sends the sync until the
// loader answers it, so that both sides start the next packet together again.
class LoaderProtocol {
public:
    LoaderProtocol(ByteLink& link, Clock& clock) : link_(link), clock_(clock) {}

    // Sends the sync and reads up to ten bytes into `reply`; returns how many came.
    ReadResult identify(std::span<std::uint8_t, kIdentifySize> reply);
    TransactionResult write_flash_block(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block,
                                        std::uint8_t pages);
    TransactionResult write_eeprom_block(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block,
                                         std::uint8_t count);
    TransactionResult read_flash_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into);
    TransactionResult read_eeprom_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into);
    TransactionResult erase_flash_page(std::uint32_t address);
    TransactionResult erase_eeprom_block(std::uint32_t address);
    // Nothing is read after `S`; false only when the line is gone.
    bool start_program();
    void discard_stale_input() { link_.discard_input(); }
    bool out_of_step() const { return out_of_step_; }

    // The quiet time that ends a drain, and the pause after which a loader abandons a
    // packet it has only half received (ours does after about half a second).
    static constexpr std::int64_t kAbandonedPacketMs = 600;
    static constexpr int kResyncAttempts = 3;

private:
    // Reads an answer of `into.size()` bytes; one that comes short puts the link out of step.
    ReadResult read_answer(std::span<std::uint8_t> into);
    // Nothing when the link is in step, or was brought back in step.
    TransactionResult ensure_in_step(std::uint8_t command, std::uint32_t address);
    ReadResult drain();
    TransactionResult send(const Packet& packet, std::uint32_t address);
    TransactionResult command_with_ack(const Packet& packet, std::uint32_t address, std::int64_t wait_ms = 0);
    TransactionResult read_block(std::uint8_t read_command, std::uint32_t address,
                                 std::span<std::uint8_t, kLoaderBlock> into);
    TransactionResult load_then_program(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block,
                                        const Packet& program, std::int64_t wait_ms);

    ByteLink& link_;
    Clock& clock_;
    bool out_of_step_ = false;
};

}  // namespace zarvik
