#include "loader/protocol.h"

#include <algorithm>

namespace zarvik {

ReadResult LoaderProtocol::identify(std::span<std::uint8_t, kIdentifySize> reply) {
    if (!link_.write(kSyncPacket)) return ReadResult{0, true};
    const ReadResult got = link_.read(reply);
    // A recognised reply starts both sides afresh; a garbled one leaves the rest of it,
    // or a late answer, on its way.
    if (is_loader_reply(reply.first(got.count))) {
        out_of_step_ = false;
    } else if (got.count > 0) {
        out_of_step_ = true;
    }
    return got;
}

ReadResult LoaderProtocol::read_answer(std::span<std::uint8_t> into) {
    const ReadResult got = link_.read(into);
    // What did not come may still come, and would be read as the next answer.
    if (got.count != into.size() && !got.line_lost) out_of_step_ = true;
    return got;
}

TransactionResult LoaderProtocol::ensure_in_step(std::uint8_t command, std::uint32_t address) {
    if (!out_of_step_) return std::nullopt;
    // The plain sync's reply is one read of up to ten bytes.
    return resync_loader(link_, clock_, command, address, [this] {
        std::array<std::uint8_t, kIdentifySize> reply{};
        const ReadResult got = identify(reply);
        return SyncHeard{got, is_loader_reply(std::span(reply).first(got.count))};
    });
}

TransactionResult LoaderProtocol::send(std::span<const std::uint8_t> packet, std::uint32_t address) {
    if (link_.write(packet)) return std::nullopt;
    return TransactionFailure{packet[0], address, 0, 0, true};
}

TransactionResult LoaderProtocol::command_with_ack(std::span<const std::uint8_t> packet, std::uint32_t address,
                                                   std::int64_t wait_ms) {
    if (auto failure = send(packet, address)) return failure;
    clock_.sleep_ms(wait_ms);
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = read_answer(ack);
    if (got.count == kAckSize) return std::nullopt;
    return short_answer(packet[0], address, kAckSize, got);
}

TransactionResult LoaderProtocol::at_address(std::uint8_t first, std::uint32_t address, const Packet& packet,
                                             std::int64_t wait_ms) {
    if (auto failure = ensure_in_step(first, address)) return failure;
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(packet, address, wait_ms);
}

TransactionResult LoaderProtocol::load_then_program(std::uint32_t address,
                                                    std::span<const std::uint8_t, kLoaderBlock> block,
                                                    const Packet& program, std::int64_t wait_ms) {
    if (auto failure = ensure_in_step(command::kLoadBuffer, address)) return failure;
    if (auto failure = command_with_ack(load_buffer_packet(block), address)) return failure;
    // In step now: `A` and the program command follow at once.
    return at_address(command::kLoadBuffer, address, program, wait_ms);
}

TransactionResult LoaderProtocol::write_flash_block(std::uint32_t address,
                                                    std::span<const std::uint8_t, kLoaderBlock> block,
                                                    std::uint8_t pages) {
    return load_then_program(address, block, make_packet(command::kWriteFlash, 32, pages, 0), kFlashWriteWaitMs);
}

TransactionResult LoaderProtocol::write_eeprom_block(std::uint32_t address,
                                                     std::span<const std::uint8_t, kLoaderBlock> block,
                                                     std::uint8_t count) {
    return load_then_program(address, block, make_packet(command::kWriteEeprom, count, 0, 0),
                             kEepromByteWaitMs * count);
}

TransactionResult LoaderProtocol::read_block(std::uint8_t read_command, std::uint32_t address,
                                             std::span<std::uint8_t, kLoaderBlock> into) {
    if (auto failure = at_address(read_command, address, make_packet(read_command, 0x80, 0, 0))) return failure;
    const Packet fetch = make_packet(command::kFetchBuffer, 0, 0, 0);
    if (auto failure = send(fetch, address)) return failure;
    const ReadResult got = read_answer(into);
    if (got.count == kLoaderBlock) return std::nullopt;
    TransactionFailure failure = short_answer(command::kFetchBuffer, address, kLoaderBlock, got);
    // A line that loops back returns the packet itself where the block should be.
    failure.echoed = got.count > 0 && got.count <= fetch.size() && std::equal(into.begin(), into.begin() + static_cast<std::ptrdiff_t>(got.count), fetch.begin());
    return failure;
}

TransactionResult LoaderProtocol::read_flash_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into) {
    return read_block(command::kReadFlash, address, into);
}

TransactionResult LoaderProtocol::read_eeprom_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into) {
    return read_block(command::kReadEeprom, address, into);
}

TransactionResult LoaderProtocol::erase_flash_page(std::uint32_t address) {
    return at_address(command::kEraseFlashPage, address, make_packet(command::kEraseFlashPage, 0x30, 0x30, 0x30));
}

TransactionResult LoaderProtocol::erase_eeprom_block(std::uint32_t address) {
    return at_address(command::kEraseEeprom, address, make_packet(command::kEraseEeprom, 0x80, 0x30, 0x30),
                      kEepromEraseWaitMs);
}

bool LoaderProtocol::start_program() {
    // Out of step, `S` could be taken as part of another packet; in step or not, it is
    // sent, since a loader that does not answer the sync may still start the program.
    if (auto failure = ensure_in_step(command::kStart, 0); failure && failure->line_lost) return false;
    return link_.write(make_packet(command::kStart, 0x30, 0x30, 0x30));
}

}  // namespace zarvik
