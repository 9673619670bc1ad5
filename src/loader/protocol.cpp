#include "loader/protocol.h"

#include <algorithm>

namespace zarvik {

Packet make_packet(std::uint8_t cmd, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3) { return {cmd, a1, a2, a3}; }

Packet address_packet(std::uint32_t address) {
    return make_packet(command::kSetAddress, static_cast<std::uint8_t>((address >> 8) & 0xFF),
                       static_cast<std::uint8_t>(address & 0xFF), 0x00);
}

namespace {

TransactionFailure short_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, const ReadResult& got) {
    return TransactionFailure{command, address, expected, got.count, got.line_lost, got.interrupted};
}

}  // namespace

ReadResult LoaderProtocol::identify(std::span<std::uint8_t, kIdentifySize> reply) {
    const Packet sync = make_packet(command::kSync, command::kSync, command::kSync, command::kSync);
    if (!link_.write(sync)) return ReadResult{0, true};
    return link_.read(reply);
}

TransactionResult LoaderProtocol::send(const Packet& packet, std::uint32_t address) {
    if (link_.write(packet)) return std::nullopt;
    return TransactionFailure{packet[0], address, 0, 0, true};
}

TransactionResult LoaderProtocol::command_with_ack(const Packet& packet, std::uint32_t address, std::int64_t wait_ms) {
    if (auto failure = send(packet, address)) return failure;
    clock_.sleep_ms(wait_ms);
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = link_.read(ack);
    if (got.count == kAckSize) return std::nullopt;
    return short_answer(packet[0], address, kAckSize, got);
}

TransactionResult LoaderProtocol::load_then_program(std::uint32_t address,
                                                    std::span<const std::uint8_t, kLoaderBlock> block,
                                                    const Packet& program, std::int64_t wait_ms) {
    // The packet and its block go out in one write: the same bytes on the wire,
    // one system call fewer per block.
    std::array<std::uint8_t, 4 + kLoaderBlock> load{};
    const Packet head = make_packet(command::kLoadBuffer, 0, 0, 0);
    std::copy(head.begin(), head.end(), load.begin());
    std::copy(block.begin(), block.end(), load.begin() + 4);
    if (!link_.write(load)) return TransactionFailure{command::kLoadBuffer, address, 0, 0, true};
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = link_.read(ack);
    if (got.count != kAckSize) return short_answer(command::kLoadBuffer, address, kAckSize, got);
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(program, address, wait_ms);
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
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    if (auto failure = command_with_ack(make_packet(read_command, 0x80, 0, 0), address)) return failure;
    if (auto failure = send(make_packet(command::kFetchBuffer, 0, 0, 0), address)) return failure;
    const ReadResult got = link_.read(into);
    if (got.count == kLoaderBlock) return std::nullopt;
    return short_answer(command::kFetchBuffer, address, kLoaderBlock, got);
}

TransactionResult LoaderProtocol::read_flash_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into) {
    return read_block(command::kReadFlash, address, into);
}

TransactionResult LoaderProtocol::read_eeprom_block(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into) {
    return read_block(command::kReadEeprom, address, into);
}

TransactionResult LoaderProtocol::erase_flash_page(std::uint32_t address) {
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(make_packet(command::kEraseFlashPage, 0x30, 0x30, 0x30), address);
}

TransactionResult LoaderProtocol::erase_eeprom_block(std::uint32_t address) {
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(make_packet(command::kEraseEeprom, 0x80, 0x30, 0x30), address, kEepromEraseWaitMs);
}

bool LoaderProtocol::start_program() { return link_.write(make_packet(command::kStart, 0x30, 0x30, 0x30)); }

}  // namespace zarvik
