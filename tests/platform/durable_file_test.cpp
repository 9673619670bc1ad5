// Files shared between processes and threads: a lock that excludes, a replace that leaves
// the old content or the new, an append that never mixes two writers' lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/durable_file.h"
#include "production/child_process.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::TempDir;
using testing::read_file;

TEST(DurableFile, ReplaceWritesTheNewContentAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("счётчик");  // a Cyrillic name reaches the system whole
    for (const std::string& content : std::vector<std::string>{"1\n", "", std::string(10000, 'z'), "2\n"}) {
        EXPECT_EQ(replace_file_durably(path, content), std::nullopt);
        EXPECT_EQ(read_file(path), content);
        EXPECT_FALSE(std::filesystem::exists(testing::native(path + ".tmp")));
    }
    const auto failed = replace_file_durably(dir.file("no such folder/file"), "1\n");
    ASSERT_TRUE(failed.has_value());
    EXPECT_FALSE(failed->empty());
}

TEST(DurableFile, ReadSmallFileTellsAbsentFromUnreadableAndKeepsToItsLimit) {
    TempDir dir;
    const std::string path = dir.write("file", "0123456789");
    SmallFile whole = read_small_file(path, 100);
    EXPECT_EQ(whole.state, SmallFile::State::Read);
    EXPECT_EQ(whole.content, "0123456789");
    EXPECT_EQ(read_small_file(path, 4).content, "0123");
    const SmallFile absent = read_small_file(dir.file("none"), 100);
    EXPECT_EQ(absent.state, SmallFile::State::Absent);
    std::filesystem::create_directory(dir.path() / "folder");
    const SmallFile folder = read_small_file(dir.file("folder"), 100);
    EXPECT_EQ(folder.state, SmallFile::State::Failed);
    EXPECT_FALSE(folder.error.empty());
}

TEST(DurableFile, ALockExcludesOtherThreadsOfTheSameProcess) {
    // Each thread reads a number from a file and writes it back raised by one, under the
    // lock: without exclusion some raises are lost.
    TempDir dir;
    const std::string lock_path = dir.file("counter.lock");
    const std::string path = dir.write("counter", "0");
    constexpr int kThreads = 4;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                std::string error;
                const auto lock = FileLock::acquire(lock_path, error);
                ASSERT_TRUE(lock) << error;
                EXPECT_TRUE(error.empty());
                const int value = std::atoi(read_file(path).c_str());  // 0 for a half-written file: a lost raise
                std::ofstream(testing::native(path), std::ios::binary | std::ios::trunc) << (value + 1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(read_file(path), std::to_string(kThreads * kEach));
    EXPECT_TRUE(std::filesystem::exists(testing::native(lock_path)));

    std::string error;
    EXPECT_FALSE(FileLock::acquire(dir.file("no such folder/x.lock"), error));
    EXPECT_FALSE(error.empty());
}

TEST(DurableFile, ProcessesAppendingAtOnceLeaveEveryLineWhole) {
    TempDir dir;
    const std::string log = dir.file("журнал.jsonl");
    constexpr int kEach = 40;
    const std::vector<std::string> tags = {"A", "B", "C"};
    {
        std::vector<std::unique_ptr<testing::ChildProcess>> children;
        for (const std::string& tag : tags)
            children.push_back(std::make_unique<testing::ChildProcess>(
                std::vector<std::string>{"append", log, std::to_string(kEach), tag}));
        for (auto& child : children) EXPECT_EQ(child->wait(), 0);
    }
    std::istringstream in(read_file(log));
    std::map<std::string, int> next;  // each writer's lines arrive in its order
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        std::istringstream fields(line);
        std::string tag, filler;
        int index = -1;
        fields >> tag >> index >> filler;
        ASSERT_EQ(filler, std::string(6000, tag.empty() ? '?' : tag[0])) << "line " << lines << " is not whole";
        EXPECT_EQ(index, next[tag]++) << tag;
    }
    EXPECT_EQ(lines, kEach * static_cast<int>(tags.size()));
    for (const std::string& tag : tags) EXPECT_EQ(next[tag], kEach) << tag;
    const std::string text = read_file(log);
    EXPECT_EQ(text.back(), '\n');
}

TEST(DurableFile, TheHostHasANameAndTheTimeIsUtcWithMilliseconds) {
    EXPECT_FALSE(host_name().empty());
    EXPECT_EQ(host_name().find('\0'), std::string::npos);
    const std::string now = utc_timestamp();
    EXPECT_TRUE(std::regex_match(now, std::regex(R"(20\d\d-[01]\d-[0-3]\dT[0-2]\d:[0-5]\d:[0-6]\d\.\d{3}Z)"))) << now;
}

}  // namespace
}  // namespace zarvik
