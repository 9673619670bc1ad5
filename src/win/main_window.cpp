// Twin in the Qt window: src/app/CVelborDlg.cpp (and CHelpDlg.cpp, CAboutDlg.cpp for the two boxes here).
#include "win/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <deque>
#include <map>
#include <mutex>

#include "platform/text_win.h"
#include "presenter/control_ids.h"
#include "presenter/main_presenter.h"
#include "presenter/main_view.h"
#include "presenter/settings_file.h"
#include "presenter/settings_location.h"
#include "presenter/window_texts.h"
#include "text/language.h"
#include "win/port_list_win.h"
#include "win/resource_ids_win.h"

namespace zarvik::win {
namespace {

// A task posted to the window's thread is waiting in the queue.
constexpr UINT kMsgTask = WM_APP + 1;
constexpr UINT_PTR kScanTimer = 1;

// A template's text in the current language. The window's texts are kept in the
// Linguist files under the form's, the window's or the Qt class's context, so each is
// looked up in turn; the first that translates it wins.
std::string template_text(const std::string& source) {
    for (const char* context : {"window", "CVelborDlg", "zarvik::CVelborDlg", "CHelpDlg", "CAboutDlg"}) {
        const char* translated = tr_text(context, source.c_str());
        if (source != translated) return translated;
    }
    return source;
}

// %1, %2, ... in order, as Qt's arg() fills them.
std::wstring arg(std::wstring text, std::initializer_list<std::wstring> values) {
    int n = 1;
    for (const std::wstring& value : values) {
        const std::wstring marker = L"%" + std::to_wstring(n++);
        const std::size_t at = text.find(marker);
        if (at != std::wstring::npos) text.replace(at, marker.size(), value);
    }
    return text;
}

std::wstring window_text(HWND control) {
    const int n = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(control, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

UINT dpi_of(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (get_dpi != nullptr) {
        if (const UINT dpi = get_dpi(window)) return dpi;
    }
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The texts of a dialog made from a Russian template, in the current language: each
// control's text is looked up in the same tables as every other text of the program.
void translate_dialog(HWND dialog) {
    if (current_language() == Language::Russian) return;
    const auto translate = [](HWND window) {
        const std::string source = narrow(window_text(window));
        if (source.empty()) return;
        const std::string translated = template_text(source);
        if (source != translated) SetWindowTextW(window, widen(translated).c_str());
    };
    translate(dialog);
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM f) -> BOOL {
            (*reinterpret_cast<decltype(translate)*>(f))(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&translate));
}

// The edit controls break lines at CR LF only.
std::wstring with_crlf(const std::wstring& text) {
    std::wstring crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) crlf += L'\r';
        crlf += text[i];
    }
    return crlf;
}

// A message box centred on the window that owns it, not on the screen: a CBT hook
// moves it as it is activated, before it is seen.
HWND g_box_owner = nullptr;

LRESULT CALLBACK centre_box(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && g_box_owner != nullptr) {
        HWND box = reinterpret_cast<HWND>(wp);
        RECT owner;
        RECT self;
        if (box != g_box_owner && GetWindowRect(g_box_owner, &owner) && GetWindowRect(box, &self)) {
            const int w = self.right - self.left;
            const int h = self.bottom - self.top;
            int x = owner.left + (owner.right - owner.left - w) / 2;
            int y = owner.top + (owner.bottom - owner.top - h) / 2;
            // Kept on the monitor the window is on.
            MONITORINFO monitor{};
            monitor.cbSize = sizeof monitor;
            if (GetMonitorInfoW(MonitorFromWindow(g_box_owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
                const RECT& work = monitor.rcWork;
                x = std::max<int>(work.left, std::min<int>(x, work.right - w));
                y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
            }
            SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        g_box_owner = nullptr;  // this box only: it may open others of its own
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

int message_box(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    g_box_owner = owner;
    HHOOK hook = SetWindowsHookExW(WH_CBT, centre_box, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), flags);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    g_box_owner = nullptr;
    return answer;
}

std::string folder_of(const std::string& path) {
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

std::string working_folder() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(n, L'\0');
    folder.resize(GetCurrentDirectoryW(n, folder.data()));
    return narrow(folder);
}

struct HelpShown {
    std::wstring title;
    std::wstring text;
};

INT_PTR CALLBACK help_procedure(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_INITDIALOG) {
        translate_dialog(dialog);
        const auto* help = reinterpret_cast<const HelpShown*>(lp);
        SetWindowTextW(dialog, help->title.c_str());
        SetDlgItemTextW(dialog, ids::kHelpText, help->text.c_str());
        // The focus in the text, for the keyboard's scrolling, but given here: the
        // dialog's own first focus would select the whole text and scroll to its end.
        HWND text = GetDlgItem(dialog, ids::kHelpText);
        SetFocus(text);
        SendMessageW(text, EM_SETSEL, 0, 0);
        SendMessageW(text, EM_SCROLLCARET, 0, 0);
        return FALSE;
    }
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK about_procedure(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_INITDIALOG) {
        translate_dialog(dialog);  // the licence line
        const auto* about = reinterpret_cast<const AboutContent*>(lp);
        SetWindowTextW(dialog, widen(about->title).c_str());
        SetDlgItemTextW(dialog, ZARVIK_IDC_ABOUT_NAME, widen(about->name).c_str());
        SetDlgItemTextW(dialog, ZARVIK_IDC_ABOUT_VERSION, widen(about->version).c_str());
        SetDlgItemTextW(dialog, ZARVIK_IDC_ABOUT_DATE, widen(about->date).c_str());
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

// The Win32 face of the main window: it shows what the presenter tells it and passes
// on what the user does. Nothing here decides; the presenter owns every rule.
class MainWindow final : public MainView {
public:
    MainWindow(HINSTANCE instance, const WindowOptions& options)
        : instance_(instance), options_(options), settings_(locate_settings_here(options.executable)) {}
    ~MainWindow() override {
        if (line_font_ != nullptr) DeleteObject(line_font_);
        for (HICON icon : browse_icons_) DestroyIcon(icon);
    }

    int run() {
        DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZARVIK_IDD_MAIN), nullptr, procedure, reinterpret_cast<LPARAM>(this));
        // Stops an operation under way after its exchange, and waits for it.
        presenter_.reset();
        return 0;
    }

    // Esc pressed in the main window (not in a box over it): «Стоп» during an operation,
    // nothing otherwise. A drop-down list that is open keeps its Esc, which closes it.
    bool escape_pressed(const MSG& msg) {
        if (msg.message != WM_KEYDOWN || msg.wParam != VK_ESCAPE || presenter_ == nullptr) return false;
        if (msg.hwnd != window_ && GetAncestor(msg.hwnd, GA_ROOT) != window_) return false;
        for (int id : {ids::kPortList, ids::kSpeedList, ids::kModelList}) {
            if (SendDlgItemMessageW(window_, id, CB_GETDROPPEDSTATE, 0, 0) != 0) return false;
        }
        presenter_->on_escape();
        return true;
    }

    // --- MainView ---
    void post_to_ui(std::function<void()> task) override {
        {
            const std::lock_guard lock(tasks_mutex_);
            if (closed_) return;
            tasks_.push_back(std::move(task));
        }
        PostMessageW(window_, kMsgTask, 0, 0);
    }
    void set_text(int id, const std::string& text) override {
        if (id == ids::kFlashPath || id == ids::kEepromPath) {
            paths_[id] = text;
            fit_path(id);
            return;
        }
        const std::wstring wide = widen(text);
        HWND control = item(id);
        if (window_text(control) == wide) return;
        setting_text_ = true;
        SetWindowTextW(control, wide.c_str());
        setting_text_ = false;
        if (id == ids::kConnectionLine) fit_connection_line();
    }
    void set_tooltip(int id, const std::string& text) override {
        if (tooltips_ == nullptr) {
            tooltips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
            // A long path is shown whole, on as many lines as it needs.
            SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, 600);
        }
        std::wstring wide = widen(text);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = window_;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.uId = reinterpret_cast<UINT_PTR>(item(id));
        tool.lpszText = wide.data();
        SendMessageW(tooltips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        if (!wide.empty()) SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    void set_enabled(int id, bool enabled) override { EnableWindow(item(id), enabled ? TRUE : FALSE); }
    void set_items(int id, const std::vector<ListItem>& items) override {
        HWND list = item(id);
        SendMessageW(list, CB_RESETCONTENT, 0, 0);
        for (const ListItem& entry : items) {
            // A port shows what the system calls it ("USB-SERIAL CH340 (COM5)") where it
            // says more than the bare name.
            const std::string& shown = id == ids::kPortList && !entry.tooltip.empty() ? entry.tooltip : entry.text;
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(shown).c_str()));
        }
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
    void set_selection(int id, int index) override { SendDlgItemMessageW(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    void set_checked(int id, bool checked) override { CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED); }
    void set_progress(int id, std::uint32_t value, std::uint32_t maximum) override {
        SendDlgItemMessageW(window_, id, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::max<std::uint32_t>(maximum, 1)));
        SendDlgItemMessageW(window_, id, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    }
    void set_busy(bool busy) override {
        busy_ = busy;
        SetCursor(LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
        if (busy) {
            focus_before_ = GetFocus();
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(ids::kStop)), TRUE);
        } else {
            if (focus_before_ != nullptr && IsWindowEnabled(focus_before_)) {
                SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_before_), TRUE);
            }
            focus_before_ = nullptr;
        }
    }
    void set_scan_timer(bool running) override {
        if (running) {
            SetTimer(window_, kScanTimer, MainPresenter::kScanIntervalMs, nullptr);
        } else {
            KillTimer(window_, kScanTimer);
        }
    }
    void show_message(const std::string& caption, const std::string& text) override {
        message_box(window_, text, caption, MB_OK);
    }
    bool ask_yes_no(const std::string& caption, const std::string& text) override {
        // The box's own loop keeps running the posted tasks meanwhile.
        return message_box(window_, text, caption, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
    }
    std::optional<std::string> choose_file(const FileDialogRequest& request) override {
        // "name (*.hex;*.elf)" NUL "*.hex;*.elf" NUL ..., the list ended by a second NUL.
        std::wstring filter;
        for (const FileFilter& entry : request.filters) {
            std::wstring patterns;
            for (const std::string& extension : entry.extensions) {
                patterns += (patterns.empty() ? L"*." : L";*.") + widen(extension);
            }
            if (patterns.empty()) patterns = L"*.*";
            filter += widen(entry.name) + L" (" + patterns + L")";
            filter += L'\0';
            filter += patterns;
            filter += L'\0';
        }
        const std::wstring folder = widen(request.folder);
        wchar_t name[MAX_PATH * 4] = {};
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = window_;
        ofn.lpstrFilter = filter.c_str();
        ofn.lpstrFile = name;
        ofn.nMaxFile = static_cast<DWORD>(std::size(name));
        ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        const std::wstring extension = widen(request.default_extension);
        ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
        if (request.mode == FileDialogMode::Save) {
            ofn.lpstrDefExt = extension.c_str();
            ofn.Flags |= OFN_OVERWRITEPROMPT;
            if (!GetSaveFileNameW(&ofn)) return std::nullopt;
        } else {
            ofn.Flags |= OFN_FILEMUSTEXIST;
            if (!GetOpenFileNameW(&ofn)) return std::nullopt;
        }
        return narrow(name);
    }
    void show_help(const HelpContent& help) override {
        // Where the settings live, since that depends on where the program was put.
        std::wstring text = with_crlf(widen(help.text));
        text += L"\r\n\r\n" + arg(widen(tr_text("win", "Настройки и последний выбор (частота МК, время ожидания, модель, порт, скорость, файлы, сброс по DTR) хранятся в файле %1")),
                                  {widen(settings_file_in(settings_.folder))});
        const HelpShown shown{widen(help.title), text};
        DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZARVIK_IDD_HELP), window_, help_procedure, reinterpret_cast<LPARAM>(&shown));
    }
    void show_about(const AboutContent& about) override {
        DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZARVIK_IDD_ABOUT), window_, about_procedure, reinterpret_cast<LPARAM>(&about));
    }
    void close_window() override {
        {
            const std::lock_guard lock(tasks_mutex_);
            closed_ = true;
            tasks_.clear();
        }
        KillTimer(window_, kScanTimer);
        EndDialog(window_, 0);
    }

private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lp);
            auto* self = reinterpret_cast<MainWindow*>(lp);
            self->window_ = window;
            self->initialize();
            return FALSE;  // the presenter's start-up gives the focus
        }
        auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
        return self != nullptr ? self->handle(message, wp, lp) : FALSE;
    }

    HWND item(int id) const { return GetDlgItem(window_, id); }
    void initialize();
    void apply_dpi();
    void fit_connection_line();
    void fit_path(int id);
    INT_PTR handle(UINT message, WPARAM wp, LPARAM lp);
    void run_tasks();

    HINSTANCE instance_;
    WindowOptions options_;
    SettingsLocation settings_;
    HWND window_ = nullptr;
    std::unique_ptr<MainPresenter> presenter_;
    HFONT line_font_ = nullptr;
    HWND tooltips_ = nullptr;
    std::vector<HICON> browse_icons_;
    std::vector<ListedPort> ports_;  // the last scan, for the port list's names
    std::map<int, std::string> paths_;  // the whole path each file field was given
    std::mutex tasks_mutex_;
    std::deque<std::function<void()>> tasks_;
    bool closed_ = false;
    bool busy_ = false;
    bool setting_text_ = false;
    HWND focus_before_ = nullptr;
};

void MainWindow::initialize() {
    translate_dialog(window_);
    if (current_language() != Language::Russian) {
        HMENU menu = GetMenu(window_);
        ModifyMenuW(menu, ids::kHelpCommand, MF_BYCOMMAND | MF_STRING, ids::kHelpCommand, widen(template_text("Помощь")).c_str());
        ModifyMenuW(menu, ids::kAboutCommand, MF_BYCOMMAND | MF_STRING, ids::kAboutCommand,
                    widen(template_text("О программе ...")).c_str());
        DrawMenuBar(window_);
    }
    HICON big = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ZARVIK_IDR_ICON), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ZARVIK_IDR_ICON), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    apply_dpi();
    DragAcceptFiles(window_, TRUE);

    PresenterEnvironment environment;
    environment.scan_ports = [this] {
        ports_ = list_serial_ports();
        std::vector<std::string> names;
        for (const ListedPort& port : ports_) names.push_back(port.name);
        return names;
    };
    environment.describe_port = [this](const std::string& name) {
        for (const ListedPort& port : ports_) {
            if (port.name == name && port.label != name) return port.label;
        }
        return std::string();
    };
    environment.settings_folder = settings_.folder;
    environment.help_folders = {working_folder(), folder_of(options_.executable)};
    wchar_t documents[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        environment.documents_folder = narrow(documents);
    }
    presenter_ = std::make_unique<MainPresenter>(*this, std::move(environment));
    presenter_->start();
    std::vector<std::string> files;
    for (const std::string* file : {&options_.flash_file, &options_.eeprom_file}) {
        if (!file->empty()) files.push_back(*file);
    }
    if (!files.empty()) presenter_->on_files_given(files);
}

// The connection line's font: the template's 16 pixels at 96 dpi, grown with the
// screen. A long text wraps onto the line's second row in that same font, and only one
// that would not fit both rows (a Tahoma stand-in may be wider than Tahoma) is drawn
// smaller: nothing is cut and nothing around the line moves.
void MainWindow::fit_connection_line() {
    HWND line = item(ids::kConnectionLine);
    const std::wstring text = window_text(line);
    RECT box;
    GetClientRect(line, &box);
    const int dpi = static_cast<int>(dpi_of(window_));
    HDC dc = GetDC(line);
    HFONT chosen = nullptr;
    for (int pixels = 16; pixels >= 11; --pixels) {
        HFONT font = CreateFontW(-MulDiv(pixels, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
        HGDIOBJ old = SelectObject(dc, font);
        RECT needed{0, 0, box.right - box.left, 0};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
        SelectObject(dc, old);
        chosen = font;
        if ((needed.bottom <= box.bottom && needed.right <= box.right) || pixels == 11) break;
        DeleteObject(font);
    }
    ReleaseDC(line, dc);
    SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), TRUE);
    if (line_font_ != nullptr) DeleteObject(line_font_);
    line_font_ = chosen;
}

// A file field shows the whole path, or an ellipsis and as much of its end as the
// field holds in its font, so that the field is filled.
void MainWindow::fit_path(int id) {
    HWND field = item(id);
    RECT box;
    GetClientRect(field, &box);
    const LRESULT margins = SendMessageW(field, EM_GETMARGINS, 0, 0);
    const int room = box.right - box.left - LOWORD(margins) - HIWORD(margins) - 2;
    HDC dc = GetDC(field);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)));
    const std::string fitted = window_text::fitted_path(paths_[id], [&](const std::string& text) {
        const std::wstring wide = widen(text);
        SIZE size{};
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        return size.cx <= room;
    });
    SelectObject(dc, old);
    ReleaseDC(field, dc);
    const std::wstring wide = widen(fitted);
    if (window_text(field) != wide) {
        setting_text_ = true;
        SetWindowTextW(field, wide.c_str());
        setting_text_ = false;
    }
}

void MainWindow::apply_dpi() {
    const UINT dpi = dpi_of(window_);
    fit_connection_line();
    for (int id : {ids::kFlashPath, ids::kEepromPath}) fit_path(id);
    const int side = MulDiv(16, static_cast<int>(dpi), 96);
    for (HICON icon : browse_icons_) DestroyIcon(icon);
    browse_icons_.clear();
    for (int id : {ids::kFlashBrowse, ids::kEepromBrowse}) {
        HICON icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ZARVIK_IDR_BROWSE), IMAGE_ICON, side, side, 0));
        SendDlgItemMessageW(window_, id, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
        browse_icons_.push_back(icon);
    }
}

void MainWindow::run_tasks() {
    std::function<void()> task;
    {
        const std::lock_guard lock(tasks_mutex_);
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
}

INT_PTR MainWindow::handle(UINT message, WPARAM wp, LPARAM lp) {
    if (presenter_ == nullptr) return FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = HIWORD(wp);
        if (code == CBN_SELCHANGE) {
            presenter_->on_choice(id, static_cast<int>(SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0)));
        } else if (code == CBN_DROPDOWN && id == ids::kPortList) {
            presenter_->on_port_list_opening();
        } else if (code == EN_CHANGE && (id == ids::kFosc || id == ids::kTimeout)) {
            if (!setting_text_) presenter_->on_text_edited(id, narrow(window_text(item(id))));
        } else if (code == BN_CLICKED && id == ids::kResetDtr) {
            presenter_->on_checked(id, IsDlgButtonChecked(window_, id) == BST_CHECKED);
        } else if (code == BN_CLICKED || code == 1) {  // a button, a menu command or an accelerator
            // The dialog's loop sends Enter to the default button even while it is disabled.
            if (lp != 0 && !IsWindowEnabled(reinterpret_cast<HWND>(lp))) return TRUE;
            if (id == ids::kExit && lp == 0) {
                // IDCANCEL from the dialog's own loop (Esc that reached it): never the exit.
                presenter_->on_escape();
            } else if (id == ids::kExit) {
                presenter_->on_close();
            } else {
                presenter_->on_command(id);
            }
        }
        return TRUE;
    }
    case WM_CLOSE:
        presenter_->on_close();
        return TRUE;
    case WM_TIMER:
        if (wp == kScanTimer) presenter_->on_scan_tick();
        return TRUE;
    case WM_DEVICECHANGE:
        if (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE || wp == DBT_DEVNODES_CHANGED) presenter_->on_devices_changed();
        return TRUE;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wp);
        std::vector<std::string> files;
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            const UINT n = DragQueryFileW(drop, i, nullptr, 0);
            std::wstring name(n + 1, L'\0');
            DragQueryFileW(drop, i, name.data(), n + 1);
            name.resize(n);
            files.push_back(narrow(name));
        }
        DragFinish(drop);
        presenter_->on_files_given(files);
        return TRUE;
    }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shutdown: an operation under way ends where it may end.
        if (wp != 0) presenter_->on_session_ending();
        return TRUE;
    case 0x02E0: {  // WM_DPICHANGED: a monitor of another density
        const RECT* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        apply_dpi();
        return TRUE;
    }
    case WM_SETCURSOR:
        if (busy_ && LOWORD(lp) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case kMsgTask:
        run_tasks();
        return TRUE;
    default:
        return FALSE;
    }
}

MainWindow* g_window = nullptr;

LRESULT CALLBACK escape_filter(int code, WPARAM wp, LPARAM lp) {
    if (code == MSGF_DIALOGBOX && g_window != nullptr && g_window->escape_pressed(*reinterpret_cast<const MSG*>(lp))) {
        return 1;
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

int run_main_window(HINSTANCE instance, const WindowOptions& options) {
    MainWindow window(instance, options);
    // Esc goes to the presenter («Стоп» during an operation, else nothing). The dialog's
    // own loop would make it the same command as «Выход», so it is taken first.
    g_window = &window;
    HHOOK hook = SetWindowsHookExW(WH_MSGFILTER, escape_filter, nullptr, GetCurrentThreadId());
    const int result = window.run();
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    g_window = nullptr;
    return result;
}

}  // namespace zarvik::win
