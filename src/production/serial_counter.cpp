#include "production/serial_counter.h"

#include <cstdio>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/durable_file.h"
#include "text/language.h"

namespace zarvik {
namespace {

// A counter file holds twenty digits at most; anything much longer is not one, and only
// its start is shown.
constexpr std::size_t kReadLimit = 4096;
constexpr std::size_t kShownBytes = 40;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The file's first line as a person can be shown it: control bytes as '?', cut on a
// character's boundary.
std::string shown(std::string_view content) {
    std::string_view line = content.substr(0, content.find('\n'));
    std::string out;
    for (const char byte : line) {
        const auto c = static_cast<unsigned char>(byte);
        if (out.size() >= kShownBytes && (c & 0xC0) != 0x80) {
            out += "…";
            break;
        }
        out += c < 0x20 || c == 0x7F ? '?' : byte;
    }
    return out;
}

template <typename... Args>
std::string fill(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return format;
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::snprintf(text.data(), text.size(), format, args...);
    return std::string(text.data(), static_cast<std::size_t>(n));
}

CounterError error(CounterProblem problem, const std::string& path, std::string found) {
    CounterError e;
    e.problem = problem;
    e.path = path;
    e.found = std::move(found);
    return e;
}

}  // namespace

std::variant<std::uint64_t, CounterProblem> parse_counter(std::string_view content) {
    while (!content.empty() && is_blank(content.front())) content.remove_prefix(1);
    while (!content.empty() && is_blank(content.back())) content.remove_suffix(1);
    if (content.empty()) return CounterProblem::Empty;
    if (content.front() == '-' && content.size() > 1 && content[1] >= '0' && content[1] <= '9')
        return CounterProblem::Negative;
    std::uint64_t number = 0;
    bool too_large = false;
    for (const char c : content) {
        if (c < '0' || c > '9') return CounterProblem::NotANumber;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) too_large = true;
        else number = number * 10 + digit;
    }
    // The largest number has no next one to leave in the file.
    if (too_large || number == std::numeric_limits<std::uint64_t>::max()) return CounterProblem::TooLarge;
    return number;
}

std::string CounterError::text() const {
    const char* file = path.c_str();
    switch (problem) {
    case CounterProblem::None:
        return {};
    case CounterProblem::Unreadable:
        return fill(tr_text("cli", "не удалось прочитать файл счётчика %s: %s"), file, found.c_str());
    case CounterProblem::Missing:
        return fill(tr_text("cli", "файла счётчика %s нет; новый счётчик начинают с --serial-start N"), file);
    case CounterProblem::Empty:
        return fill(tr_text("cli", "файл счётчика %s пуст"), file);
    case CounterProblem::NotANumber:
        return fill(tr_text("cli", "в файле счётчика %s не число: «%s»"), file, found.c_str());
    case CounterProblem::Negative:
        return fill(tr_text("cli", "в файле счётчика %s отрицательное число: «%s»"), file, found.c_str());
    case CounterProblem::TooLarge:
        return fill(tr_text("cli", "в файле счётчика %s слишком большое число: «%s»"), file, found.c_str());
    case CounterProblem::DoesNotFit:
        return fill(tr_text("cli", "номер %llu из файла счётчика %s не помещается в формат --serial-format"),
                    static_cast<unsigned long long>(number), file);
    case CounterProblem::LockFailed:
        return fill(tr_text("cli", "не удалось заблокировать файл %s: %s"), file, found.c_str());
    case CounterProblem::WriteFailed:
        return fill(tr_text("cli", "не удалось записать файл счётчика %s: %s"), file, found.c_str());
    }
    return {};
}

SerialCounter::SerialCounter(std::string path, std::optional<std::uint64_t> start)
    : path_(std::move(path)), start_(start) {}

std::variant<std::uint64_t, CounterError> SerialCounter::read() const {
    const SmallFile file = read_small_file(path_, kReadLimit);
    if (file.state == SmallFile::State::Absent) {
        if (start_) return *start_;
        return error(CounterProblem::Missing, path_, {});
    }
    if (file.state == SmallFile::State::Failed) return error(CounterProblem::Unreadable, path_, file.error);
    const auto parsed = parse_counter(file.content);
    if (const auto* problem = std::get_if<CounterProblem>(&parsed)) return error(*problem, path_, shown(file.content));
    return std::get<std::uint64_t>(parsed);
}

std::variant<std::uint64_t, CounterError> SerialCounter::peek() const {
    auto next = read();
    // A start at the largest number could never be taken.
    if (const auto* number = std::get_if<std::uint64_t>(&next);
        number != nullptr && *number == std::numeric_limits<std::uint64_t>::max())
        return error(CounterProblem::TooLarge, path_, std::to_string(*number));
    return next;
}

std::variant<std::uint64_t, CounterError> SerialCounter::take(const std::function<bool(std::uint64_t)>& fits) {
    // The file lock alone keeps threads apart where locks belong to open files; where a
    // file system makes them the process's own (flock over NFS), this keeps them apart.
    static std::mutex in_process;
    const std::lock_guard<std::mutex> guard(in_process);
    const std::string lock_path = path_ + ".lock";
    std::string lock_error;
    const auto lock = FileLock::acquire(lock_path, lock_error);
    if (!lock) return error(CounterProblem::LockFailed, lock_path, lock_error);

    auto next = peek();
    const auto* number = std::get_if<std::uint64_t>(&next);
    if (number == nullptr) return next;
    if (fits && !fits(*number)) {
        CounterError e = error(CounterProblem::DoesNotFit, path_, {});
        e.number = *number;
        return e;
    }
    // On disk before the number is handed out: a crash from here on loses this number,
    // and no later run can give it again.
    if (auto failed = replace_file_durably(path_, std::to_string(*number + 1) + "\n"))
        return error(CounterProblem::WriteFailed, path_, *failed);
    return *number;
}

}  // namespace zarvik
