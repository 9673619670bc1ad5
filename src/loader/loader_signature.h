#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "loader/protocol.h"

namespace zarvik {

// CRC-32 as zlib computes it (reflected 0xEDB88320, initial and final XOR 0xFFFFFFFF).
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The protocol version whose checked session this host speaks. Version 1 (four-byte
// fast commands without a session) is given the plain road only: one lost byte could
// turn its frames' data into plain commands.
inline constexpr std::uint8_t kSessionProtocolVersion = 2;
// The checked session with the speed switch (`R`).
inline constexpr std::uint8_t kSpeedSwitchProtocolVersion = 3;
inline constexpr std::uint8_t kUnsafeFastProtocolVersion = 1;

inline constexpr bool is_session_version(std::uint8_t version) {
    return version == kSessionProtocolVersion || version == kSpeedSwitchProtocolVersion;
}

// What our loader says of itself at fixed offsets of its first block.
struct LoaderSignature {
    std::uint8_t version = 0;
    std::uint8_t page_words = 0;  // the chip's flash page: 32 or 64 words
    std::uint32_t clock_hz = 0;   // the clock it was built for (its wait counts at this rate)

    bool speaks_session() const { return is_session_version(version); }
    bool switches_speed() const { return version == kSpeedSwitchProtocolVersion; }
};

// Our mark ("ZRVK") in a loader's first block, with whatever version it names; nothing
// for any other loader. Which road a version gets is the programmer's decision.
std::optional<LoaderSignature> find_signature(std::span<const std::uint8_t, kLoaderBlock> block);
// Writes the signature into a first block (the simulated board's loader).
void put_signature(std::span<std::uint8_t, kLoaderBlock> block, std::uint8_t page_words,
                   std::uint8_t version = kSessionProtocolVersion);

}  // namespace zarvik
