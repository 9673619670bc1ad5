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
#include "platform/file_calls.h"
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

// Sees the durable files' calls in order, and cuts short the first write to a file whose
// name ends in `cut_suffix`, as a disk that fills during it.
class WatchedCalls final : public FileCallWatcher {
public:
    explicit WatchedCalls(std::string cut_suffix = {}) : cut_suffix_(std::move(cut_suffix)) { watch_file_calls(this); }
    ~WatchedCalls() override { watch_file_calls(nullptr); }

    bool before(FileCall call, const std::string& path, std::size_t& bytes) override {
        calls.push_back({call, std::filesystem::u8path(path).filename().string()});
        if (call == FileCall::Write && !cut_suffix_.empty() && path.ends_with(cut_suffix_)) {
            bytes /= 2;
            cut_suffix_.clear();
        }
        return true;
    }

    std::vector<std::pair<FileCall, std::string>> calls;  // the names are ASCII

private:
    std::string cut_suffix_;
};

TEST(DurableFile, ReplaceFlushesTheNewFileBeforeTheRenameAndTheFolderAfterIt) {
    // Out of this order, a power cut can leave the counter's old number, or an empty file,
    // under its name: a number given twice.
    TempDir dir;
    const std::string path = dir.file("counter");
    WatchedCalls watched;
    ASSERT_EQ(replace_file_durably(path, "7\n"), std::nullopt);
    const std::vector<std::pair<FileCall, std::string>> expected = {
        {FileCall::Write, "counter.tmp"},
        {FileCall::Sync, "counter.tmp"},
        {FileCall::Rename, "counter"},
#if !defined(_WIN32)
        // On Windows the rename itself writes through, folder included.
        {FileCall::SyncFolder, dir.path().filename().string()},
#endif
    };
    EXPECT_EQ(watched.calls, expected);
}

TEST(DurableFile, ALineCutShortByAFullDiskLeavesEveryLogAsItWas) {
    struct Case {
        const char* name;
        const char* cut;  // the file whose write the disk cuts short
    };
    const Case cases[] = {{"the first log", ".jsonl"}, {"the second log, after the first was written", ".csv"}};
    for (const Case& c : cases) {
        TempDir dir;
        const std::string json = dir.write("boards.jsonl", "{\"board\":1}\n");
        const std::string csv = dir.file("boards.csv");  // new: its header comes with its first line
        const LogLine first[] = {{json, "{\"board\":2}\n", {}}, {csv, "2\r\n", "board\r\n"}};
        {
            WatchedCalls full(c.cut);
            const auto error = append_lines_durably(first);
            ASSERT_TRUE(error.has_value()) << c.name;
            EXPECT_NE(error->find(c.cut), std::string::npos) << c.name << ": " << *error;
        }
        EXPECT_EQ(read_file(json), "{\"board\":1}\n") << c.name;
        EXPECT_EQ(read_file(csv), "") << c.name;
        // With room again, the next line begins on a line of its own, the header first.
        const LogLine next[] = {{json, "{\"board\":3}\n", {}}, {csv, "3\r\n", "board\r\n"}};
        ASSERT_EQ(append_lines_durably(next), std::nullopt) << c.name;
        EXPECT_EQ(read_file(json), "{\"board\":1}\n{\"board\":3}\n") << c.name;
        EXPECT_EQ(read_file(csv), "board\r\n3\r\n") << c.name;
    }
}

TEST(DurableFile, ALogIsCheckedAppendableBeforeAnythingIsWritten) {
    TempDir dir;
    const std::string fresh = dir.file("new.jsonl");
    EXPECT_EQ(check_appendable(fresh), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(testing::native(fresh)));
    EXPECT_EQ(read_file(fresh), "");
    std::filesystem::create_directory(dir.path() / "folder");
    for (const std::string& path : {dir.file("folder"), dir.file("no such folder/boards.jsonl")}) {
        const auto error = check_appendable(path);
        ASSERT_TRUE(error.has_value()) << path;
        EXPECT_FALSE(error->empty()) << path;
    }
}

TEST(DurableFile, TheHostHasANameAndTheTimeIsUtcWithMilliseconds) {
    EXPECT_FALSE(host_name().empty());
    EXPECT_EQ(host_name().find('\0'), std::string::npos);
    const std::string now = utc_timestamp();
    EXPECT_TRUE(std::regex_match(now, std::regex(R"(20\d\d-[01]\d-[0-3]\dT[0-2]\d:[0-5]\d:[0-6]\d\.\d{3}Z)"))) << now;
}

}  // namespace
}  // namespace zarvik
