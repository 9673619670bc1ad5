#pragma once

#include <string>
#include <vector>

#include "text/language.h"

namespace zarvik::cli {

#if defined(_WIN32)
inline constexpr const char* kPortExample = ZARVIK_TEXT("cli-help", "serial port, such as COM3");
#else
inline constexpr const char* kPortExample = ZARVIK_TEXT("cli-help", "serial port, such as /dev/ttyUSB0");
#endif

// The process's console, set up once at start: UTF-8 output, and the arguments as
// UTF-8 (on Windows they are taken from the wide command line, so a Cyrillic path
// typed at the prompt reaches the program intact).
class Console {
public:
    Console(int argc, char** argv);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }
    bool stderr_is_terminal() const;

    // Calls `request` when the user presses Ctrl-C (or Ctrl-Break), from whatever thread
    // the system uses, and makes a port's blocking read return so the request is seen.
    static void on_interrupt(void (*request)());

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_;
};

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

}  // namespace zarvik::cli
