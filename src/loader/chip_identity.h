#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "loader/fast_protocol.h"
#include "loader/protocol.h"

namespace zarvik {

// Where a loader can begin: the models' loader starts, lowest first.
inline constexpr std::array<std::uint32_t, 3> kLoaderStarts{0x1C00, 0x3C00, 0x7C00};

// The loader's first block carries its wait count as the immediates of six
// load-immediate instructions (second byte 0xE-), and both copies hold the same count.
// Nothing else in a chip looks like that by chance.
bool has_loader_layout(std::span<const std::uint8_t, kLoaderBlock> block);

// What the chip says it is. A smaller chip ignores the address bits past its flash,
// so its loader shows again at every higher candidate: the lowest start that shows a
// loader block is the chip's.
struct ChipIdentity {
    std::optional<std::uint32_t> loader_start;    // where the loader was found
    std::optional<TransactionFailure> failure;    // the reading itself failed
    // Our own loader says so in the same block: no exchange of its own.
    std::optional<LoaderSignature> signature;

    bool found() const { return loader_start.has_value(); }
};

// Reads the block at each candidate start; three block reads, nothing written.
ChipIdentity identify_chip(LoaderProtocol& protocol);

// "ATmega8/88" for 0x1C00: the models that the host cannot, and need not, tell apart.
std::string chip_name(std::uint32_t loader_start);

}  // namespace zarvik
