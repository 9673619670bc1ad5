#include "memory/file_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "support/temp_dir.h"

namespace zarvik {
namespace {

// Bytes a text-mode file would change: CR LF, a lone LF, Ctrl-Z (end of file for the
// Windows C runtime in text mode) and a zero byte.
constexpr char kAwkward[] = ":00000001FF\r\nx\ny\x1A" "z\0end\r";
const std::string kAwkwardBytes(kAwkward, sizeof kAwkward - 1);

TEST(FileIo, NamesAndBytesComeThroughUnchanged) {
    testing::TempDir dir;
    const char* names[] = {"plain.hex", "Прошивка платы.hex", "ёлка.eep", "données.hex"};
    for (const char* name : names) {
        const std::string path = dir.file(name);
        ASSERT_FALSE(write_file_atomically(path, kAwkwardBytes)) << name;
        EXPECT_TRUE(std::filesystem::exists(testing::native(path))) << name;
        std::string back;
        ASSERT_FALSE(read_whole_file(path, back)) << name;
        EXPECT_EQ(back, kAwkwardBytes) << name;
        // Replacing an existing file, which a plain rename refuses on Windows.
        ASSERT_FALSE(write_file_atomically(path, "second")) << name;
        ASSERT_FALSE(read_whole_file(path, back)) << name;
        EXPECT_EQ(back, "second") << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);  // no temporaries left
    std::string ignored;
    const auto missing = read_whole_file(dir.file("нет такого.hex"), ignored);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->empty());
}

#if !defined(_WIN32)
TEST(FileIo, ReplacingKeepsTheModeAndANewFileFollowsTheUmask) {
    testing::TempDir dir;
    const std::string kept = dir.write("kept.hex", "old");
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    ASSERT_FALSE(write_file_atomically(kept, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const mode_t old_mask = ::umask(027);
    const std::string fresh = dir.file("fresh.hex");
    const auto error = write_file_atomically(fresh, "x");
    ::umask(old_mask);
    ASSERT_FALSE(error);
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // 0666 less the umask, as for any new file
}
#endif

#if defined(__linux__)
// The umask belongs to the whole process: a write that set it even for a moment would
// hand another thread's new files the wrong mode. Another thread watches it here
// through /proc, which reads it without changing it.
TEST(FileIo, AtomicWriteNeverTouchesTheUmask) {
    auto read_umask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("Umask:", 0) == 0) return std::stoi(line.substr(6), nullptr, 8);
        return -1;
    };
    const mode_t old_mask = ::umask(022);
    if (read_umask() != 022) {
        ::umask(old_mask);
        GTEST_SKIP() << "this kernel does not show the umask in /proc";
    }
    testing::TempDir dir;
    std::atomic<bool> done{false};
    std::atomic<int> other_masks{0};
    std::thread watcher([&] {
        while (!done.load())
            if (read_umask() != 022) other_masks.fetch_add(1);
    });
    for (int i = 0; i < 300; ++i) ASSERT_FALSE(write_file_atomically(dir.file("f" + std::to_string(i % 3)), "data"));
    done.store(true);
    watcher.join();
    ::umask(old_mask);
    EXPECT_EQ(other_masks.load(), 0);
}
#endif

}  // namespace
}  // namespace zarvik
