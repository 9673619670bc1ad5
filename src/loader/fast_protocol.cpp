#include "loader/fast_protocol.h"

#include <algorithm>
#include <string_view>

namespace zarvik {
namespace {

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = make_crc_table();

constexpr std::array<std::uint8_t, 4> kSignature{'Z', 'R', 'V', 'K'};
constexpr std::size_t kSignatureAt = 2;
constexpr std::size_t kVersionAt = 6;
constexpr std::size_t kPageWordsAt = 7;

constexpr std::uint8_t hi(std::uint32_t address) { return static_cast<std::uint8_t>((address >> 8) & 0xFF); }
constexpr std::uint8_t lo(std::uint32_t address) { return static_cast<std::uint8_t>(address & 0xFF); }

TransactionFailure short_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, const ReadResult& got) {
    return TransactionFailure{command, address, expected, got.count, got.line_lost, got.interrupted};
}

TransactionFailure wrong_answer(std::uint8_t command, std::uint32_t address, std::size_t expected, std::uint32_t status) {
    TransactionFailure f{command, address, expected, expected};
    f.wrong_answer = true;
    f.status = status;
    return f;
}

// A three-byte answer `hi lo status` to the packet for `address`.
TransactionResult check_status_answer(std::uint8_t command, std::uint32_t address, const std::array<std::uint8_t, 3>& answer,
                                      const ReadResult& got) {
    if (got.count != answer.size()) return short_answer(command, address, answer.size(), got);
    if (answer[0] != hi(address) || answer[1] != lo(address)) {
        // Above 0xFF, so that it is never taken for a status.
        return wrong_answer(command, address, answer.size(), kOtherAddress | static_cast<std::uint32_t>(answer[0] << 8 | answer[1]));
    }
    if (answer[2] != static_cast<std::uint8_t>(FrameStatus::Taken)) return wrong_answer(command, address, 3, answer[2]);
    return std::nullopt;
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    for (const std::uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::optional<LoaderSignature> find_signature(std::span<const std::uint8_t, kLoaderBlock> block) {
    if (!std::equal(kSignature.begin(), kSignature.end(), block.begin() + kSignatureAt)) return std::nullopt;
    if (block[kVersionAt] != kFastProtocolVersion) return std::nullopt;
    return LoaderSignature{block[kVersionAt], block[kPageWordsAt]};
}

void put_signature(std::span<std::uint8_t, kLoaderBlock> block, std::uint8_t page_words) {
    std::copy(kSignature.begin(), kSignature.end(), block.begin() + kSignatureAt);
    block[kVersionAt] = kFastProtocolVersion;
    block[kPageWordsAt] = page_words;
}

std::vector<std::uint8_t> page_frame(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(4 + data.size() + 4);
    frame.insert(frame.end(), {fast_command::kPageProgram, hi(address), lo(address), static_cast<std::uint8_t>(data.size())});
    frame.insert(frame.end(), data.begin(), data.end());
    const std::uint32_t check = crc32(std::span(frame).subspan(1));
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<std::uint8_t>(check >> (8 * i)));
    return frame;
}

ReadResult FastProtocol::read_within(std::span<std::uint8_t> into, std::int64_t budget_ms) {
    const std::int64_t deadline = clock_.now_ms() + budget_ms;
    ReadResult total;
    // Each read ends by the link's own time-outs; an answer that comes only when the
    // chip is done is awaited across several, up to the budget.
    for (int reads = 0; total.count < into.size(); ++reads) {
        const std::int64_t before = clock_.now_ms();
        const ReadResult got = link_.read(into.subspan(total.count));
        total.count += got.count;
        total.line_lost = got.line_lost;
        total.interrupted = got.interrupted;
        if (got.line_lost || got.interrupted || total.count == into.size()) break;
        const std::int64_t now = clock_.now_ms();
        // A link whose read returns at once and empty (no time passes) must not spin.
        if (now >= deadline || (got.count == 0 && now == before && reads > 1000)) break;
    }
    return total;
}

TransactionResult FastProtocol::checks(MemoryKind memory, std::uint32_t address, std::span<std::uint32_t> checks) {
    const std::uint8_t letter = memory == MemoryKind::Flash ? fast_command::kFlashChecks : fast_command::kEepromChecks;
    const auto count = checks.size();
    if (!link_.write(make_packet(letter, hi(address), lo(address), static_cast<std::uint8_t>(count & 0xFF)))) {
        return TransactionFailure{letter, address, 0, 0, true};
    }
    std::vector<std::uint8_t> answer(4 * count);
    const ReadResult got = read_within(answer, kAnswerMarginMs + static_cast<std::int64_t>(count) * 2);
    if (got.count != answer.size()) return short_answer(letter, address, answer.size(), got);
    for (std::size_t i = 0; i < count; ++i) {
        checks[i] = static_cast<std::uint32_t>(answer[4 * i]) | static_cast<std::uint32_t>(answer[4 * i + 1]) << 8 |
                    static_cast<std::uint32_t>(answer[4 * i + 2]) << 16 | static_cast<std::uint32_t>(answer[4 * i + 3]) << 24;
    }
    return std::nullopt;
}

TransactionResult FastProtocol::erase_range(std::uint32_t address, std::uint32_t units) {
    if (!link_.write(make_packet(fast_command::kRangeErase, hi(address), lo(address), static_cast<std::uint8_t>(units & 0xFF)))) {
        return TransactionFailure{fast_command::kRangeErase, address, 0, 0, true};
    }
    std::array<std::uint8_t, 3> answer{};
    // Two 64-byte pages a unit on the smaller chips, about 4.5 ms an erase.
    const ReadResult got = read_within(answer, kAnswerMarginMs + static_cast<std::int64_t>(units) * 2 * 10);
    return check_status_answer(fast_command::kRangeErase, address, answer, got);
}

bool FastProtocol::send_frame(std::span<const std::uint8_t> frame) { return link_.write(frame); }

TransactionResult FastProtocol::frame_answer(std::uint32_t address, std::int64_t budget_ms) {
    std::array<std::uint8_t, 3> answer{};
    const ReadResult got = read_within(answer, budget_ms);
    return check_status_answer(fast_command::kPageProgram, address, answer, got);
}

TransactionResult FastProtocol::ack_within(const Packet& packet, std::uint32_t address, std::int64_t budget_ms) {
    if (!link_.write(packet)) return TransactionFailure{packet[0], address, 0, 0, true};
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = read_within(ack, budget_ms);
    if (got.count == kAckSize) return std::nullopt;
    return short_answer(packet[0], address, kAckSize, got);
}

TransactionResult FastProtocol::write_eeprom_block(std::uint32_t address,
                                                   std::span<const std::uint8_t, kLoaderBlock> block, std::uint8_t count) {
    if (!link_.write(load_buffer_packet(block))) return TransactionFailure{command::kLoadBuffer, address, 0, 0, true};
    std::array<std::uint8_t, kAckSize> ack{};
    const ReadResult got = read_within(ack, kAnswerMarginMs);
    if (got.count != kAckSize) return short_answer(command::kLoadBuffer, address, kAckSize, got);
    if (auto failure = ack_within(address_packet(address), address, kAnswerMarginMs)) return failure;
    return ack_within(make_packet(command::kWriteEeprom, count, 0, 0), address,
                      kAnswerMarginMs + kEepromByteWaitMs * static_cast<std::int64_t>(count == 0 ? 256 : count));
}

TransactionResult FastProtocol::erase_eeprom_block(std::uint32_t address) {
    if (auto failure = ack_within(address_packet(address), address, kAnswerMarginMs)) return failure;
    return ack_within(make_packet(command::kEraseEeprom, 0x80, 0x30, 0x30), address, kAnswerMarginMs + kEepromEraseWaitMs);
}

bool FastProtocol::resync() {
    const Packet sync = make_packet(command::kSync, command::kSync, command::kSync, command::kSync);
    link_.discard_input();
    auto says_loader = [](std::span<const std::uint8_t> reply) {
        const std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
        return text.find("Loader") != std::string_view::npos;
    };
    // While the loader still takes in a frame whose bytes were lost, a sync only fills
    // it up: whole syncs go out until the loader answers at all (the frame's refusal).
    bool answered = false;
    for (int attempt = 0; attempt < 40 && !answered; ++attempt) {
        if (!link_.write(sync)) return false;
        std::array<std::uint8_t, kIdentifySize> reply{};
        const ReadResult got = link_.read(reply);
        if (says_loader(std::span(reply).first(got.count))) return true;
        if (got.line_lost || got.interrupted) return false;
        answered = got.count > 0;
    }
    // The refusal took some of the sync's bytes and the loader counts the rest: single
    // bytes complete it exactly, so that no stray byte starts the next packet.
    for (int i = 0; answered && i < 4; ++i) {
        if (!link_.write(std::span(sync).first(1))) return false;
        std::array<std::uint8_t, 6> reply{};
        const ReadResult got = link_.read(reply);
        if (says_loader(std::span(reply).first(got.count))) return true;
        if (got.line_lost || got.interrupted) return false;
    }
    return false;
}

}  // namespace zarvik
