#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "cli/console.h"
#include "platform/win_text.h"

namespace zarvik::cli {

namespace {

void (*g_request)() = nullptr;
HANDLE g_main_thread = nullptr;
UINT g_previous_output_cp = 0;

void restore_code_page() {
    if (g_previous_output_cp != 0) ::SetConsoleOutputCP(g_previous_output_cp);
}

BOOL WINAPI handle(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_request != nullptr) g_request();
    // A port's read is one blocking ReadFile of up to 6.45 s; cut it short so the port
    // is put back and closed at once. The read starts again if a hold defers the stop.
    if (g_main_thread != nullptr) ::CancelSynchronousIo(g_main_thread);
    return TRUE;  // handled: the program ends by itself, closing the port on its way
}

}  // namespace

Console::Console(int, char**) {
    // Texts are UTF-8; the console shows them so once its code page says so. The
    // user's own code page comes back when the program ends.
    g_previous_output_cp = ::GetConsoleOutputCP();
    if (g_previous_output_cp != 0 && ::SetConsoleOutputCP(CP_UTF8) != FALSE) std::atexit(restore_code_page);
    else g_previous_output_cp = 0;
    // Bytes as they are: a redirected output matches the other platforms', and UTF-8
    // is never split by a text-mode translation.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) arguments_.push_back(win::narrow(wide[i]));
        ::LocalFree(wide);
    }
    for (std::string& a : arguments_) pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

bool Console::stderr_is_terminal() const { return ::_isatty(::_fileno(stderr)) != 0; }

void Console::on_interrupt(void (*request)()) {
    g_request = request;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &g_main_thread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    ::SetConsoleCtrlHandler(handle, TRUE);
}

struct Keyboard::Saved {
    HANDLE input = INVALID_HANDLE_VALUE;
    bool console = false;
    DWORD mode = 0;
    bool open = true;
};

Keyboard::Keyboard() : saved_(new Saved) {
    saved_->input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (saved_->input != INVALID_HANDLE_VALUE && ::GetConsoleMode(saved_->input, &saved_->mode) != FALSE) {
        saved_->console = true;
        // Keys as they are pressed, no echo; ENABLE_PROCESSED_INPUT keeps Ctrl-C a stop.
        ::SetConsoleMode(saved_->input, ENABLE_PROCESSED_INPUT);
    }
}

Keyboard::~Keyboard() {
    if (saved_->console) ::SetConsoleMode(saved_->input, saved_->mode);
    delete saved_;
}

std::string Keyboard::take() {
    std::string typed;
    if (!saved_->open || saved_->input == INVALID_HANDLE_VALUE) return typed;
    if (saved_->console) {
        DWORD waiting = 0;
        while (::GetNumberOfConsoleInputEvents(saved_->input, &waiting) != FALSE && waiting > 0) {
            INPUT_RECORD record{};
            DWORD got = 0;
            if (::ReadConsoleInputW(saved_->input, &record, 1, &got) == FALSE || got == 0) break;
            if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
            const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
            if (c == 0) continue;
            for (WORD i = 0; i < record.Event.KeyEvent.wRepeatCount; ++i) typed += win::narrow(std::wstring(1, c));
        }
        return typed;
    }
    DWORD available = 0;
    if (::PeekNamedPipe(saved_->input, nullptr, 0, nullptr, &available, nullptr) == FALSE) {
        saved_->open = false;
        return typed;
    }
    if (available > 0) {
        std::string buf(available, '\0');
        DWORD got = 0;
        if (::ReadFile(saved_->input, buf.data(), available, &got, nullptr) != FALSE) typed.append(buf.data(), got);
    }
    return typed;
}

}  // namespace zarvik::cli
