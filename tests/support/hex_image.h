#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "memory/intel_hex_loader.h"

namespace zarvik::testing {

// An Intel HEX file as the bytes of a memory of `size`, blank where it has none.
inline std::vector<std::uint8_t> load_hex_image(const std::string& path, std::size_t size) {
    std::vector<std::uint8_t> image(size, 0xFF);
    const auto result = load_intel_hex_file(path, image);
    EXPECT_TRUE(std::holds_alternative<LoadedRange>(result)) << path;
    return image;
}

}  // namespace zarvik::testing
