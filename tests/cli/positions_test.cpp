// The fixture positions a command line names: NAME=PATH or a port alone, and the words
// that cannot stand together.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "cli/positions.h"
#include "support/temp_dir.h"
#include "text/language.h"

namespace zarvik {
namespace {

using testing::TempDir;

TEST(Positions, NamesAndPortsAreTakenInTheOrderGivenAndRepeatsRefused) {
    set_language(Language::Russian);
    TempDir dir;
    // A port and the symbolic link beside it, as /dev/serial/by-id holds them.
    const std::string tty = dir.write("ttyUSB0", "");
    std::filesystem::create_symlink(testing::native(tty), testing::native(dir.file("by-id")));
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> labels;  // or
        const char* refused;              // a part of the usage error
    };
    const Case cases[] = {
        {{"/dev/ttyUSB0", "ttyUSB1"}, {"/dev/ttyUSB0", "ttyUSB1"}, nullptr},
        {{"1=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0", "2=COM3"}, {"1", "2"}, nullptr},
        // A path's own '=' names nothing.
        {{"/dev/serial/by-id/usb-X=Y"}, {"/dev/serial/by-id/usb-X=Y"}, nullptr},
        {{"1=/dev/a", "1=/dev/b"}, {}, "место 1 указано дважды"},
        {{"1=/dev/a", "2=/dev/a"}, {}, "порт /dev/a указан дважды"},
        {{"ttyUSB7", "/dev/ttyUSB7"}, {}, "ttyUSB7 и /dev/ttyUSB7 — один и тот же порт"},
        {{tty, dir.file("by-id")}, {}, "один и тот же порт"},
        {{"1="}, {}, "у места 1 не указан порт"},
    };
    for (const Case& c : cases) {
        const auto parsed = cli::parse_positions(c.words);
        const std::string shown = c.words.front() + " " + c.words.back();
        if (c.refused != nullptr) {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << shown;
            EXPECT_NE(std::get<std::string>(parsed).find(c.refused), std::string::npos)
                << shown << ": " << std::get<std::string>(parsed);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<std::vector<cli::Position>>(parsed)) << shown << std::get<std::string>(parsed);
        std::vector<std::string> labels;
        for (const cli::Position& p : std::get<std::vector<cli::Position>>(parsed)) labels.push_back(p.label());
        EXPECT_EQ(labels, c.labels) << shown;
    }
    EXPECT_EQ(cli::split_port_words("a,,b,"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace zarvik
