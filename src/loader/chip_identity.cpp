#include "loader/chip_identity.h"

#include <cctype>

#include "loader/wait_count.h"
#include "memory/device_model.h"

namespace zarvik {

bool has_loader_layout(std::span<const std::uint8_t, kLoaderBlock> block) {
    for (const auto& offsets : {kWaitCountOffsetsFirst, kWaitCountOffsetsSecond}) {
        for (const std::size_t o : offsets) {
            if ((block[o + 1] & 0xF0) != 0xE0) return false;
        }
    }
    return decode_wait_count(block, 0) == decode_wait_count(block, 1);
}

ChipIdentity identify_chip(LoaderProtocol& protocol) {
    ChipIdentity identity;
    Block block{};
    for (const std::uint32_t start : kLoaderStarts) {
        if (auto failure = protocol.read_flash_block(start, block)) {
            // Something answered, but not with a block (a line that echoes, a loader
            // that speaks otherwise): no loader block there. A silent or vanished line
            // is a failure of the line.
            if (failure->received > 0 && !failure->line_lost && !failure->interrupted) continue;
            identity.failure = failure;
            return identity;
        }
        if (has_loader_layout(block)) {
            identity.loader_start = start;
            identity.signature = find_signature(block);
            return identity;
        }
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
