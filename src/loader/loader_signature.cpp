#include "loader/loader_signature.h"

#include <algorithm>

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
constexpr std::size_t kClockAt = 8;  // four bytes, low first

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    for (const std::uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::optional<LoaderSignature> find_signature(std::span<const std::uint8_t, kLoaderBlock> block) {
    if (!std::equal(kSignature.begin(), kSignature.end(), block.begin() + kSignatureAt)) return std::nullopt;
    std::uint32_t clock = 0;
    for (std::size_t i = 0; i < 4; ++i) clock |= std::uint32_t{block[kClockAt + i]} << (8 * i);
    return LoaderSignature{block[kVersionAt], block[kPageWordsAt], clock};
}

void put_signature(std::span<std::uint8_t, kLoaderBlock> block, std::uint8_t page_words, std::uint8_t version) {
    std::copy(kSignature.begin(), kSignature.end(), block.begin() + kSignatureAt);
    block[kVersionAt] = version;
    block[kPageWordsAt] = page_words;
}

}  // namespace zarvik
