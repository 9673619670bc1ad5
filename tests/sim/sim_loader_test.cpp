#include "sim/board/sim_loader.h"

#include <gtest/gtest.h>

#include "loader/wait_count.h"
#include "support/sim_fixture.h"

namespace zarvik {
namespace {

TEST(SimLoader, ModelsHaveTheirMemoriesAndALoaderWithAWaitCount) {
    struct Case { const char* model; std::uint32_t flash; std::uint32_t eeprom; };
    for (const Case& c : {Case{"ATmega8", 8192, 512}, Case{"ATmega88", 8192, 512}, Case{"ATmega168", 16384, 512},
                          Case{"ATmega328", 32768, 1024}}) {
        SimLoader loader(*find_device_model(c.model));
        EXPECT_EQ(loader.flash().size(), c.flash) << c.model;
        EXPECT_EQ(loader.eeprom().size(), c.eeprom) << c.model;
        EXPECT_EQ(decode_wait_count(loader.loader_first_block(), 0), SimLoader::kFactoryWaitCount) << c.model;
        EXPECT_EQ(decode_wait_count(loader.loader_first_block(), 1), SimLoader::kFactoryWaitCount) << c.model;
    }
}

TEST(SimLoader, FlashProgrammingOnlyClearsBitsUntilThePageIsErased) {
    testing::SimBoard board;
    Block first;
    first.fill(0xF0);
    Block second;
    second.fill(0x0F);
    ASSERT_FALSE(board.protocol.write_flash_block(0, first, 2));
    ASSERT_FALSE(board.protocol.write_flash_block(0, second, 1));
    EXPECT_EQ(board.loader.flash()[0], 0x00);     // old AND new, as on the chip
    EXPECT_EQ(board.loader.flash()[64], 0xF0);    // the second page was not programmed again
    ASSERT_FALSE(board.protocol.erase_flash_page(0x20));  // erases the page that holds the address
    EXPECT_EQ(board.loader.flash()[0], 0xFF);
    EXPECT_EQ(board.loader.flash()[64], 0xF0);
}

TEST(SimLoader, AnswersNothingAfterStart) {
    testing::SimBoard board;
    ASSERT_TRUE(board.protocol.start_program());
    Block into{};
    EXPECT_TRUE(board.protocol.read_flash_block(0, into));
}

}  // namespace
}  // namespace zarvik
