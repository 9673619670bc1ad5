#include "memory/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zarvik {
namespace {

std::string system_error(int code) { return std::strerror(code); }

}  // namespace

std::optional<std::string> read_whole_file(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return system_error(errno);
    out.clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            ::close(fd);
            return system_error(code);
        }
        if (n == 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return std::nullopt;
}

std::optional<std::string> write_file_atomically(const std::string& path, std::string_view content) {
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return system_error(errno);
    const std::string tmp(name.data());
    auto fail = [&](int code) -> std::optional<std::string> {
        ::close(fd);
        ::unlink(tmp.c_str());
        return system_error(code);
    };
    // mkstemp makes the file private; give it the mode an ordinary file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
    if (::fchmod(fd, mode) != 0) return fail(errno);
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(tmp.c_str());
        return system_error(code);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(tmp.c_str());
        return system_error(code);
    }
    return std::nullopt;
}

}  // namespace zarvik
