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

Console::~Console() = default;

namespace {

Cancellation* g_cancel = nullptr;

void handle(int signal) {
    note_stop(signal == SIGTERM ? StopReason::Terminate : signal == SIGHUP ? StopReason::HangUp : StopReason::Interrupt);
    if (g_cancel != nullptr) g_cancel->request();
}

}  // namespace

// A port's read waits in slices and looks at the request between them, so the handler
// only records it.
void Console::on_stop(Cancellation& cancel) {
    g_cancel = &cancel;
    struct sigaction action {};
    action.sa_handler = handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
    // Started with nohup, the hang-up is to be ignored, and stays so.
    struct sigaction hang_up {};
    if (::sigaction(SIGHUP, nullptr, &hang_up) != 0 || hang_up.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &action, nullptr);
    // A reader that went away (`| head -c1`) makes writes fail with EPIPE instead of
    // killing the program in the middle of rewriting the loader's block.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void write_text(std::FILE* stream, std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), stream); }

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
