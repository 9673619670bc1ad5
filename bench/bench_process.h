#pragma once

// Starting the simulated boards and zarvik-cli from a benchmark, without Qt: a board
// prints its terminal's path on its first line and serves until SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace zarvik::bench {

inline std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

class BoardProcess {
public:
    explicit BoardProcess(std::vector<std::string> args) {
        int out[2];
        if (::pipe(out) != 0) return;
        auto argv = argv_of(args);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') path_.push_back(c);
        ::close(out[0]);
    }
    ~BoardProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};

struct ProgramRun {
    int code = -1;
    double ms = 0;
};

// Runs a program to its end with its output dropped; the wall time of the whole run.
inline ProgramRun run_program(std::vector<std::string> args) {
    auto argv = argv_of(args);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ms};
}

}  // namespace zarvik::bench
