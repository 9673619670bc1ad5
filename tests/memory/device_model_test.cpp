#include "memory/device_model.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(DeviceModel, TableGivesEachChipsFacts) {
    struct Case { const char* name; std::uint32_t loader, eeprom, page, halting; };
    for (const Case& c : {Case{"ATmega8", 0x1C00, 512, 64, 0x1800}, Case{"ATmega88", 0x1C00, 512, 64, 0x1800},
                          Case{"ATmega168", 0x3C00, 512, 128, 0x3800}, Case{"ATmega328", 0x7C00, 1024, 128, 0x7000}}) {
        auto model = find_device_model(c.name);
        ASSERT_TRUE(model) << c.name;
        EXPECT_EQ(model->loader_start, c.loader) << c.name;
        EXPECT_EQ(model->eeprom_size, c.eeprom) << c.name;
        EXPECT_EQ(model->page_bytes, c.page) << c.name;
        EXPECT_EQ(model->halting_from, c.halting) << c.name;
        // The loader takes the top 1 KB, whole pages, inside the section where the CPU stops.
        EXPECT_EQ(model->flash_size, model->loader_start + 1024) << c.name;
        EXPECT_EQ(model->loader_start % model->page_bytes, 0u) << c.name;
        EXPECT_LT(model->halting_from, model->loader_start) << c.name;
    }
}

TEST(DeviceModel, ALoadersStartNamesItsModelPreferringTheOneChosen) {
    const DeviceModel m88 = *find_device_model("ATmega88");
    EXPECT_EQ(model_for_loader_start(0x1C00, m88)->name, "ATmega88");
    EXPECT_EQ(model_for_loader_start(0x1C00, kDefaultModel)->name, "ATmega8");
    EXPECT_EQ(model_for_loader_start(0x7C00, m88)->name, "ATmega328");
    EXPECT_EQ(model_for_loader_start(0x1234, m88), nullptr);
}

TEST(DeviceModel, OnlyExactNamesMatch) {
    for (const char* name : {"atmega8", "ATmega8 ", "ATmega", "", "ATmega3280"}) {
        EXPECT_FALSE(find_device_model(name)) << name;
    }
    EXPECT_EQ(kDefaultModel.name, "ATmega8");
}

}  // namespace
}  // namespace zarvik
