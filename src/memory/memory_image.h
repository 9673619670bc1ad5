#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zarvik {

inline constexpr std::uint8_t kBlank = 0xFF;
inline constexpr std::size_t kFlashCapacity = 32768;
inline constexpr std::size_t kEepromCapacity = 4096;
inline constexpr std::size_t kBlockSize = 128;

// A fixed-size memory image. Capacities do not depend on the model: every model's
// user program area and EEPROM fit, and nothing is allocated per operation.
template <std::size_t Capacity>
struct MemoryImage {
    std::array<std::uint8_t, Capacity> bytes{};

    MemoryImage() { bytes.fill(kBlank); }
    void clear() { bytes.fill(kBlank); }
    static constexpr std::size_t capacity() { return Capacity; }
    std::span<std::uint8_t> span() { return bytes; }
    std::span<const std::uint8_t> span() const { return bytes; }
};

using FlashImage = MemoryImage<kFlashCapacity>;
using EepromImage = MemoryImage<kEepromCapacity>;

enum class MemoryKind { Flash, Eeprom };

}  // namespace zarvik
