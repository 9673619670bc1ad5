#include "loader/wire.h"

#include <algorithm>
#include <string_view>

#include "loader/loader_signature.h"

namespace zarvik {
namespace {

// The longest a drain waits for the line to fall quiet, and the most it throws away:
// a stale answer is never longer than a range of page checks, and bytes that come
// faster than any clock can measure must not hold it forever.
constexpr std::int64_t kLongestDrainMs = 2000;
constexpr std::size_t kLongestDrainBytes = std::size_t{16} * 1024;

}  // namespace

std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void append_le32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Packet make_packet(std::uint8_t cmd, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3) { return {cmd, a1, a2, a3}; }

Packet address_packet(std::uint32_t address) {
    return make_packet(command::kSetAddress, address_high(address), address_low(address), 0x00);
}

std::array<std::uint8_t, 4 + kLoaderBlock> load_buffer_packet(std::span<const std::uint8_t, kLoaderBlock> block) {
    std::array<std::uint8_t, 4 + kLoaderBlock> load{};
    const Packet head = make_packet(command::kLoadBuffer, 0, 0, 0);
    std::copy(head.begin(), head.end(), load.begin());
    std::copy(block.begin(), block.end(), load.begin() + 4);
    return load;
}

std::vector<std::uint8_t> session_frame(std::uint8_t letter, std::uint32_t address, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(4 + data.size() + 4);
    frame.insert(frame.end(), {letter, static_cast<std::uint8_t>(data.size()), address_high(address), address_low(address)});
    frame.insert(frame.end(), data.begin(), data.end());
    append_le32(frame, crc32(frame));
    return frame;
}

std::vector<std::uint8_t> count_frame(std::uint8_t letter, std::uint8_t count, std::uint32_t address) {
    std::vector<std::uint8_t> frame{letter, count, address_high(address), address_low(address)};
    append_le32(frame, crc32(frame));
    return frame;
}

TransactionFailure short_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, const ReadResult& got) {
    return TransactionFailure{command, address, expected, got.count, got.line_lost, got.interrupted};
}

bool is_loader_reply(std::span<const std::uint8_t> reply) {
    const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(reply.data()),
                                static_cast<std::size_t>(end - reply.begin()));
    return text == "Loader" || text == "UUUU";
}

bool is_session_sync_reply(std::span<const std::uint8_t> reply) {
    return std::string_view(reinterpret_cast<const char*>(reply.data()), reply.size()) == "Loader";
}

ReadResult drain_line(ByteLink& link, Clock& clock) {
    link.discard_input();
    std::array<std::uint8_t, 1> byte{};
    const std::int64_t give_up = clock.now_ms() + kLongestDrainMs;
    for (std::size_t thrown = 0; thrown < kLongestDrainBytes && clock.now_ms() < give_up; ++thrown) {
        // Quiet means a whole read's time-out without a byte.
        const ReadResult got = link.read(byte);
        if (got.count == 0 || got.line_lost || got.interrupted) return got;
    }
    return ReadResult{};
}

TransactionResult resync_loader(ByteLink& link, Clock& clock, std::uint8_t command, std::uint32_t address,
                                const SyncListener& listen) {
    std::size_t heard = 0;
    for (int attempt = 0; attempt < kResyncAttempts; ++attempt) {
        // The first sync may only complete a packet the loader had half received; after
        // a pause the loader drops such a half, and the next sync stands alone.
        if (attempt > 0) clock.sleep_ms(kAbandonedPacketMs);
        ReadResult got = drain_line(link, clock);
        if (!got.line_lost && !got.interrupted) {
            const SyncHeard reply = listen();
            if (reply.loader) return std::nullopt;
            got = reply.got;
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

}  // namespace zarvik
