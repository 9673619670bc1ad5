#pragma once

// The next serial number of a production line, kept in a small text file that several
// processes share: no number is given twice, even across a crash or a power cut.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zarvik {

enum class CounterProblem { None, Unreadable, Missing, Empty, NotANumber, Negative, TooLarge, DoesNotFit, LockFailed, WriteFailed };

struct CounterError {
    CounterProblem problem = CounterProblem::None;
    std::string path;          // the counter file (or its .lock)
    std::string found;         // what the file held (first line, cut to ~40 chars), or the system's error text
    std::uint64_t number = 0;  // DoesNotFit: the number that does not fit
    std::string text() const;  // the cause named for a person, in the current language
};

// The next serial number, kept in a small text file: decimal digits, then a newline.
class SerialCounter {
public:
    // `start`: the file is created holding it when absent (--serial-start); without it a
    // missing file is an error (Missing).
    SerialCounter(std::string path, std::optional<std::uint64_t> start);

    // Reads the next number without taking it (checks before anything is sent).
    std::variant<std::uint64_t, CounterError> peek() const;

    // Takes the next number: under an exclusive lock on `path + ".lock"`, reads the file,
    // refuses it when damaged, refuses a number for which `fits(number)` is false (DoesNotFit,
    // nothing advanced), writes number+1 durably (replace_file_durably) and only then returns
    // the number. So a crash after taking leaves a gap, never a duplicate.
    std::variant<std::uint64_t, CounterError> take(const std::function<bool(std::uint64_t)>& fits);

    const std::string& path() const { return path_; }

private:
    std::variant<std::uint64_t, CounterError> read() const;

    std::string path_;
    std::optional<std::uint64_t> start_;
};

// What a counter file's content says: the number, or why it is refused (Empty,
// NotANumber, Negative, TooLarge; the largest uint64 is TooLarge, as it has no successor).
// Surrounding blanks and line ends are allowed.
std::variant<std::uint64_t, CounterProblem> parse_counter(std::string_view content);

}  // namespace zarvik
