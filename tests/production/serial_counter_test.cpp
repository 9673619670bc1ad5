// The production line's counter file: damaged files refused with their cause and left as
// they were, numbers taken durably, and never one number twice, by threads or processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "child_process.h"
#include "production/serial_counter.h"
#include "support/temp_dir.h"
#include "text/language.h"

namespace zarvik {
namespace {

using testing::TempDir;
using testing::read_file;

const auto kAnyFits = [](std::uint64_t) { return true; };

CounterError error_of(const std::variant<std::uint64_t, CounterError>& result) {
    if (const auto* e = std::get_if<CounterError>(&result)) return *e;
    ADD_FAILURE() << "a number was given: " << std::get<std::uint64_t>(result);
    return {};
}

std::uint64_t number_of(const std::variant<std::uint64_t, CounterError>& result) {
    if (const auto* number = std::get_if<std::uint64_t>(&result)) return *number;
    ADD_FAILURE() << "refused: " << std::get<CounterError>(result).text();
    return 0;
}

bool exists(const std::string& path) { return std::filesystem::exists(testing::native(path)); }

TEST(SerialCounter, DamagedFilesAreRefusedWithTheirCauseAndLeftAsTheyWere) {
    struct Case { const char* name; std::string content; CounterProblem problem; std::string found; };
    const Case cases[] = {
        {"empty", "", CounterProblem::Empty, ""},
        {"only blanks", " \t\r\n\n", CounterProblem::Empty, " ??"},
        {"text", "serial\n", CounterProblem::NotANumber, "serial"},
        {"negative", "-5\n", CounterProblem::Negative, "-5"},
        {"a lone minus", "-\n", CounterProblem::NotANumber, "-"},
        {"plus sign", "+5\n", CounterProblem::NotANumber, "+5"},
        {"digits then letters", "12abc\n", CounterProblem::NotANumber, "12abc"},
        {"two numbers", "12 13\n", CounterProblem::NotANumber, "12 13"},
        {"two lines", "12\n13\n", CounterProblem::NotANumber, "12"},
        {"a fraction", "12.0\n", CounterProblem::NotANumber, "12.0"},
        {"a NUL byte", std::string("12\0", 3), CounterProblem::NotANumber, "12?"},
        {"beyond 64 bits", "99999999999999999999999\n", CounterProblem::TooLarge, "99999999999999999999999"},
        {"2^64", "18446744073709551616\n", CounterProblem::TooLarge, "18446744073709551616"},
        // Its next number would not fit in the file.
        {"the largest 64-bit number", "18446744073709551615\n", CounterProblem::TooLarge, "18446744073709551615"},
        {"long text, cut", std::string(100, 'x'), CounterProblem::NotANumber, std::string(40, 'x') + "…"},
        {"Cyrillic, cut between characters", std::string(39, 'a') + "Я" + "bbb\n", CounterProblem::NotANumber,
         std::string(39, 'a') + "Я…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.write("counter", c.content);
        SerialCounter counter(path, 1000);  // a start changes nothing for a file that is there
        for (const CounterError& e : {error_of(counter.peek()), error_of(counter.take(kAnyFits))}) {
            EXPECT_EQ(e.problem, c.problem);
            EXPECT_EQ(e.path, path);
            if (!c.found.empty()) {
                EXPECT_EQ(e.found, c.found);
            }
            EXPECT_LE(e.found.size(), 40u + 3u + 3u);  // a character begun, then the ellipsis
            EXPECT_NE(e.text().find(path), std::string::npos) << e.text();
        }
        EXPECT_EQ(read_file(path), c.content);
        EXPECT_FALSE(exists(path + ".tmp"));
    }
}

TEST(SerialCounter, GoodFilesAllowBlanksAroundTheNumber) {
    struct Case { std::string content; std::uint64_t number; };
    for (const Case& c : {Case{"0", 0}, Case{"7\n", 7}, Case{"  42 \r\n", 42}, Case{"\n\n0099\n\n", 99},
                          Case{"18446744073709551614\n", 18446744073709551614ull}}) {
        SCOPED_TRACE(c.content);
        TempDir dir;
        const std::string path = dir.write("counter", c.content);
        SerialCounter counter(path, std::nullopt);
        EXPECT_EQ(number_of(counter.peek()), c.number);
        EXPECT_EQ(number_of(counter.take(kAnyFits)), c.number);
        EXPECT_EQ(read_file(path), std::to_string(c.number + 1) + "\n");
    }
}

TEST(SerialCounter, AMissingFileIsRefusedUnlessAStartIsGiven) {
    TempDir dir;
    const std::string path = dir.file("counter");
    SerialCounter without(path, std::nullopt);
    for (const CounterError& e : {error_of(without.peek()), error_of(without.take(kAnyFits))}) {
        EXPECT_EQ(e.problem, CounterProblem::Missing);
        EXPECT_NE(e.text().find(path), std::string::npos);
    }
    EXPECT_FALSE(exists(path));

    SerialCounter with(path, 500);
    EXPECT_EQ(number_of(with.peek()), 500u);
    EXPECT_FALSE(exists(path)) << "peek makes nothing";
    EXPECT_EQ(number_of(with.take(kAnyFits)), 500u);
    EXPECT_EQ(read_file(path), "501\n");
    EXPECT_EQ(number_of(with.take(kAnyFits)), 501u) << "the file, once there, counts, not the start";
    EXPECT_EQ(number_of(without.peek()), 502u);
}

TEST(SerialCounter, AStartAtTheLargestNumberIsRefused) {
    TempDir dir;
    SerialCounter counter(dir.file("counter"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(error_of(counter.peek()).problem, CounterProblem::TooLarge);
    EXPECT_EQ(error_of(counter.take(kAnyFits)).problem, CounterProblem::TooLarge);
    EXPECT_FALSE(exists(dir.file("counter")));
}

TEST(SerialCounter, ANumberThatDoesNotFitIsRefusedAndNotUsedUp) {
    TempDir dir;
    const std::string path = dir.write("counter", "65536\n");
    SerialCounter counter(path, std::nullopt);
    std::vector<std::uint64_t> asked;
    const CounterError e = error_of(counter.take([&](std::uint64_t n) {
        asked.push_back(n);
        return n <= 0xFFFF;
    }));
    EXPECT_EQ(e.problem, CounterProblem::DoesNotFit);
    EXPECT_EQ(e.number, 65536u);
    EXPECT_NE(e.text().find("65536"), std::string::npos) << e.text();
    EXPECT_EQ(asked, std::vector<std::uint64_t>{65536});
    EXPECT_EQ(read_file(path), "65536\n");
    EXPECT_FALSE(exists(path + ".tmp"));

    // Nor is a missing file made for a start that does not fit.
    SerialCounter fresh(dir.file("fresh"), 70000);
    EXPECT_EQ(error_of(fresh.take([](std::uint64_t n) { return n <= 0xFFFF; })).problem, CounterProblem::DoesNotFit);
    EXPECT_FALSE(exists(dir.file("fresh")));
}

TEST(SerialCounter, TakingAdvancesTheFileAndKeepsItsLockFile) {
    TempDir dir;
    const std::string path = dir.write("counter", "41\n");
    SerialCounter counter(path, std::nullopt);
    EXPECT_EQ(number_of(counter.take(kAnyFits)), 41u);
    EXPECT_EQ(read_file(path), "42\n");
    EXPECT_TRUE(exists(path + ".lock"));
    const std::string lock_before = read_file(path + ".lock");
    EXPECT_EQ(number_of(counter.take(kAnyFits)), 42u);
    EXPECT_EQ(read_file(path), "43\n");
    EXPECT_FALSE(exists(path + ".tmp"));
    // The lock file is the same file throughout, untouched: never renamed or written.
    EXPECT_TRUE(exists(path + ".lock"));
    EXPECT_EQ(read_file(path + ".lock"), lock_before);
    EXPECT_EQ(number_of(counter.peek()), 43u);
}

TEST(SerialCounter, FailuresOfTheSystemNameTheFileAndLeaveTheCounterAsItWas) {
    TempDir dir;
    // A folder where the file is: it cannot be read.
    std::filesystem::create_directory(dir.path() / "folder");
    const CounterError unreadable = error_of(SerialCounter(dir.file("folder"), 5).take(kAnyFits));
    EXPECT_EQ(unreadable.problem, CounterProblem::Unreadable);
    EXPECT_FALSE(unreadable.found.empty());

    // A folder where the lock file would be made.
    std::filesystem::create_directory(dir.path() / "locked.lock");
    const std::string locked = dir.write("locked", "5\n");
    const CounterError lock = error_of(SerialCounter(locked, std::nullopt).take(kAnyFits));
    EXPECT_EQ(lock.problem, CounterProblem::LockFailed);
    EXPECT_EQ(lock.path, locked + ".lock");
    EXPECT_FALSE(lock.found.empty());
    EXPECT_NE(lock.text().find(lock.path), std::string::npos);
    EXPECT_EQ(read_file(locked), "5\n");

    // A folder where the new content would be written first.
    std::filesystem::create_directory(dir.path() / "stuck.tmp");
    const std::string stuck = dir.write("stuck", "5\n");
    const CounterError write = error_of(SerialCounter(stuck, std::nullopt).take(kAnyFits));
    EXPECT_EQ(write.problem, CounterProblem::WriteFailed);
    EXPECT_FALSE(write.found.empty());
    EXPECT_NE(write.text().find(stuck), std::string::npos);
    EXPECT_EQ(read_file(stuck), "5\n");
}

TEST(SerialCounter, EveryCauseIsNamedInBothLanguages) {
    const Language before = current_language();
    for (const CounterProblem problem :
         {CounterProblem::Unreadable, CounterProblem::Missing, CounterProblem::Empty, CounterProblem::NotANumber,
          CounterProblem::Negative, CounterProblem::TooLarge, CounterProblem::DoesNotFit, CounterProblem::LockFailed,
          CounterProblem::WriteFailed}) {
        const CounterError e{problem, "/дом/счётчик", "abc", 70000};
        set_language(Language::Russian);
        const std::string russian = e.text();
        set_language(Language::English);
        const std::string english = e.text();
        SCOPED_TRACE(russian);
        EXPECT_NE(russian, english);
        for (const std::string& text : {russian, english}) {
            if (problem == CounterProblem::DoesNotFit) {
                EXPECT_NE(text.find("70000"), std::string::npos) << text;
            } else {
                EXPECT_NE(text.find("/дом/счётчик"), std::string::npos) << text;
            }
        }
    }
    set_language(before);
    EXPECT_EQ(CounterError{}.text(), "");
}

// The numbers several takers got: all different, together start..start+total-1.
void expect_distinct_and_contiguous(std::vector<std::uint64_t> numbers, std::uint64_t start, std::size_t total) {
    ASSERT_EQ(numbers.size(), total);
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], start + i) << "at " << i;
}

TEST(SerialCounter, ThreadsTakingAtOnceNeverGetOneNumberTwice) {
    TempDir dir;
    const std::string path = dir.write("counter", "1000\n");
    constexpr int kThreads = 4;
    constexpr int kEach = 40;
    std::mutex mutex;
    std::vector<std::uint64_t> numbers;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            // Each thread a counter of its own, as separate sessions of one program would have.
            SerialCounter counter(path, std::nullopt);
            for (int i = 0; i < kEach; ++i) {
                const auto taken = counter.take(kAnyFits);
                const std::lock_guard<std::mutex> guard(mutex);
                numbers.push_back(number_of(taken));
            }
        });
    }
    for (auto& t : threads) t.join();
    expect_distinct_and_contiguous(numbers, 1000, kThreads * kEach);
    EXPECT_EQ(read_file(path), std::to_string(1000 + kThreads * kEach) + "\n");
}

TEST(SerialCounter, ProcessesTakingAtOnceNeverGetOneNumberTwice) {
    TempDir dir;
    const std::string path = dir.write("счётчик", "7\n");  // a Cyrillic name passed to each process
    constexpr int kProcesses = 3;
    constexpr int kEach = 60;
    std::vector<std::unique_ptr<testing::ChildProcess>> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(std::make_unique<testing::ChildProcess>(
            std::vector<std::string>{"take", path, std::to_string(kEach), dir.file("out" + std::to_string(p))}));
    }
    for (auto& child : children) EXPECT_EQ(child->wait(), 0);
    std::vector<std::uint64_t> numbers;
    for (int p = 0; p < kProcesses; ++p) {
        std::istringstream in(read_file(dir.file("out" + std::to_string(p))));
        std::vector<std::uint64_t> own;
        for (std::uint64_t n; in >> n;) own.push_back(n);
        EXPECT_TRUE(std::is_sorted(own.begin(), own.end())) << "a process's numbers rise";
        numbers.insert(numbers.end(), own.begin(), own.end());
    }
    expect_distinct_and_contiguous(numbers, 7, kProcesses * kEach);
    EXPECT_EQ(read_file(path), std::to_string(7 + kProcesses * kEach) + "\n");
}

}  // namespace
}  // namespace zarvik
