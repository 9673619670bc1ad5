#include "loader/chip_identity.h"

#include <algorithm>
#include <cctype>

#include "loader/wait_count.h"
#include "memory/device_model.h"

namespace zarvik {

LoaderBlockKind classify_loader_block(std::span<const std::uint8_t, kLoaderBlock> block) {
    for (const auto& offsets : {kWaitCountOffsetsFirst, kWaitCountOffsetsSecond}) {
        for (const std::size_t o : offsets) {
            if ((block[o + 1] & 0xF0) != 0xE0) return LoaderBlockKind::None;
        }
    }
    return decode_wait_count(block, 0) == decode_wait_count(block, 1) ? LoaderBlockKind::Intact
                                                                      : LoaderBlockKind::TornCount;
}

bool has_loader_layout(std::span<const std::uint8_t, kLoaderBlock> block) {
    return classify_loader_block(block) == LoaderBlockKind::Intact;
}

ChipIdentity identify_chip(LoaderProtocol& protocol) {
    ChipIdentity identity;
    std::array<std::optional<Block>, kLoaderStarts.size()> blocks;
    for (std::size_t i = 0; i < kLoaderStarts.size(); ++i) {
        Block block{};
        if (auto failure = protocol.read_flash_block(kLoaderStarts[i], block)) {
            // The line gave back what the host sent: no loader reads there, so no loader
            // block. Anything else short or missing is the line's fault, and naming a
            // chip from the rest would be a guess.
            if (failure->echoed && !failure->line_lost && !failure->interrupted) continue;
            identity.failure = failure;
            return identity;
        }
        blocks[i] = block;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (!blocks[i] || classify_loader_block(*blocks[i]) == LoaderBlockKind::None) continue;
        const bool wraps_up = std::all_of(blocks.begin() + static_cast<std::ptrdiff_t>(i) + 1, blocks.end(),
                                          [&](const std::optional<Block>& higher) { return higher == blocks[i]; });
        if (!wraps_up) continue;
        identity.loader_start = kLoaderStarts[i];
        identity.wait_count = decode_wait_count(*blocks[i], 0);
        identity.second_wait_count = decode_wait_count(*blocks[i], 1);
        identity.torn_count = identity.wait_count != identity.second_wait_count;
        return identity;
    }
    return identity;
}

std::string chip_name(std::uint32_t loader_start) {
    std::string name;
    for (const auto& model : kDeviceModels) {
        if (model.loader_start != loader_start) continue;
        if (name.empty()) {
            name = model.name;
        } else {
            // "ATmega8" and "ATmega88" share a prefix; the second is named by its suffix.
            std::size_t common = 0;
            while (common < name.size() && common < model.name.size() && name[common] == model.name[common]) ++common;
            while (common > 0 && std::isdigit(static_cast<unsigned char>(name[common - 1]))) --common;
            name += "/";
            name += model.name.substr(common);
        }
    }
    return name;
}

}  // namespace zarvik
