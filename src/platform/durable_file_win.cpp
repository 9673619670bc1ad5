#include "platform/durable_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/text_win.h"

namespace zarvik {
namespace {

std::string last_error_text() { return win::system_message(::GetLastError()); }

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

bool write_all(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), chunk, &written, nullptr)) return false;
        data.remove_prefix(written);
    }
    return true;
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
    const std::wstring temporary = win::widen(path + ".tmp");
    const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return last_error_text();
    if (!write_all(file, content) || !::FlushFileBuffers(file)) {
        const std::string error = last_error_text();
        ::CloseHandle(file);
        ::DeleteFileW(temporary.c_str());
        return error;
    }
    ::CloseHandle(file);
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

std::optional<std::string> append_line_durably(const std::string& path, std::string_view line) {
    // FILE_APPEND_DATA sends every write to the end; a lock taken by every writer makes
    // the whole line one piece also where appends are not atomic (a network share, Wine).
    // It covers one byte far beyond any log's end, so readers of the lines never meet it.
    const HANDLE file = ::CreateFileW(win::widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return last_error_text();
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(file);
        return win::system_message(code);
    }
    DWORD written = 0;
    const bool whole = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                       written == line.size();
    const bool flushed = whole && ::FlushFileBuffers(file);
    const DWORD code = flushed ? 0 : whole || written == 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_DISK_FULL);
    ::UnlockFileEx(file, 0, 1, 0, &at);
    ::CloseHandle(file);
    if (!flushed) return win::system_message(code);
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
