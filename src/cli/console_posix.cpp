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

}  // namespace zarvik::cli
