#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "loader/protocol.h"
#include "memory/device_model.h"

namespace zarvik {

// The chip's own flash page: 64 bytes on the ATmega8/88, 128 on the ATmega168/328.
// The loader erases and programs whole chip pages, whatever the host's blocks are.
std::uint32_t chip_page_bytes(const DeviceModel& model);

struct PageSpan {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};
// The file's range `[first, end)` widened to whole chip pages.
PageSpan chip_page_span(std::uint32_t first, std::uint32_t end, std::uint32_t chip_page);

// Reads the 128-byte unit at `address` from the chip.
using UnitReader = std::function<TransactionResult(std::uint32_t address, std::span<std::uint8_t, kLoaderBlock> into)>;

// The bytes of the file's first and last chip pages that the file does not cover are
// the chip's, and stay so: every 128-byte unit of `span` that the file covers only in
// part is read, and its bytes outside `[first, end)` are put into `image`, so that
// writing whole pages from the image leaves them as they were.
TransactionResult keep_bytes_outside_file(std::span<std::uint8_t> image, std::uint32_t first, std::uint32_t end,
                                          PageSpan span, const UnitReader& read_unit);

}  // namespace zarvik
