#include "programmer/partial_pages.h"

#include <algorithm>

namespace zarvik {

std::uint32_t chip_page_bytes(const DeviceModel& model) { return model.page_bytes; }

PageSpan chip_page_span(std::uint32_t first, std::uint32_t end, std::uint32_t chip_page) {
    return {first / chip_page * chip_page, (end + chip_page - 1) / chip_page * chip_page};
}

TransactionResult keep_bytes_outside_file(std::span<std::uint8_t> image, std::uint32_t first, std::uint32_t end,
                                          PageSpan span, const UnitReader& read_unit) {
    Block chip{};
    constexpr auto kUnit = static_cast<std::uint32_t>(kLoaderBlock);
    for (std::uint32_t unit = span.start / kUnit * kUnit; unit < span.end; unit += kUnit) {
        const std::uint32_t unit_end = unit + kUnit;
        if (unit >= first && unit_end <= end) continue;
        if (auto failure = read_unit(unit, chip)) return failure;
        for (std::uint32_t a = unit; a < unit_end; ++a) {
            if (a < first || a >= end) image[a] = chip[a - unit];
        }
    }
    return std::nullopt;
}

}  // namespace zarvik
