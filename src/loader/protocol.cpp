#include "loader/protocol.h"

#include <algorithm>
#include <string_view>

namespace zarvik {

Packet make_packet(std::uint8_t cmd, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3) { return {cmd, a1, a2, a3}; }

Packet address_packet(std::uint32_t address) {
    return make_packet(command::kSetAddress, static_cast<std::uint8_t>((address >> 8) & 0xFF),
                       static_cast<std::uint8_t>(address & 0xFF), 0x00);
}

std::array<std::uint8_t, 4 + kLoaderBlock> load_buffer_packet(std::span<const std::uint8_t, kLoaderBlock> block) {
    std::array<std::uint8_t, 4 + kLoaderBlock> load{};
    const Packet head = make_packet(command::kLoadBuffer, 0, 0, 0);
    std::copy(head.begin(), head.end(), load.begin());
    std::copy(block.begin(), block.end(), load.begin() + 4);
    return load;
}

namespace {

TransactionFailure short_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, const ReadResult& got) {
    return TransactionFailure{command, address, expected, got.count, got.line_lost, got.interrupted};
}

// The longest a drain waits for the line to fall quiet: a line that keeps talking is
// not a loader waiting for its next packet, and the sync after it will say so.
constexpr std::int64_t kLongestDrainMs = 2000;
// And the most it throws away: a stale answer is never longer than a range of page
// checks, and bytes that come faster than any clock can measure must not hold it forever.
constexpr std::size_t kLongestDrainBytes = std::size_t{16} * 1024;

constexpr Packet kSyncPacket{command::kSync, command::kSync, command::kSync, command::kSync};

}  // namespace

bool is_loader_reply(std::span<const std::uint8_t> reply) {
    const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(reply.data()),
                                static_cast<std::size_t>(end - reply.begin()));
    return text == "Loader" || text == "UUUU";
}

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

ReadResult LoaderProtocol::drain() {
    link_.discard_input();
    std::array<std::uint8_t, 1> byte{};
    const std::int64_t give_up = clock_.now_ms() + kLongestDrainMs;
    for (std::size_t thrown = 0; thrown < kLongestDrainBytes && clock_.now_ms() < give_up; ++thrown) {
        // Quiet means a whole read's time-out without a byte.
        const ReadResult got = link_.read(byte);
        if (got.count == 0 || got.line_lost || got.interrupted) return got;
    }
    return ReadResult{};
}

TransactionResult LoaderProtocol::ensure_in_step(std::uint8_t command, std::uint32_t address) {
    if (!out_of_step_) return std::nullopt;
    std::size_t heard = 0;
    for (int attempt = 0; attempt < kResyncAttempts; ++attempt) {
        // The first sync may only complete a packet the loader had half received; after
        // a pause the loader drops such a half, and the next sync stands alone.
        if (attempt > 0) clock_.sleep_ms(kAbandonedPacketMs);
        ReadResult got = drain();
        if (!got.line_lost && !got.interrupted) {
            std::array<std::uint8_t, kIdentifySize> reply{};
            got = identify(reply);
            if (is_loader_reply(std::span(reply).first(got.count))) return std::nullopt;
            heard = got.count;
        }
        if (got.line_lost || got.interrupted) {
            TransactionFailure failure{command, address, 0, 0, got.line_lost, got.interrupted};
            failure.out_of_step = true;
            return failure;
        }
    }
    TransactionFailure failure{command::kSync, address, kIdentifySize, heard};
    failure.out_of_step = true;
    return failure;
}

TransactionResult LoaderProtocol::send(const Packet& packet, std::uint32_t address) {
    if (link_.write(packet)) return std::nullopt;
    return TransactionFailure{packet[0], address, 0, 0, true};
}

TransactionResult LoaderProtocol::command_with_ack(const Packet& packet, std::uint32_t address, std::int64_t wait_ms) {
    if (auto failure = send(packet, address)) return failure;
    clock_.sleep_ms(wait_ms);
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = read_answer(ack);
    if (got.count == kAckSize) return std::nullopt;
    return short_answer(packet[0], address, kAckSize, got);
}

TransactionResult LoaderProtocol::load_then_program(std::uint32_t address,
                                                    std::span<const std::uint8_t, kLoaderBlock> block,
                                                    const Packet& program, std::int64_t wait_ms) {
    if (auto failure = ensure_in_step(command::kLoadBuffer, address)) return failure;
    if (!link_.write(load_buffer_packet(block))) return TransactionFailure{command::kLoadBuffer, address, 0, 0, true};
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = read_answer(ack);
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
    if (auto failure = ensure_in_step(read_command, address)) return failure;
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    if (auto failure = command_with_ack(make_packet(read_command, 0x80, 0, 0), address)) return failure;
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
    if (auto failure = ensure_in_step(command::kEraseFlashPage, address)) return failure;
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(make_packet(command::kEraseFlashPage, 0x30, 0x30, 0x30), address);
}

TransactionResult LoaderProtocol::erase_eeprom_block(std::uint32_t address) {
    if (auto failure = ensure_in_step(command::kEraseEeprom, address)) return failure;
    if (auto failure = command_with_ack(address_packet(address), address)) return failure;
    return command_with_ack(make_packet(command::kEraseEeprom, 0x80, 0x30, 0x30), address, kEepromEraseWaitMs);
}

bool LoaderProtocol::start_program() {
    // Out of step, `S` could be taken as part of another packet; in step or not, it is
    // sent, since a loader that does not answer the sync may still start the program.
    if (auto failure = ensure_in_step(command::kStart, 0); failure && failure->line_lost) return false;
    return link_.write(make_packet(command::kStart, 0x30, 0x30, 0x30));
}

}  // namespace zarvik
