#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "link/byte_link.h"
#include "link/clock.h"
#include "loader/wire.h"

namespace zarvik {

inline constexpr std::int64_t kFlashWriteWaitMs = 10;
inline constexpr std::int64_t kEepromByteWaitMs = 9;
inline constexpr std::int64_t kEepromEraseWaitMs = 128 * kEepromByteWaitMs;

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

private:
    // Reads an answer of `into.size()` bytes; one that comes short puts the link out of step.
    ReadResult read_answer(std::span<std::uint8_t> into);
    // Nothing when the link is in step, or was brought back in step.
    TransactionResult ensure_in_step(std::uint8_t command, std::uint32_t address);
    TransactionResult send(std::span<const std::uint8_t> packet, std::uint32_t address);
    // Sends `packet` (whose first byte names the command), sleeps the fixed time the
    // loader takes over it, and reads its acknowledgement.
    TransactionResult command_with_ack(std::span<const std::uint8_t> packet, std::uint32_t address,
                                       std::int64_t wait_ms = 0);
    // `A` to `address`, then `packet` with its wait: the sequence every erase, every
    // read and every program step ends with. The link is brought in step first, the
    // failure named after `first`.
    TransactionResult at_address(std::uint8_t first, std::uint32_t address, const Packet& packet,
                                 std::int64_t wait_ms = 0);
    TransactionResult read_block(std::uint8_t read_command, std::uint32_t address,
                                 std::span<std::uint8_t, kLoaderBlock> into);
    // `B` with the block, then `A` and `program` with its wait.
    TransactionResult load_then_program(std::uint32_t address, std::span<const std::uint8_t, kLoaderBlock> block,
                                        const Packet& program, std::int64_t wait_ms);

    ByteLink& link_;
    Clock& clock_;
    bool out_of_step_ = false;
};

}  // namespace zarvik
