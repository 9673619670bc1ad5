#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/console.h"
#include "cli/console_text.h"
#include "platform/text_win.h"

namespace zarvik::cli {

namespace {

Cancellation* g_cancel = nullptr;
HANDLE g_main_thread = nullptr;
UINT g_previous_output_cp = 0;

void restore_code_page() {
    if (g_previous_output_cp != 0) ::SetConsoleOutputCP(g_previous_output_cp);
}

StopReason reason_for(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: return StopReason::Interrupt;
        case CTRL_CLOSE_EVENT: return StopReason::ConsoleClosed;
        case CTRL_LOGOFF_EVENT: return StopReason::LogOff;
        case CTRL_SHUTDOWN_EVENT: return StopReason::Shutdown;
        default: return StopReason::None;
    }
}

BOOL WINAPI handle(DWORD event) { return handle_console_event(event) != 0 ? TRUE : FALSE; }

}  // namespace

// Windows runs this on a thread of its own for each event, so it may wait.
int handle_console_event(unsigned long event) {
    const StopReason reason = reason_for(event);
    if (reason == StopReason::None) return FALSE;
    note_stop(reason);
    if (g_cancel != nullptr) {
        g_cancel->request();
        // A port's read is one blocking ReadFile of up to 6.45 s; cut it short so the
        // port is put back and closed at once. Never while a hold is in place: that
        // could cut the write of the loader's own block in two. (Should a hold begin
        // just after this look, the port reads or writes on through the abort.)
        while (g_cancel->held()) ::Sleep(10);
        if (g_main_thread != nullptr && g_cancel->requested()) ::CancelSynchronousIo(g_main_thread);
    }
    if (reason == StopReason::Interrupt) return TRUE;  // the program ends by itself
    // Once this returns, Windows ends the process where it stands. So it never returns:
    // the program ends by itself, port closed, with its own exit code, and that ends
    // this thread too. Windows allows some seconds for it (5 for a closing console).
    ::Sleep(INFINITE);
    return TRUE;
}

Console::Console(int, char**) {
    // Texts to a console go through WriteConsoleW; for anything else that reaches it as
    // bytes, the console's code page says UTF-8. The user's own code page comes back
    // when the program ends.
    g_previous_output_cp = ::GetConsoleOutputCP();
    if (g_previous_output_cp != 0 && ::SetConsoleOutputCP(CP_UTF8) != FALSE) std::atexit(restore_code_page);
    else g_previous_output_cp = 0;
    // Bytes as they are: a redirected output matches the other platforms', and UTF-8
    // is never split by a text-mode translation.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    for (const std::wstring& wide : split_windows_command_line(::GetCommandLineW())) arguments_.push_back(win::narrow(wide));
    for (std::string& a : arguments_) pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

Console::~Console() = default;

bool Console::stderr_is_terminal() const { return ::_isatty(::_fileno(stderr)) != 0; }

void Console::on_stop(Cancellation& cancel) {
    g_cancel = &cancel;
    if (g_main_thread == nullptr) {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &g_main_thread, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }
    ::SetConsoleCtrlHandler(handle, TRUE);
}

namespace {

// What is left of a character split between two writes, per stream.
std::mutex g_carry_lock;
std::string g_carry[3];

}  // namespace

void write_text(std::FILE* stream, std::string_view utf8) {
    const int fd = ::_fileno(stream);
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (fd < 0 || h == INVALID_HANDLE_VALUE || ::GetConsoleMode(h, &mode) == FALSE) {
        std::fwrite(utf8.data(), 1, utf8.size(), stream);
        return;
    }
    std::fflush(stream);  // what went out through the C library first stays first
    std::lock_guard guard(g_carry_lock);
    std::string& carry = g_carry[fd >= 0 && fd < 3 ? fd : 0];
    carry.append(utf8);
    const std::size_t whole = utf8_whole_length(carry);
    const std::wstring wide = win::widen(std::string_view(carry).substr(0, whole));
    carry.erase(0, whole);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        if (::WriteConsoleW(h, wide.data() + done, chunk, &written, nullptr) == FALSE || written == 0) break;
        done += written;
    }
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
