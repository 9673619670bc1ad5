#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "platform/file_calls.h"

namespace zarvik {
namespace {

std::string system_text(int code) { return std::system_category().message(code); }

// Every descriptor here is closed on exec, so a program started meanwhile holds no lock
// and no file of ours.
int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// One write(), as a watching test lets it go: refused as on a full disk, or cut short.
ssize_t write_once(int fd, const std::string& path, std::string_view data) {
    std::size_t bytes = data.size();
    if (!file_call_allowed(FileCall::Write, path, bytes)) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t n;
    do n = ::write(fd, data.data(), std::min(bytes, data.size()));
    while (n < 0 && errno == EINTR);
    return n;
}

// The whole of `data`; a write that takes nothing, as on a full disk, is ENOSPC.
bool write_all(int fd, const std::string& path, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write_once(fd, path, data);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool sync_retrying(int fd, const std::string& path) {
    if (!file_call_allowed(FileCall::Sync, path)) {
        errno = EIO;
        return false;
    }
    int r;
    do r = ::fsync(fd);
    while (r < 0 && errno == EINTR);
    return r == 0;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A rename or a new name lasts only once the folder that holds it is on disk too.
std::optional<std::string> sync_folder(const std::string& path) {
    const std::string folder = folder_of(path);
    if (!file_call_allowed(FileCall::SyncFolder, folder)) return system_text(EIO);
    const int dir = open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir < 0) return system_text(errno);
    int r;
    do r = ::fsync(dir);
    while (r < 0 && errno == EINTR);
    const bool synced = r == 0;
    const int code = errno;
    ::close(dir);
    // Some file systems cannot flush a folder and say so; what they hold is then as
    // durable as they make it.
    if (!synced && code != EINVAL && code != ENOTSUP) return system_text(code);
    return std::nullopt;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, std::string& error) {
    error.clear();
    const int fd = open_retrying(path.c_str(), O_RDWR | O_CREAT, 0666);
    if (fd < 0) {
        error = system_text(errno);
        return nullptr;
    }
    int r;
    do r = ::flock(fd, LOCK_EX);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        error = system_text(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

// Closing the descriptor releases the lock.
FileLock::~FileLock() { ::close(static_cast<int>(handle_)); }

std::optional<std::string> replace_file_durably(const std::string& path, std::string_view content) {
    const std::string temporary = path + ".tmp";
    const int fd = open_retrying(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return system_text(errno);
    if (!write_all(fd, temporary, content) || !sync_retrying(fd, temporary)) {
        const int code = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return system_text(code);
    }
    if (::close(fd) != 0 && errno != EINTR) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return system_text(code);
    }
    const bool allowed = file_call_allowed(FileCall::Rename, path);
    if (!allowed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = allowed ? errno : EIO;
        ::unlink(temporary.c_str());
        return system_text(code);
    }
    // Until the folder is on disk, a power cut can bring back the old content: a
    // counter that gives a number again.
    return sync_folder(path);
}

namespace {

// A log opened for appending and locked, with its length when the lock was taken.
struct LockedLog {
    const LogLine* line = nullptr;
    int fd = -1;
    off_t length = 0;
    bool created = false;
};

// Opens `path` for appending, created when absent; -1 with errno when it cannot.
int open_for_appending(const std::string& path, bool& created) {
    created = false;
    int fd = open_retrying(path.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 && errno == ENOENT) {
        fd = open_retrying(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
        created = fd >= 0;
    }
    return fd;
}

std::string failure(const std::string& path, int code) { return path + ": " + system_text(code); }

// Writes `log`'s line (after its header when the file is empty) and flushes it.
std::optional<std::string> write_line(const LockedLog& log) {
    const std::string& path = log.line->path;
    const std::string text = log.length == 0 ? log.line->header + log.line->text : log.line->text;
    const ssize_t n = write_once(log.fd, path, text);
    if (n < 0) return failure(path, errno);
    // A short write is a full disk: what it left is cut away, never completed.
    if (static_cast<std::size_t>(n) != text.size()) return failure(path, ENOSPC);
    if (!sync_retrying(log.fd, path)) return failure(path, errno);
    return std::nullopt;
}

std::optional<std::string> cut_back(const LockedLog& log) {
    const std::string& path = log.line->path;
    if (!file_call_allowed(FileCall::Truncate, path)) return failure(path, EIO);
    int r;
    do r = ::ftruncate(log.fd, log.length);
    while (r < 0 && errno == EINTR);
    if (r != 0) return failure(path, errno);
    if (!sync_retrying(log.fd, path)) return failure(path, errno);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> append_lines_durably(std::span<const LogLine> lines) {
    std::vector<LockedLog> logs;
    // Closing a descriptor releases its lock.
    auto close_all = [&logs] {
        for (const LockedLog& log : logs) ::close(log.fd);
    };
    for (const LogLine& line : lines) {
        LockedLog log;
        log.line = &line;
        log.fd = open_for_appending(line.path, log.created);
        if (log.fd < 0) {
            const int code = errno;
            close_all();
            return failure(line.path, code);
        }
        logs.push_back(log);
        int r;
        do r = ::flock(log.fd, LOCK_EX);
        while (r < 0 && errno == EINTR);
        struct stat st {};
        if (r != 0 || ::fstat(log.fd, &st) != 0) {
            const int code = errno;
            close_all();
            return failure(line.path, code);
        }
        logs.back().length = st.st_size;
    }
    std::optional<std::string> error;
    for (const LockedLog& log : logs) {
        if ((error = write_line(log))) break;
    }
    if (error) {
        for (const LockedLog& log : logs) {
            if (auto not_cut = cut_back(log)) *error += "; " + *not_cut;
        }
    }
    close_all();
    if (error) return error;
    // A file made here lasts only once its folder is flushed too.
    for (const LockedLog& log : logs) {
        if (!log.created) continue;
        if (auto not_synced = sync_folder(log.line->path)) return log.line->path + ": " + *not_synced;
    }
    return std::nullopt;
}

std::optional<std::string> check_appendable(const std::string& path) {
    bool created = false;
    const int fd = open_for_appending(path, created);
    if (fd < 0) return system_text(errno);
    ::close(fd);
    if (created) return sync_folder(path);
    return std::nullopt;
}

SmallFile read_small_file(const std::string& path, std::size_t limit) {
    SmallFile file;
    const int fd = open_retrying(path.c_str(), O_RDONLY);
    if (fd < 0) {
        file.state = errno == ENOENT ? SmallFile::State::Absent : SmallFile::State::Failed;
        file.error = system_text(errno);
        return file;
    }
    char buffer[4096];
    while (file.content.size() < limit) {
        const std::size_t want = std::min(sizeof buffer, limit - file.content.size());
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            file.error = system_text(errno);
            file.content.clear();
            ::close(fd);
            return file;
        }
        if (n == 0) break;
        file.content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    file.state = SmallFile::State::Read;
    return file;
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace zarvik
