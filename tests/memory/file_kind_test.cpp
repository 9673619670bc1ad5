#include "memory/file_kind.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(FileKind, TheExtensionNamesTheMemoryWhateverItsCase) {
    struct Case { const char* path; std::optional<MemoryKind> memory; };
    const Case cases[] = {
        {"/tmp/a/blink.hex", MemoryKind::Flash},
        {"C:\\Прошивки\\blink.HEX", MemoryKind::Flash},
        {"program.elf", MemoryKind::Flash},
        {"/tmp/a/data.EEP", MemoryKind::Eeprom},
        {"/tmp/a/data.eep.bak", std::nullopt},
        {"/tmp/a.hex/README", std::nullopt},  // the dot is the folder's
        {"C:\\a.eep\\data", std::nullopt},
        {"/tmp/b/hex", std::nullopt},
        {"notes.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(memory_for_file(c.path), c.memory) << c.path;
}

}  // namespace
}  // namespace zarvik
