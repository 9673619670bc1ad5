#include "cli/command_plan.h"

#include <gtest/gtest.h>

namespace zarvik::cli {
namespace {

TEST(CommandPlan, ChainsParseInOrder) {
    auto plan = parse_plan({"erase", "flash", "write", "flash", "a.hex", "erase", "eeprom", "configure", "16", "-2",
                            "read", "eeprom", "d.eep", "start"});
    ASSERT_TRUE(std::holds_alternative<std::vector<Step>>(plan)) << std::get<std::string>(plan);
    const auto& steps = std::get<std::vector<Step>>(plan);
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps[0].kind, Step::Kind::Erase);
    EXPECT_EQ(steps[1].file, "a.hex");
    EXPECT_EQ(steps[2].memory, MemoryKind::Eeprom);
    EXPECT_EQ(steps[3].timeout, "-2");
    EXPECT_EQ(steps[4].file, "d.eep");
    EXPECT_EQ(steps[5].kind, Step::Kind::Start);
}

TEST(CommandPlan, MalformedChainsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases{
        {}, {"flash"}, {"erase"}, {"erase", "ram"}, {"write", "flash"}, {"configure", "16"}, {"connect", "now"},
    };
    for (const auto& words : cases) {
        EXPECT_TRUE(std::holds_alternative<std::string>(parse_plan(words))) << words.size();
    }
}

}  // namespace
}  // namespace zarvik::cli
