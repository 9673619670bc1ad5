#include "memory/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include "platform/text_win.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zarvik {
namespace {

// Beside the target, so the rename stays within one file system; unique within this
// process by the counter and between processes by the process id.
std::string temporary_name(const std::string& path) {
    static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
    const unsigned long pid = ::GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    return path + ".zarvik-" + std::to_string(pid) + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
}

#if defined(_WIN32)

std::optional<std::string> replace_file(const std::string& path, std::string_view content) {
    const std::wstring target = win::widen(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring tmp = win::widen(temporary_name(path));
        HANDLE h = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return win::system_message(::GetLastError());
        }
        auto fail = [&](DWORD code) -> std::optional<std::string> {
            ::CloseHandle(h);
            ::DeleteFileW(tmp.c_str());
            return win::system_message(code);
        };
        std::size_t done = 0;
        while (done < content.size()) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
            if (::WriteFile(h, content.data() + done, want, &n, nullptr) == FALSE) return fail(::GetLastError());
            done += n;
        }
        if (::FlushFileBuffers(h) == FALSE) return fail(::GetLastError());
        ::CloseHandle(h);
        if (::MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
            const DWORD code = ::GetLastError();
            ::DeleteFileW(tmp.c_str());
            return win::system_message(code);
        }
        return std::nullopt;
    }
    return win::system_message(ERROR_FILE_EXISTS);
}

std::FILE* open_for_reading(const std::string& path) { return ::_wfopen(win::widen(path).c_str(), L"rb"); }

#else

std::optional<std::string> replace_file(const std::string& path, std::string_view content) {
    std::string tmp;
    int fd = -1;
    // 0666 lets the process's umask decide, as for any new file; the umask is only
    // read by the kernel, never changed, so no other thread sees it move.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = temporary_name(path);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return std::strerror(errno);
    }
    if (fd < 0) return std::strerror(EEXIST);
    auto fail = [&](int code) -> std::optional<std::string> {
        ::close(fd);
        ::unlink(tmp.c_str());
        return std::strerror(code);
    };
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && ::fchmod(fd, existing.st_mode & 07777) != 0) return fail(errno);
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
        return std::strerror(code);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(tmp.c_str());
        return std::strerror(code);
    }
    return std::nullopt;
}

std::FILE* open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

#endif

}  // namespace

std::optional<std::string> read_whole_file(const std::string& path, std::string& out) {
    errno = 0;
    std::FILE* f = open_for_reading(path);
    if (f == nullptr) return std::strerror(errno != 0 ? errno : ENOENT);
    out.clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    const bool failed = std::ferror(f) != 0;
    const int code = errno;
    std::fclose(f);
    if (failed) return std::strerror(code != 0 ? code : EIO);
    return std::nullopt;
}

std::optional<std::string> write_file_atomically(const std::string& path, std::string_view content) {
    return replace_file(path, content);
}

}  // namespace zarvik
