#include "memory/intel_hex_writer.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <gtest/gtest.h>

#include <vector>

#include "memory/file_io.h"
#include "memory/intel_hex_loader.h"
#include "memory/memory_image.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

std::vector<std::uint8_t> blank(std::size_t n) { return std::vector<std::uint8_t>(n, 0xFF); }

TEST(IntelHexWriter, WorkedExampleAndEdgeCases) {
    auto four = blank(512);
    four[0] = 0x0C; four[1] = 0x94; four[2] = 0x34; four[3] = 0x00;
    EXPECT_EQ(to_intel_hex(four), ":040000000C94340028\r\n:00000001FF\r\n");

    // A blank memory exports one blank record, so that the file loads back.
    EXPECT_EQ(to_intel_hex(blank(1024)), ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n:00000001FF\r\n");

    auto first = blank(512);
    first[0] = 0x12;
    EXPECT_EQ(to_intel_hex(first), ":0100000012ED\r\n:00000001FF\r\n");
}

TEST(IntelHexWriter, FullEepromIsSixtyFourRecordsInnerBlanksKept) {
    auto bytes = blank(1024);
    bytes[0] = 0x00;
    bytes[1023] = 0x01;
    const std::string text = to_intel_hex(bytes);
    std::size_t records = 0;
    for (std::size_t p = text.find(':'); p != std::string::npos; p = text.find(':', p + 1)) ++records;
    EXPECT_EQ(records, 65u);
    EXPECT_NE(text.find(":1003F000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01"), std::string::npos);
    EXPECT_NE(text.find(":1000000000FFFF"), std::string::npos);
}

TEST(IntelHexWriter, ExportThenLoadGivesBackTheBytes) {
    auto bytes = blank(31744);
    for (std::size_t i = 0; i < 5000; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    bytes[4000] = 0xFF;
    FlashImage image;
    auto result = load_intel_hex(to_intel_hex(bytes), image.span());
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(result));
    EXPECT_EQ(std::get<LoadedRange>(result).end, 5000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.bytes.begin()));
}

TEST(IntelHexWriter, ExtensionRule) {
    struct Case { const char* typed; const char* saved; };
    for (const Case& c : {Case{"data.eep", "data.eep"}, Case{"data", "data.eep"}, Case{"DATA.EEP", "DATA.EEP.eep"},
                          Case{"/x/a.eep.d/data", "/x/a.eep.d/data.eep"}, Case{"C:\\a.eep\\data", "C:\\a.eep\\data.eep"},
                          Case{"/x/a.eep.d/data.eep.bak", "/x/a.eep.d/data.eep.bak"}}) {
        EXPECT_EQ(with_required_extension(c.typed, ".eep"), c.saved);
    }
}

TEST(AtomicWrite, ReplacesOrLeavesTheOldFileIntact) {
    testing::TempDir dir;
    const std::string path = dir.write("out.hex", "old");
    ASSERT_FALSE(write_file_atomically(path, "new"));
    EXPECT_EQ(testing::read_file(path), "new");

    auto missing_folder = write_file_atomically(dir.file("no/such/folder.hex"), "x");
    ASSERT_TRUE(missing_folder);
    EXPECT_FALSE(missing_folder->empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left
}

#if !defined(_WIN32)
TEST(AtomicWrite, AFolderWithoutWritePermissionLeavesTheOldFile) {
    testing::TempDir dir;
    const std::string path = dir.write("out.hex", "old");
    ::chmod(dir.path().c_str(), 0500);
    if (::access(dir.path().c_str(), W_OK) == 0) {
        ::chmod(dir.path().c_str(), 0700);
        GTEST_SKIP() << "this user writes into a read-only folder (root): the refusal cannot be shown";
    }
    EXPECT_TRUE(write_file_atomically(path, "newer"));
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(testing::read_file(path), "old");
}

// A write that fails half-way, which the file size limit brings about for root too:
// the old file stays whole and no partial copy is left beside it.
TEST(AtomicWrite, AWriteThatFailsHalfWayLeavesTheOldFile) {
    testing::TempDir dir;
    const std::string old_text(4096, 'o');
    const std::string path = dir.write("out.hex", old_text);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    auto* const previous = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto failure = write_file_atomically(path, std::string(8192, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->empty());
    EXPECT_EQ(testing::read_file(path), old_text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left
}
#endif

}  // namespace
}  // namespace zarvik
