#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

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

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool sync_retrying(int fd) {
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
    const int dir = open_retrying(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir < 0) return system_text(errno);
    const bool synced = sync_retrying(dir);
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
    if (!write_all(fd, content) || !sync_retrying(fd)) {
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
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return system_text(code);
    }
    return sync_folder(path);
}

std::optional<std::string> append_line_durably(const std::string& path, std::string_view line) {
    // A file made here is durable only once its folder is flushed too.
    bool created = false;
    int fd = open_retrying(path.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 && errno == ENOENT) {
        fd = open_retrying(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
        created = fd >= 0;
    }
    if (fd < 0) return system_text(errno);
    ssize_t n;
    do n = ::write(fd, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<std::size_t>(n) != line.size() || !sync_retrying(fd)) {
        // A short write (a full disk) leaves part of the line: nothing more is added to it,
        // and the caller hears of it.
        const int code = n >= 0 && static_cast<std::size_t>(n) != line.size() ? ENOSPC : errno;
        ::close(fd);
        return system_text(code);
    }
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
