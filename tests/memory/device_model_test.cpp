#include "memory/device_model.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(DeviceModel, TableGivesLoaderStartAndEepromSize) {
    struct Case { const char* name; std::uint32_t loader; std::uint32_t eeprom; };
    for (const Case& c : {Case{"ATmega8", 0x1C00, 512}, Case{"ATmega88", 0x1C00, 512},
                          Case{"ATmega168", 0x3C00, 512}, Case{"ATmega328", 0x7C00, 1024}}) {
        auto model = find_device_model(c.name);
        ASSERT_TRUE(model) << c.name;
        EXPECT_EQ(model->loader_start, c.loader) << c.name;
        EXPECT_EQ(model->eeprom_size, c.eeprom) << c.name;
    }
}

TEST(DeviceModel, OnlyExactNamesMatch) {
    for (const char* name : {"atmega8", "ATmega8 ", "ATmega", "", "ATmega3280"}) {
        EXPECT_FALSE(find_device_model(name)) << name;
    }
    EXPECT_EQ(kDefaultModel.name, "ATmega8");
}

}  // namespace
}  // namespace zarvik
