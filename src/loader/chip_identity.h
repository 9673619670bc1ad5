#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "loader/loader_signature.h"
#include "loader/protocol.h"

namespace zarvik {

// Where a loader can begin: the models' loader starts, lowest first.
inline constexpr std::array<std::uint32_t, 3> kLoaderStarts{0x1C00, 0x3C00, 0x7C00};

// The loader's first block carries its wait count as the immediates of six
// load-immediate instructions (second byte 0xE-), in two copies.
enum class LoaderBlockKind {
    None,       // not this loader's first block
    Intact,     // the six instructions, both copies of the count the same
    TornCount,  // the six instructions, but the copies differ: a configuration cut
                // between the block's two pages on a chip with 64-byte pages
};
LoaderBlockKind classify_loader_block(std::span<const std::uint8_t, kLoaderBlock> block);

// The six instructions in place and both copies of the count the same.
bool has_loader_layout(std::span<const std::uint8_t, kLoaderBlock> block);

// What the chip says it is. A smaller chip ignores the address bits past its flash,
// so its loader block shows again, byte for byte, at every higher candidate. A
// candidate counts only when its block is a loader block and is identical to the
// blocks read at every higher candidate: a program's data may look like a loader
// block, but the same bytes do not also stand at the chip's real loader start. The
// chip is the lowest candidate that counts.
struct ChipIdentity {
    std::optional<std::uint32_t> loader_start;    // where the loader was found
    std::optional<TransactionFailure> failure;    // the reading itself failed
    // Our own loader says so in the same block: no exchange of its own.
    std::optional<LoaderSignature> signature;
    // The loader was found, but the two copies of its wait count differ: operations
    // go on, and configuring the loader rewrites both copies.
    bool torn_count = false;
    std::uint32_t wait_count = 0;         // the first copy
    std::uint32_t second_wait_count = 0;  // the second copy (differs when torn)

    bool found() const { return loader_start.has_value(); }
};

// Reads the block at each candidate start; three block reads, nothing written. A
// candidate that answers with the bytes the host sent (a line that echoes) holds no
// loader block; any other short or missing answer is a failure of the line.
ChipIdentity identify_chip(LoaderProtocol& protocol);

// "ATmega8/88" for 0x1C00: the models that the host cannot, and need not, tell apart.
std::string chip_name(std::uint32_t loader_start);

}  // namespace zarvik
