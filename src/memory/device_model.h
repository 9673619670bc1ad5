#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvik {

// Everything the programmer knows of a chip, one row a model. Nothing elsewhere
// decides a fact of a chip by its name or by comparing addresses.
struct DeviceModel {
    std::string_view name;
    std::uint32_t flash_size;     // bytes, the loader's 1 KB included
    std::uint32_t page_bytes;     // one flash page, as the chip erases and programs it
    std::uint32_t halting_from;   // the section where the CPU stops while a page programs
    std::uint32_t loader_start;   // also the size of the user program area
    std::uint32_t eeprom_size;
    std::uint32_t eeprom_page;    // bytes the chip writes at once (1: byte by byte)
    // The loader's start-up wait runs this many cycles a count (plus one count).
    std::uint32_t wait_cycles_per_count;
};

// The order is the order of the model list in the window.
inline constexpr std::array<DeviceModel, 4> kDeviceModels{{
    {"ATmega8", 0x2000, 64, 0x1800, 0x1C00, 512, 1, 12},
    {"ATmega88", 0x2000, 64, 0x1800, 0x1C00, 512, 4, 12},
    {"ATmega168", 0x4000, 128, 0x3800, 0x3C00, 512, 4, 12},
    {"ATmega328", 0x8000, 128, 0x7000, 0x7C00, 1024, 4, 12},
}};

inline constexpr const DeviceModel& kDefaultModel = kDeviceModels[0];

// One flash page is 32 words; the loader takes this as the first argument of `F`.
inline constexpr std::uint8_t kPageSizeWords = 32;
inline constexpr std::uint32_t kFlashPageBytes = 64;

// Exact, case-sensitive comparison of the whole name; an unknown name gives nothing,
// so the caller keeps the model it had.
std::optional<DeviceModel> find_device_model(std::string_view name);

// The model whose loader starts at `start`: `preferred` when it does (two models share
// a start), else the first in the table that does; nothing for an unknown start.
const DeviceModel* model_for_loader_start(std::uint32_t start, const DeviceModel& preferred);

}  // namespace zarvik
