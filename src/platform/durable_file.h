#pragma once

// Files that outlive a crash or a power cut, shared by several processes: what a
// production line's counter and log need of the system. Paths are UTF-8.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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

// Appends `line` (which ends with '\n') with ONE write on a file opened for appending
// (O_APPEND / FILE_APPEND_DATA), then flushes it to disk, so that several processes can share
// one file and a crash leaves no half line. Creates the file when absent.
std::optional<std::string> append_line_durably(const std::string& path, std::string_view line);

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
