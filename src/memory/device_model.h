#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvik {

// What the programmer knows of a chip: where its resident loader begins
// (which is also the size of the user program area) and how much EEPROM it has.
struct DeviceModel {
    std::string_view name;
    std::uint32_t loader_start;
    std::uint32_t eeprom_size;
};

// The order is the order of the model list in the window.
inline constexpr std::array<DeviceModel, 4> kDeviceModels{{
    {"ATmega8", 0x1C00, 512},
    {"ATmega88", 0x1C00, 512},
    {"ATmega168", 0x3C00, 512},
    {"ATmega328", 0x7C00, 1024},
}};

inline constexpr const DeviceModel& kDefaultModel = kDeviceModels[0];

// One flash page is 32 words; the loader takes this as the first argument of `F`.
inline constexpr std::uint8_t kPageSizeWords = 32;
inline constexpr std::uint32_t kFlashPageBytes = 64;

// Exact, case-sensitive comparison of the whole name; an unknown name gives nothing,
// so the caller keeps the model it had.
std::optional<DeviceModel> find_device_model(std::string_view name);

}  // namespace zarvik
