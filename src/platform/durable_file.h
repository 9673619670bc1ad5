#pragma once

// Files that outlive a crash or a power cut, shared by several processes: what a
// production line's counter and log need of the system. Paths are UTF-8.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zarvik {

// An exclusive lock on a file of its own (created when absent, never renamed or removed),
// held until destroyed; blocks until it is free. Works between processes and between threads
// of one process (each lock opens its own handle; POSIX: flock on a fresh open()).
class FileLock {
public:
    // error text empty on success
    static std::unique_ptr<FileLock> acquire(const std::string& path, std::string& error);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    // A file descriptor on POSIX, a HANDLE on Windows.
    explicit FileLock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// Writes `content` to `path + ".tmp"`, flushes it to disk (fsync), renames it over `path`,
// then flushes the folder (POSIX fsync on the directory; Windows: MOVEFILE_WRITE_THROUGH).
// Returns the system's error text on failure, nothing on success. Two writers of one path
// share the .tmp file: they must hold a lock between them.
std::optional<std::string> replace_file_durably(const std::string& path, std::string_view content);

// A line for one of several logs that are kept together (a board's JSON and CSV lines).
struct LogLine {
    std::string path;
    std::string text;    // ends with '\n'
    std::string header;  // goes before `text` when the file is empty (a CSV's header), or ""
};

// Appends each line to its file so that every file keeps whole lines only, and all the
// files get their line or none does: each file is opened for appending (created when
// absent, its folder flushed then) and locked exclusively, in the order given, which
// every writer keeps; under the locks each file's length is noted, each line goes out
// with ONE write and is flushed to disk (fsync / FlushFileBuffers). When a line cannot
// be written whole (a full disk), every file is cut back to its noted length. So several
// processes can share the files, and neither a crash nor a full disk leaves half a line
// or a line that the other file lacks. Returns "PATH: the system's error text" when the
// lines were not kept.
std::optional<std::string> append_lines_durably(std::span<const LogLine> lines);

// One line to one file, as above.
inline std::optional<std::string> append_line_durably(const std::string& path, std::string_view line) {
    const LogLine one{path, std::string(line), {}};
    return append_lines_durably(std::span(&one, 1));
}

// Whether lines can be appended to `path`: opened for appending (created when absent,
// its folder flushed then) and closed, nothing written. The system's error text if not.
std::optional<std::string> check_appendable(const std::string& path);

// A small file read whole, opened so that it may be renamed over meanwhile (Windows shares
// it for deletion too): the reader sees the old content or the new one.
struct SmallFile {
    enum class State { Read, Absent, Failed };
    State state = State::Failed;
    std::string content;  // at most `limit` bytes of it
    std::string error;    // the system's error text unless Read
};
SmallFile read_small_file(const std::string& path, std::size_t limit);

// The machine's name (gethostname / GetComputerNameExW), "" when unknown.
std::string host_name();

// Now as ISO 8601 UTC with milliseconds: "2026-12-11T05:37:30.123Z".
std::string utc_timestamp();

}  // namespace zarvik
