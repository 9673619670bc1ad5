#pragma once

// Starts the test helper program as a process of its own and waits for it, so that
// several processes can work on one file at once. No shell in between.

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include "platform/text_win.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zarvik::testing {

// The helper lies in helpers/ beside the test program (a folder of its own, so that
// what runs every test program in the folder does not run it). Under Windows it is found
// from the test program's own path: the build names it with a POSIX path when it
// cross-builds, which Wine's programs do not read.
inline std::string helper_program() {
#if defined(_WIN32)
    wchar_t own[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring path(own, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"helpers\\production_test_helper.exe";
    return win::narrow(path);
#else
    return ZARVIK_PRODUCTION_HELPER;
#endif
}

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        const std::string program = helper_program();
#if defined(_WIN32)
        // No argument here holds a quote or ends in a backslash: quoting them is enough.
        std::wstring line = L"\"" + win::widen(program) + L"\"";
        for (const std::string& a : args) line += L" \"" + win::widen(a) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(win::widen(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info)) {
            ::CloseHandle(info.hThread);
            process_ = info.hProcess;
        }
#else
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
#endif
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { wait(); }

    // The exit code; -1 when it did not start or ended otherwise.
    int wait() {
#if defined(_WIN32)
        if (process_ == nullptr) return code_;
        ::WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(process_, &code)) code_ = static_cast<int>(code);
        ::CloseHandle(process_);
        process_ = nullptr;
#else
        if (pid_ <= 0) return code_;
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) code_ = WEXITSTATUS(status);
        pid_ = -1;
#endif
        return code_;
    }

private:
#if defined(_WIN32)
    HANDLE process_ = nullptr;
#else
    pid_t pid_ = -1;
#endif
    int code_ = -1;
};

}  // namespace zarvik::testing
