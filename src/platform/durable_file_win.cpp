#include "platform/durable_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/file_calls.h"

#include "platform/text_win.h"

namespace zarvik {
namespace {

std::string last_error_text() { return win::system_message(::GetLastError()); }

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// One WriteFile, as a watching test lets it go: refused as on a full disk, or cut short.
bool write_once(HANDLE file, const std::string& path, std::string_view data, DWORD& written) {
    written = 0;
    std::size_t bytes = std::min<std::size_t>(data.size(), 1u << 30);
    if (!file_call_allowed(FileCall::Write, path, bytes)) {
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return ::WriteFile(file, data.data(), static_cast<DWORD>(std::min(bytes, data.size())), &written, nullptr) != FALSE;
}

bool write_all(HANDLE file, const std::string& path, std::string_view data) {
    while (!data.empty()) {
        DWORD written = 0;
        if (!write_once(file, path, data, written)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        data.remove_prefix(written);
    }
    return true;
}

bool flush(HANDLE file, const std::string& path) {
    if (!file_call_allowed(FileCall::Sync, path)) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return ::FlushFileBuffers(file) != FALSE;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, std::string& error) {
    error.clear();
    // Shared for everything, deletion included, so that the lock file never stands in the
    // way of anyone; the lock is on its bytes, not on its opening. Not inherited by programs
    // started meanwhile.
    const HANDLE file = ::CreateFileW(win::widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = last_error_text();
        return nullptr;
    }
    // The whole range, beyond any end the file may have: locks on two handles exclude each
    // other even in one process.
    OVERLAPPED at{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at)) {
        error = last_error_text();
        ::CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(reinterpret_cast<std::intptr_t>(file)));
}

FileLock::~FileLock() {
    OVERLAPPED at{};
    ::UnlockFileEx(as_handle(handle_), 0, MAXDWORD, MAXDWORD, &at);
    ::CloseHandle(as_handle(handle_));
}

std::optional<std::string> replace_file_durably(const std::string& path, std::string_view content) {
    const std::wstring target = win::widen(path);
    const std::string temporary_path = path + ".tmp";
    const std::wstring temporary = win::widen(temporary_path);
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return last_error_text();
    if (!write_all(file, temporary_path, content) || !flush(file, temporary_path)) {
        const std::string error = last_error_text();
        ::CloseHandle(file);
        ::DeleteFileW(temporary.c_str());
        return error;
    }
    ::CloseHandle(file);
    // The write-through rename is also the folder's flush: the new name is on disk when
    // it returns.
    if (!file_call_allowed(FileCall::Rename, path)) {
        ::DeleteFileW(temporary.c_str());
        return win::system_message(ERROR_WRITE_FAULT);
    }
    // A reader of the old file without FILE_SHARE_DELETE (another program, a virus scanner)
    // holds the rename off for a moment: a few more tries before giving up.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return std::nullopt;
        const DWORD code = ::GetLastError();
        if (attempt >= 20 || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) {
            ::DeleteFileW(temporary.c_str());
            return win::system_message(code);
        }
        ::Sleep(25);
    }
}

namespace {

// A log opened for appending and locked, with its length when the lock was taken.
struct LockedLog {
    const LogLine* line = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    LARGE_INTEGER length{};
    bool locked = false;
};

// The lock covers one byte far beyond any log's end, so readers of the lines never meet
// it; every writer takes it, which makes a line one piece also where appends are not
// atomic (a network share, Wine).
OVERLAPPED lock_place() {
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

// Writing data as well as appending it: a line that could not be written whole is cut
// away again. Created when absent.
HANDLE open_for_appending(const std::string& path) {
    return ::CreateFileW(win::widen(path).c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string failure(const std::string& path, DWORD code) { return path + ": " + win::system_message(code); }

// Writes `log`'s line (after its header when the file is empty) at its end and flushes it.
std::optional<std::string> write_line(const LockedLog& log) {
    const std::string& path = log.line->path;
    const std::string text = log.length.QuadPart == 0 ? log.line->header + log.line->text : log.line->text;
    if (!::SetFilePointerEx(log.file, log.length, nullptr, FILE_BEGIN)) return failure(path, ::GetLastError());
    DWORD written = 0;
    if (!write_once(log.file, path, text, written)) return failure(path, ::GetLastError());
    // A short write is a full disk: what it left is cut away, never completed.
    if (written != text.size()) return failure(path, ERROR_DISK_FULL);
    if (!flush(log.file, path)) return failure(path, ::GetLastError());
    return std::nullopt;
}

std::optional<std::string> cut_back(const LockedLog& log) {
    const std::string& path = log.line->path;
    if (!file_call_allowed(FileCall::Truncate, path)) return failure(path, ERROR_WRITE_FAULT);
    if (!::SetFilePointerEx(log.file, log.length, nullptr, FILE_BEGIN) || !::SetEndOfFile(log.file) ||
        !flush(log.file, path)) {
        return failure(path, ::GetLastError());
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> append_lines_durably(std::span<const LogLine> lines) {
    std::vector<LockedLog> logs;
    auto close_all = [&logs] {
        for (LockedLog& log : logs) {
            if (log.locked) {
                OVERLAPPED at = lock_place();
                ::UnlockFileEx(log.file, 0, 1, 0, &at);
            }
            ::CloseHandle(log.file);
        }
    };
    for (const LogLine& line : lines) {
        LockedLog log;
        log.line = &line;
        log.file = open_for_appending(line.path);
        if (log.file == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            close_all();
            return failure(line.path, code);
        }
        logs.push_back(log);
        OVERLAPPED at = lock_place();
        if (!::LockFileEx(log.file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
            const DWORD code = ::GetLastError();
            close_all();
            return failure(line.path, code);
        }
        logs.back().locked = true;
        if (!::GetFileSizeEx(log.file, &logs.back().length)) {
            const DWORD code = ::GetLastError();
            close_all();
            return failure(line.path, code);
        }
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
    return error;
}

std::optional<std::string> check_appendable(const std::string& path) {
    const HANDLE file = open_for_appending(path);
    if (file == INVALID_HANDLE_VALUE) return last_error_text();
    ::CloseHandle(file);
    return std::nullopt;
}

SmallFile read_small_file(const std::string& path, std::size_t limit) {
    SmallFile result;
    const HANDLE file = ::CreateFileW(win::widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        result.state = code == ERROR_FILE_NOT_FOUND ? SmallFile::State::Absent : SmallFile::State::Failed;
        result.error = win::system_message(code);
        return result;
    }
    char buffer[4096];
    while (result.content.size() < limit) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, limit - result.content.size()));
        DWORD got = 0;
        if (!::ReadFile(file, buffer, want, &got, nullptr)) {
            result.error = last_error_text();
            result.content.clear();
            ::CloseHandle(file);
            return result;
        }
        if (got == 0) break;
        result.content.append(buffer, got);
    }
    ::CloseHandle(file);
    result.state = SmallFile::State::Read;
    return result;
}

std::string host_name() {
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
    return win::narrow(std::wstring_view(name, size));
}

}  // namespace zarvik
