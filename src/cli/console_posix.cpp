#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include "cli/console.h"

namespace zarvik::cli {

Console::Console(int argc, char** argv) : arguments_(argv, argv + argc) {
    for (std::string& a : arguments_) pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

bool Console::stderr_is_terminal() const { return ::isatty(STDERR_FILENO) == 1; }

namespace {
void (*g_request)() = nullptr;
void handle(int) {
    if (g_request != nullptr) g_request();
}
}  // namespace

// A port's read waits in slices and looks at the request between them.
void Console::on_interrupt(void (*request)()) {
    g_request = request;
    std::signal(SIGINT, handle);
}

struct Keyboard::Saved {
    bool terminal = false;
    termios settings{};
    bool open = true;  // standard input has not ended
};

Keyboard::Keyboard() : saved_(new Saved) {
    if (::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved_->settings) == 0) {
        saved_->terminal = true;
        termios raw = saved_->settings;
        // Character at a time and no echo; ISIG stays, so Ctrl-C is still a signal.
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
}

Keyboard::~Keyboard() {
    if (saved_->terminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_->settings);
    delete saved_;
}

std::string Keyboard::take() {
    std::string typed;
    while (saved_->open) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || (p.revents & (POLLIN | POLLHUP)) == 0) break;
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            saved_->open = saved_->terminal;  // a pipe that ended has nothing more to give
            break;
        }
        typed.append(buf, static_cast<std::size_t>(n));
    }
    return typed;
}

}  // namespace zarvik::cli
