// Drives zarvik.exe under Wine the way a user would, through its control ids: reads
// a script of steps (one a line, UTF-8), runs them in order and stops at the first
// that fails, naming it. Clicks are posted, so a click that opens a modal dialog or
// a message box does not hold the driver.
//
//   window_driver.exe SCRIPT
//
// Steps:
//   window TITLE              wait for the top-level dialog with this title
//   click ID                  press a button
//   select ID TEXT            choose the first list item that starts with TEXT
//   text ID SUBSTRING         wait until the control's text contains SUBSTRING
//   not-text ID SUBSTRING     the control's text does not contain SUBSTRING now
//   enabled ID 0|1            wait until the control is (not) enabled
//   progress ID MIN           wait until a progress bar reaches MIN
//   file PATH                 fill the open or save dialog with PATH and press OK
//   answer BUTTON SUBSTRING   wait for a message box whose text holds SUBSTRING and
//                             press BUTTON (ok, yes, no, retry, cancel); checks that
//                             No is the default of a Yes/No box
//   asked SUBSTRING           wait for such a message box and leave it open; it must
//                             stand centred on the window, not elsewhere on the screen
//   set ID TEXT               type TEXT into an edit
//   print ID                  print the control's text
//   shot FILE                 save the window as it is on the screen (BMP)
//   key ESC [ID]              press Esc in the window, or in control ID (which has the
//                             focus, as an open drop-down list has)
//   drop ID                   open a drop-down list as a click on it does
//   dropped ID 0|1            wait until the list is (not) open
//   signal FILE               make FILE, for the script that runs the driver
//   await FILE                wait until that script has made FILE
//   menu ID                   choose the menu command ID
//   help SUBSTRING            wait for the help window, whose text holds SUBSTRING
//                             and opened at its top with nothing selected; close it
//   close                     the close box
//   gone                      wait until the window has gone
// Every wait gives up after a minute: far longer than anything takes here, so a
// busy machine does not fail a step, and a hung window still ends the run.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

DWORD kPatienceMs = 60000;

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring text_of(HWND window) {
    wchar_t buffer[4096] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

bool wait_for(const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > kPatienceMs) return false;
        Sleep(20);
    }
    return true;
}

HWND g_main = nullptr;

// A dialog that the main window owns: a message box, a file dialog, Help or About.
HWND owned_dialog(const std::function<bool(HWND)>& matches) {
    struct Search {
        const std::function<bool(HWND)>* matches;
        HWND found;
    } search{&matches, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t cls[64] = {};
            GetClassNameW(w, cls, 64);
            if (w != g_main && GetWindow(w, GW_OWNER) == g_main && IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0 &&
                (*s->matches)(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The file name field of an Explorer-style dialog (a combo box) or of the old one.
HWND file_name_field(HWND dialog) {
    if (HWND combo = GetDlgItem(dialog, 0x47c)) return combo;
    return GetDlgItem(dialog, 0x480);
}

bool save_bitmap(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
    std::ofstream out(widen(path).c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * h);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return static_cast<bool>(out);
}

bool click(HWND button) {
    if (button == nullptr) return false;
    PostMessageW(button, BM_CLICK, 0, 0);
    return true;
}

int control_id(const std::string& word) { return std::atoi(word.c_str()); }

bool step(const std::string& verb, const std::string& a, const std::string& rest, std::string& why);
bool step(const std::string& verb, const std::string& a, const std::string& rest, std::string& why) {
    if (verb == "window") {
        const std::wstring title = widen(rest.empty() ? a : a + " " + rest);
        // Blanks at the title's end do not count (NSIS ends its uninstaller's with one).
        const auto titled = [](const std::wstring& wanted) -> HWND {
            struct Search {
                const std::wstring* wanted;
                HWND found;
            } search{&wanted, nullptr};
            EnumWindows(
                [](HWND w, LPARAM p) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(p);
                    wchar_t cls[16] = {};
                    GetClassNameW(w, cls, 16);
                    std::wstring text = text_of(w);
                    while (!text.empty() && text.back() == L' ') text.pop_back();
                    if (wcscmp(cls, L"#32770") != 0 || text != *s->wanted || !IsWindowVisible(w)) return TRUE;
                    s->found = w;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&search));
            return search.found;
        };
        if (!wait_for([&] { return (g_main = titled(title)) != nullptr; })) {
            why = "no window titled " + narrow(title);
            std::string ignored;
            step("list", "", "", ignored);
            return false;
        }
        return true;
    }
    if (verb == "list") {  // what is on the screen, for a failing run's log
        EnumWindows(
            [](HWND w, LPARAM) -> BOOL {
                if (IsWindowVisible(w)) std::printf("window: '%s'\n", narrow(text_of(w)).c_str());
                return TRUE;
            },
            0);
        return true;
    }
    if (verb == "signal") {
        const std::string path = rest.empty() ? a : a + " " + rest;
        HANDLE made = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made == INVALID_HANDLE_VALUE) {
            why = "cannot make " + path;
            return false;
        }
        CloseHandle(made);
        return true;
    }
    if (verb == "await") {
        const std::wstring path = widen(rest.empty() ? a : a + " " + rest);
        if (wait_for([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; })) return true;
        why = "nothing made " + narrow(path);
        return false;
    }
    if (g_main == nullptr || !IsWindow(g_main)) {
        if (verb == "gone") return true;
        why = "the window is not there";
        return false;
    }
    HWND control = GetDlgItem(g_main, control_id(a));
    if (verb == "click") return click(control) || (why = "no control " + a, false);
    if (verb == "select") {
        const std::wstring wanted = widen(rest);
        bool found = false;
        const bool waited = wait_for([&] {
            const LRESULT index = SendMessageW(control, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wanted.c_str()));
            if (index == CB_ERR) return false;
            SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
            found = true;
            return true;
        });
        if (!waited || !found) {
            why = "no item " + rest + " in list " + a;
            return false;
        }
        PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(control_id(a), CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
        return true;
    }
    if (verb == "text" || verb == "not-text") {
        const std::wstring wanted = widen(rest);
        if (verb == "not-text") {
            if (text_of(control).find(wanted) == std::wstring::npos) return true;
            why = "control " + a + " reads '" + narrow(text_of(control)) + "'";
            return false;
        }
        if (wait_for([&] { return text_of(control).find(wanted) != std::wstring::npos; })) return true;
        why = "control " + a + " reads '" + narrow(text_of(control)) + "', not '" + rest + "'";
        return false;
    }
    if (verb == "enabled") {
        const bool want = rest == "1";
        if (wait_for([&] { return (IsWindowEnabled(control) != FALSE) == want; })) return true;
        why = "control " + a + (want ? " stays disabled" : " stays enabled");
        return false;
    }
    if (verb == "progress") {
        const LRESULT minimum = std::atol(rest.c_str());
        if (wait_for([&] { return SendMessageW(control, PBM_GETPOS, 0, 0) >= minimum; })) return true;
        why = "progress " + a + " stays at " + std::to_string(SendMessageW(control, PBM_GETPOS, 0, 0));
        return false;
    }
    if (verb == "set") {
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widen(rest).c_str()));
        return true;
    }
    if (verb == "print") {
        std::printf("%s\n", narrow(text_of(control)).c_str());
        std::fflush(stdout);
        return true;
    }
    if (verb == "file") {
        const std::string path = rest.empty() ? a : a + " " + rest;
        HWND dialog = nullptr;
        if (!wait_for([&] { return (dialog = owned_dialog([](HWND w) { return file_name_field(w) != nullptr; })) != nullptr; })) {
            why = "no file dialog";
            return false;
        }
        SendMessageW(file_name_field(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widen(path).c_str()));
        click(GetDlgItem(dialog, IDOK));
        if (!wait_for([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) {
            why = "the file dialog stayed open";
            return false;
        }
        return true;
    }
    if (verb == "asked") {
        const std::wstring wanted = widen(a + (rest.empty() ? "" : " " + rest));
        HWND box = nullptr;
        if (!wait_for([&] {
                return (box = owned_dialog([&](HWND w) {
                            HWND t = GetDlgItem(w, 0xFFFF);
                            return t != nullptr && text_of(t).find(wanted) != std::wstring::npos;
                        })) != nullptr;
            })) {
            why = "no message box with '" + narrow(wanted) + "'";
            return false;
        }
        RECT main;
        RECT self;
        GetWindowRect(g_main, &main);
        GetWindowRect(box, &self);
        const int dx = (self.left + self.right) / 2 - (main.left + main.right) / 2;
        const int dy = (self.top + self.bottom) / 2 - (main.top + main.bottom) / 2;
        if (dx * dx + dy * dy > 8 * 8) {
            why = "the message box is not centred on the window (" + std::to_string(dx) + ", " + std::to_string(dy) + " off)";
            return false;
        }
        return true;
    }
    if (verb == "answer") {
        const int button = a == "yes" ? IDYES : a == "no" ? IDNO : a == "retry" ? IDRETRY : a == "cancel" ? IDCANCEL : IDOK;
        const std::wstring wanted = widen(rest);
        HWND box = nullptr;
        if (!wait_for([&] {
                return (box = owned_dialog([&](HWND w) {
                            HWND t = GetDlgItem(w, 0xFFFF);
                            return t != nullptr && text_of(t).find(wanted) != std::wstring::npos;
                        })) != nullptr;
            })) {
            HWND any = owned_dialog([](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; });
            why = "no message box with '" + rest + "'" + (any ? "; there is: " + narrow(text_of(GetDlgItem(any, 0xFFFF))) : "");
            return false;
        }
        std::printf("box: %s | %s\n", narrow(text_of(box)).c_str(), narrow(text_of(GetDlgItem(box, 0xFFFF))).c_str());
        std::fflush(stdout);
        if (GetDlgItem(box, IDYES) != nullptr) {
            // The default push button's style marks it, whichever way the box was made.
            const auto style = static_cast<DWORD>(GetWindowLongPtrW(GetDlgItem(box, IDNO), GWL_STYLE));
            const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
            const bool no_default = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON || (HIWORD(def) == DC_HASDEFID && LOWORD(def) == IDNO);
            if (!no_default) {
                why = "a Yes/No box whose default is not No";
                return false;
            }
        }
        click(GetDlgItem(box, button));
        if (!wait_for([&] { return !IsWindow(box); })) {
            why = "the message box stayed open";
            return false;
        }
        return true;
    }
    if (verb == "shot") {
        SetForegroundWindow(g_main);
        RedrawWindow(g_main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);  // let the X server show what was drawn
        return save_bitmap(g_main, a) || (why = "cannot write " + a, false);
    }
    if (verb == "key") {
        // The key as the keyboard delivers it, to the control that has the focus: the
        // one named, or «Стоп» during an operation; the window's own loop makes of it
        // what it would.
        HWND target = rest.empty() ? GetDlgItem(g_main, 1079) : GetDlgItem(g_main, control_id(rest));
        if (!rest.empty() && target == nullptr) {
            why = "no control " + rest;
            return false;
        }
        if (target == nullptr || !IsWindowEnabled(target)) target = g_main;
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
        return true;
    }
    if (verb == "drop") {
        // A click on the list: it takes the focus and opens, and keeps the mouse.
        if (control == nullptr) {
            why = "no control " + a;
            return false;
        }
        RECT r;
        GetClientRect(control, &r);
        const LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
        PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(control, WM_LBUTTONUP, 0, at);
        if (wait_for([&] { return SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0) != 0; })) return true;
        why = "list " + a + " did not open";
        return false;
    }
    if (verb == "dropped") {
        const bool want = rest == "1";
        if (wait_for([&] { return (SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0) != 0) == want; })) return true;
        why = "list " + a + (want ? " stays closed" : " stays open");
        return false;
    }
    if (verb == "menu") {
        PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(control_id(a), 0), 0);
        return true;
    }
    if (verb == "help") {
        const std::wstring wanted = widen(rest.empty() ? a : a + " " + rest);
        constexpr int kHelpText = 1006;
        HWND help = nullptr;
        if (!wait_for([&] {
                return (help = owned_dialog([&](HWND w) {
                            HWND t = GetDlgItem(w, kHelpText);
                            return t != nullptr && text_of(t).find(wanted) != std::wstring::npos;
                        })) != nullptr;
            })) {
            why = "no help window with '" + narrow(wanted) + "'";
            return false;
        }
        Sleep(300);  // whatever the dialog does once shown has been done
        HWND text = GetDlgItem(help, kHelpText);
        DWORD start = 0, end = 0;
        SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        const LRESULT top = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
        click(GetDlgItem(help, IDOK));
        if (start != end || start != 0 || top != 0) {
            why = "help opened with " + std::to_string(end - start) + " characters selected from " + std::to_string(start) +
                  ", first line shown " + std::to_string(top);
            return false;
        }
        if (!wait_for([&] { return !IsWindow(help); })) {
            why = "the help window stayed open";
            return false;
        }
        return true;
    }
    if (verb == "close") {
        PostMessageW(g_main, WM_CLOSE, 0, 0);
        return true;
    }
    if (verb == "gone") {
        if (wait_for([] { return !IsWindow(g_main); })) return true;
        why = "the window stayed open";
        return false;
    }
    why = "unknown step " + verb;
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_driver SCRIPT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string verb, a;
        words >> verb >> a;
        std::string rest;
        std::getline(words, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        std::string why;
        if (!step(verb, a, rest, why)) {
            std::printf("FAIL line %d: %s: %s\n", number, line.c_str(), why.c_str());
            return 1;
        }
        std::printf("ok   %s\n", line.c_str());
        std::fflush(stdout);
    }
    return 0;
}
