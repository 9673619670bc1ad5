#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "link/cancellation.h"
#include "text/language.h"

namespace zarvik::cli {

#if defined(_WIN32)
inline constexpr const char* kPortExample = ZARVIK_TEXT("cli-help", "serial port, such as COM3");
#else
inline constexpr const char* kPortExample = ZARVIK_TEXT("cli-help", "serial port, such as /dev/ttyUSB0");
#endif

// Every way the system asks the program to end. None ends it on the spot: each is a
// stop request, honoured after the exchange under way and not at all while a hold
// (the loader's own block being rewritten) is in place.
enum class StopReason {
    None,
    Interrupt,      // Ctrl-C, Ctrl-Break
    Terminate,      // SIGTERM
    HangUp,         // SIGHUP: the terminal went away
    ConsoleClosed,  // Windows: the console window is being closed
    LogOff,         // Windows: the user logs off
    Shutdown,       // Windows: the system shuts down
};

// The shell's convention, 128 + the signal's number: 130 for Ctrl-C, 143 for SIGTERM,
// 129 for SIGHUP. A closed console counts as a hang-up (129), a log-off or shutdown as
// a termination (143).
int stop_exit_code(StopReason reason);
// What the command line says when it stopped for `reason`, in the current language.
const char* stop_text(StopReason reason);

// The process's console, set up once at start: UTF-8 output, and the arguments as
// UTF-8 (on Windows they are taken from the wide command line, so a Cyrillic path
// typed at the prompt reaches the program intact).
class Console {
public:
    Console(int argc, char** argv);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }
    bool stderr_is_terminal() const;

    // Turns every way out into a request on `cancel`: SIGINT, SIGTERM and SIGHUP, and
    // on Windows the console's Ctrl-C, Ctrl-Break, close, log-off and shutdown events,
    // whose handler waits until no hold is in place before it cuts a port's blocking
    // read short (and, for the last three, lets the program end by itself). A
    // reader that goes away (SIGPIPE) ends nothing: what cannot be shown is dropped.
    static void on_stop(Cancellation& cancel);
    // Why the stop was asked for; None when it was not.
    static StopReason stop_reason();
    // Forgets a stop that has been dealt with (Ctrl-C ending `monitor`).
    static void forget_stop();

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_;
};

// Records a stop request; for the platforms' handlers.
void note_stop(StopReason reason);

// UTF-8 text to a stream. A Windows console gets it as UTF-16 through WriteConsoleW, so
// that Russian is readable whatever the console's code page and font; a file, a pipe
// and every POSIX terminal get the bytes as they are.
void write_text(std::FILE* stream, std::string_view utf8);
// printf into a string, for a line that is put together before one write.
template <typename... Args>
std::string formatted_text(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(n));
    return text;
}
// printf to a stream through write_text.
template <typename... Args>
void print(std::FILE* stream, const char* format, Args... args) {
    const std::string text = formatted_text(format, args...);
    // The view spelled out: cppcheck takes the string's own conversion for a dangling one.
    if (!text.empty()) write_text(stream, std::string_view(text.data(), text.size()));
}

// The keyboard while a serial terminal runs: keystrokes go out as they are typed, not
// a line at a time, and the console echoes nothing (the device echoes if it wants to).
// Ctrl-C still stops. The console's own settings come back when this goes.
class Keyboard {
public:
    Keyboard();
    ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    // What has been typed, or piped in, since the last call; never waits.
    std::string take();

private:
    struct Saved;
    Saved* saved_;
};

#if defined(_WIN32)
// The console control handler that on_stop() installs, open to tests: they send it the
// events Windows sends. Returns as Windows expects: TRUE for an event it handled.
int handle_console_event(unsigned long event);
// Called as the program ends, port closed: a handler holding a closing console open
// lets Windows go on.
void console_finished();
#endif

}  // namespace zarvik::cli
