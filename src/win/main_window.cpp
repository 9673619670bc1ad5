#include "win/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/settings_file.h"
#include "loader/chip_identity.h"
#include "memory/device_model.h"
#include "memory/file_io.h"
#include "memory/intel_hex_writer.h"
#include "platform/win_text.h"
#include "presenter/settings_location.h"
#include "programmer/status_texts.h"
#include "text/language.h"
#include "win/device_worker.h"
#include "win/port_list_w32.h"
#include "win/win_ids.h"

namespace zarvik::win {
namespace {

// What the device thread posts back to the window.
constexpr UINT kMsgPhase = WM_APP + 1;      // wParam: memory, lParam: Phase
constexpr UINT kMsgRange = WM_APP + 2;      // wParam: memory, lParam: maximum
constexpr UINT kMsgPosition = WM_APP + 3;   // wParam: memory, lParam: position
constexpr UINT kMsgDone = WM_APP + 4;       // lParam: OperationOutcome*, owned by the receiver
constexpr UINT kMsgConnected = WM_APP + 5;  // lParam: ConnectResult*, owned by the receiver
constexpr UINT_PTR kScanTimer = 1;

constexpr const wchar_t* kSpeeds[] = {L"4800",   L"9600",   L"19200",  L"38400",  L"76800",
                                      L"100000", L"115200", L"125000", L"230400", L"250000"};

// Every control that starts an operation or changes the port, speed, model, files or
// the loader's texts: disabled while an operation runs, so that none overlap.
constexpr int kLockedWhileBusy[] = {
    ids::kConnect,     ids::kStartProgram, ids::kPortList,    ids::kModelList,    ids::kSpeedList,
    ids::kFlashBrowse, ids::kEepromBrowse, ids::kFlashErase,  ids::kFlashWrite,   ids::kFlashVerify,
    ids::kFlashRead,   ids::kEepromErase,  ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead,
    ids::kFosc,        ids::kTimeout,      ids::kConfigureLoader,
};

constexpr const char* kWindow = "zarvik::CVelborDlg";

std::wstring ui_text(const char* context, const char* source) { return widen(tr_text(context, source)); }

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

std::wstring from_cp1251(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(1251, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(1251, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

std::string to_cp1251(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Help.txt may come from either world: UTF-8 where it is valid UTF-8, otherwise the
// Windows-1251 the program's texts were always written in. A zero byte ends it.
std::wstring decode_text_file(std::string bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::wstring text;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n > 0 || bytes.empty()) {
        text.resize(static_cast<std::size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    } else {
        text = from_cp1251(bytes);
    }
    // The edit control breaks lines at CR LF only.
    std::wstring crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) crlf += L'\r';
        crlf += text[i];
    }
    return crlf;
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
void translate_dialog(HWND dialog, const char* context) {
    if (current_language() == Language::Russian) return;
    const auto translate = [context](HWND window) {
        const std::string source = narrow(window_text(window));
        if (source.empty()) return;
        const char* translated = tr_text(context, source.c_str());
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

// Runs on the device thread: every step goes to the window as a posted message.
class PostedProgress final : public ProgressObserver {
public:
    PostedProgress(HWND window, MemoryKind memory) : window_(window), memory_(static_cast<WPARAM>(memory)) {}
    void on_phase(Phase phase) override { PostMessageW(window_, kMsgPhase, memory_, static_cast<LPARAM>(phase)); }
    void on_range(std::uint32_t maximum) override { PostMessageW(window_, kMsgRange, memory_, static_cast<LPARAM>(maximum)); }
    void on_position(std::uint32_t position) override {
        PostMessageW(window_, kMsgPosition, memory_, static_cast<LPARAM>(position));
    }

private:
    HWND window_;
    WPARAM memory_;
};

struct ConnectResult {
    bool connected = false;
    std::optional<ChipIdentity> identity;
};

// What the user confirmed for a second attempt of the same operation.
struct Attempt {
    bool allow_short_wait = false;
    bool accept_unconfirmed = false;
};

using Work = std::function<OperationOutcome(Programmer&, ProgressObserver&, const Attempt&)>;
using Finish = std::function<void(const OperationOutcome&)>;

struct Pending {
    MemoryKind memory = MemoryKind::Flash;
    Phase phase = Phase::Reading;
    Work work;
    Finish finish;
    Attempt attempt;
};

class MainWindow {
public:
    MainWindow(HINSTANCE instance, const WindowOptions& options) : instance_(instance), options_(options) {}
    ~MainWindow() {
        if (line_font_ != nullptr) DeleteObject(line_font_);
        for (HICON icon : browse_icons_) DestroyIcon(icon);
    }

    // Esc pressed in the main window: true when it stopped an operation.
    bool escape_pressed(const MSG& msg) {
        if (!busy_ || msg.message != WM_KEYDOWN || msg.wParam != VK_ESCAPE) return false;
        if (msg.hwnd != window_ && GetAncestor(msg.hwnd, GA_ROOT) != window_) return false;
        request_stop();
        return true;
    }

    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lp);
            auto* self = reinterpret_cast<MainWindow*>(lp);
            self->window_ = window;
            self->initialize();
            return FALSE;  // the focus is set in initialize()
        }
        auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
        return self != nullptr ? self->handle(message, wp, lp) : FALSE;
    }

private:
    HWND item(int id) const { return GetDlgItem(window_, id); }
    HWND bar(MemoryKind memory) const { return item(memory == MemoryKind::Flash ? ids::kFlashProgress : ids::kEepromProgress); }
    std::wstring& path_of(MemoryKind memory) { return memory == MemoryKind::Flash ? flash_path_ : eeprom_path_; }

    void initialize();
    INT_PTR handle(UINT message, WPARAM wp, LPARAM lp);
    void command(int id, int code);
    void apply_dpi();
    void refresh();
    void set_status(const std::wstring& text) {
        status_text_ = text;
        refresh();
    }
    void set_connection_line(const std::wstring& text) {
        if (window_text(item(ids::kConnectionLine)) != text) SetDlgItemTextW(window_, ids::kConnectionLine, text.c_str());
    }
    void message(const std::wstring& text, const char* caption = kErrorCaption) {
        MessageBoxW(window_, text.c_str(), ui_text("status", caption).c_str(), MB_OK);
    }
    // Yes/No with No the default: the answer that leaves everything as it is.
    bool ask(const std::wstring& text) {
        return MessageBoxW(window_, text.c_str(), ui_text("CAboutDlg", "Загрузчик (Zarvik)").c_str(),
                           MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
    }
    bool refuse_without_port() {
        if (port_open_) return false;
        message(ui_text("status", kPortNotOpen));
        return true;
    }

    void scan_tick();
    void rescan_ports();
    void fill_port_list(const std::vector<ListedPort>& ports, const std::string& keep);
    void port_chosen();
    void speed_chosen();
    void model_chosen();
    void select_model(const DeviceModel& model);
    void connect();
    void connect_done(const ConnectResult& result);
    void start_program();
    void erase(MemoryKind memory);
    void write(MemoryKind memory);
    void verify(MemoryKind memory);
    void read(MemoryKind memory);
    void browse(MemoryKind memory);
    void configure_loader();
    void help();
    void about();
    void take_file(const std::string& path);

    void run_operation(MemoryKind memory, Phase phase, Work work, Finish finish, Attempt attempt = {});
    void operation_ended(std::unique_ptr<OperationOutcome> outcome);
    void set_busy(bool busy);
    void request_stop();
    void close_requested();
    void run_exit_sequence();
    void take_edits();

    HINSTANCE instance_;
    WindowOptions options_;
    HWND window_ = nullptr;
    DeviceWorker worker_;
    HFONT line_font_ = nullptr;
    std::vector<HICON> browse_icons_;
    std::vector<ListedPort> ports_;  // item data of the port list points here
    SettingsLocation settings_;
    bool settings_unreadable_ = false;
    bool scanning_ = false;
    bool port_open_ = false;
    bool speed_chosen_ = false;
    bool busy_ = false;
    bool exit_when_done_ = false;
    bool exited_ = false;
    std::string port_name_;
    std::wstring status_text_, fosc_text_, timeout_text_, flash_path_, eeprom_path_;
    std::optional<Pending> pending_;
    HWND focus_before_ = nullptr;
};

void MainWindow::initialize() {
    translate_dialog(window_, "CVelborDlg");
    if (current_language() != Language::Russian) {
        HMENU menu = GetMenu(window_);
        ModifyMenuW(menu, ids::kHelpCommand, MF_BYCOMMAND | MF_STRING, ids::kHelpCommand, ui_text(kWindow, "Помощь").c_str());
        ModifyMenuW(menu, ids::kAboutCommand, MF_BYCOMMAND | MF_STRING, ids::kAboutCommand,
                    ui_text(kWindow, "О программе ...").c_str());
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
    for (const wchar_t* speed : kSpeeds) SendDlgItemMessageW(window_, ids::kSpeedList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
    SendDlgItemMessageW(window_, ids::kSpeedList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    for (const auto& model : kDeviceModels) {
        SendDlgItemMessageW(window_, ids::kModelList, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(widen(std::string(model.name)).c_str()));
    }
    SendDlgItemMessageW(window_, ids::kModelList, CB_SETCURSEL, 0, 0);
    settings_ = locate_settings_here(options_.executable);
    std::string unreadable;
    const LoaderSettings settings = load_settings(settings_.folder, &unreadable);
    settings_unreadable_ = !unreadable.empty();
    fosc_text_ = from_cp1251(settings.fosc);
    timeout_text_ = from_cp1251(settings.timeout);
    if (settings_unreadable_) {
        status_text_ = arg(ui_text(kWindow, "Не удалось прочитать файл %1 (%2): он оставлен как есть, действуют значения 8 и 5"),
                           {widen(settings_file_in(settings_.folder)), widen(unreadable)});
    }
    for (const std::string* file : {&options_.flash_file, &options_.eeprom_file}) {
        if (!file->empty()) take_file(*file);
    }
    refresh();
    SendDlgItemMessageW(window_, ids::kPortList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    scanning_ = true;
    SetTimer(window_, kScanTimer, 10, nullptr);
    SetFocus(item(ids::kConnect));
}

void MainWindow::apply_dpi() {
    const UINT dpi = dpi_of(window_);
    // The template's 16 pixels at 96 dpi, grown with the screen.
    HFONT font = CreateFontW(-MulDiv(16, static_cast<int>(dpi), 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    SendDlgItemMessageW(window_, ids::kConnectionLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (line_font_ != nullptr) DeleteObject(line_font_);
    line_font_ = font;
    const int side = MulDiv(16, static_cast<int>(dpi), 96);
    for (HICON icon : browse_icons_) DestroyIcon(icon);
    browse_icons_.clear();
    for (int id : {ids::kFlashBrowse, ids::kEepromBrowse}) {
        HICON icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(ZARVIK_IDR_BROWSE), IMAGE_ICON, side, side, 0));
        SendDlgItemMessageW(window_, id, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
        browse_icons_.push_back(icon);
    }
}

void MainWindow::refresh() {
    SetDlgItemTextW(window_, ids::kStatusLine, status_text_.c_str());
    SetDlgItemTextW(window_, ids::kFosc, fosc_text_.c_str());
    SetDlgItemTextW(window_, ids::kTimeout, timeout_text_.c_str());
    SetDlgItemTextW(window_, ids::kFlashPath, flash_path_.c_str());
    SetDlgItemTextW(window_, ids::kEepromPath, eeprom_path_.c_str());
}

void MainWindow::take_edits() {
    fosc_text_ = window_text(item(ids::kFosc));
    timeout_text_ = window_text(item(ids::kTimeout));
}

INT_PTR MainWindow::handle(UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_COMMAND:
        command(LOWORD(wp), HIWORD(wp));
        return TRUE;
    case WM_CLOSE:
        close_requested();
        return TRUE;
    case WM_TIMER:
        if (wp == kScanTimer) scan_tick();
        return TRUE;
    case WM_DEVICECHANGE:
        // An adapter plugged in or pulled out: the list follows at once.
        if (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE || wp == DBT_DEVNODES_CHANGED) rescan_ports();
        return TRUE;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wp);
        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count && !busy_; ++i) {
            const UINT n = DragQueryFileW(drop, i, nullptr, 0);
            std::wstring name(n + 1, L'\0');
            DragQueryFileW(drop, i, name.data(), n + 1);
            name.resize(n);
            take_file(narrow(name));
        }
        DragFinish(drop);
        refresh();
        return TRUE;
    }
    case 0x02E0: {  // WM_DPICHANGED: a monitor of another density
        const RECT* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        apply_dpi();
        return TRUE;
    }
    case kMsgPhase:
        set_status(widen(phase_text(static_cast<Phase>(lp), static_cast<MemoryKind>(wp))));
        return TRUE;
    case kMsgRange:
        SendMessageW(bar(static_cast<MemoryKind>(wp)), PBM_SETRANGE32, 0, std::max<LPARAM>(lp, 1));
        return TRUE;
    case kMsgPosition:
        SendMessageW(bar(static_cast<MemoryKind>(wp)), PBM_SETPOS, static_cast<WPARAM>(lp), 0);
        return TRUE;
    case kMsgDone:
        operation_ended(std::unique_ptr<OperationOutcome>(reinterpret_cast<OperationOutcome*>(lp)));
        return TRUE;
    case kMsgConnected: {
        const std::unique_ptr<ConnectResult> result(reinterpret_cast<ConnectResult*>(lp));
        connect_done(*result);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void MainWindow::command(int id, int code) {
    if (code == CBN_SELCHANGE) {
        if (id == ids::kPortList) port_chosen();
        if (id == ids::kSpeedList) speed_chosen();
        if (id == ids::kModelList) model_chosen();
        return;
    }
    if (code == CBN_DROPDOWN) {
        if (id == ids::kPortList) rescan_ports();
        return;
    }
    if (code != BN_CLICKED && code != 0 && code != 1) return;
    // Enter reaches the default button even while it is disabled.
    if (busy_ && id != ids::kExit && id != ZARVIK_IDC_STOP) return;
    switch (id) {
    case ids::kExit: close_requested(); break;
    case ZARVIK_IDC_STOP: request_stop(); break;
    case ids::kConnect: connect(); break;
    case ids::kFlashErase: erase(MemoryKind::Flash); break;
    case ids::kFlashWrite: write(MemoryKind::Flash); break;
    case ids::kFlashVerify: verify(MemoryKind::Flash); break;
    case ids::kFlashRead: read(MemoryKind::Flash); break;
    case ids::kEepromErase: erase(MemoryKind::Eeprom); break;
    case ids::kEepromWrite: write(MemoryKind::Eeprom); break;
    case ids::kEepromVerify: verify(MemoryKind::Eeprom); break;
    case ids::kEepromRead: read(MemoryKind::Eeprom); break;
    case ids::kFlashBrowse: browse(MemoryKind::Flash); break;
    case ids::kEepromBrowse: browse(MemoryKind::Eeprom); break;
    case ids::kStartProgram: start_program(); break;
    case ids::kConfigureLoader: configure_loader(); break;
    case ids::kHelpCommand: help(); break;
    case ids::kAboutCommand: about(); break;
    default: break;
    }
}

void MainWindow::scan_tick() {
    if (port_open_) {
        worker_.call([this] { worker_.port().close(); });
        port_open_ = false;
    }
    const std::vector<ListedPort> found = list_serial_ports();
    if (found.empty()) {
        // Every 10 ms while nothing is there: touch the controls only when they change.
        if (SendDlgItemMessageW(window_, ids::kPortList, CB_GETCOUNT, 0, 0) > 0) {
            SendDlgItemMessageW(window_, ids::kPortList, CB_RESETCONTENT, 0, 0);
        }
        set_connection_line(ui_text("status", kNoPorts));
        SendDlgItemMessageW(window_, ids::kSpeedList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        return;
    }
    fill_port_list(found, {});
    KillTimer(window_, kScanTimer);
    scanning_ = false;
    set_connection_line(widen(port_count_text(static_cast<int>(found.size()))));
}

void MainWindow::rescan_ports() {
    if (scanning_ || busy_) return;
    std::vector<ListedPort> found = list_serial_ports();
    // The port this window holds open stays listed.
    if (port_open_ && std::none_of(found.begin(), found.end(), [&](const ListedPort& p) { return p.name == port_name_; })) {
        found.push_back({port_name_, port_name_});
    }
    const LRESULT index = SendDlgItemMessageW(window_, ids::kPortList, CB_GETCURSEL, 0, 0);
    fill_port_list(found, index == CB_ERR ? std::string() : port_name_);
}

void MainWindow::fill_port_list(const std::vector<ListedPort>& ports, const std::string& keep) {
    ports_ = ports;
    HWND list = item(ids::kPortList);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(ports_[i].label).c_str()));
        SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i));
    }
    LRESULT selected = -1;
    for (LRESULT i = 0, n = SendMessageW(list, CB_GETCOUNT, 0, 0); i < n && !keep.empty(); ++i) {
        if (ports_[static_cast<std::size_t>(SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(i), 0))].name == keep) selected = i;
    }
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void MainWindow::port_chosen() {
    const LRESULT index = SendDlgItemMessageW(window_, ids::kPortList, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    const auto data = static_cast<std::size_t>(SendDlgItemMessageW(window_, ids::kPortList, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    if (data >= ports_.size()) return;
    port_name_ = ports_[data].name;
    bool opened = false;
    worker_.call([this, &opened] {
        worker_.port().close();
        opened = worker_.port().open(port_name_);
        worker_.forget_device();  // another line may lead to another chip
    });
    port_open_ = opened;
    set_connection_line(arg(ui_text(kWindow, opened ? "Открыт порт %1. Выберите скорость" : "Не удалось открыть порт %1"),
                            {widen(port_name_)}));
}

void MainWindow::speed_chosen() {
    if (!port_open_) {
        SendDlgItemMessageW(window_, ids::kSpeedList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        message(ui_text("status", kPortNotOpen));
        return;
    }
    const std::wstring speed = window_text(item(ids::kSpeedList));
    const int baud = _wtoi(speed.c_str());
    worker_.call([this, baud] { worker_.port().set_speed(baud); });
    speed_chosen_ = true;
    set_connection_line(arg(ui_text(kWindow, "Установлена скорость %1 бод"), {speed}));
}

void MainWindow::model_chosen() {
    if (auto model = find_device_model(narrow(window_text(item(ids::kModelList))))) {
        const DeviceModel chosen = *model;
        worker_.call([this, chosen] { worker_.programmer().set_model(chosen); });
    }
}

void MainWindow::select_model(const DeviceModel& model) {
    SendDlgItemMessageW(window_, ids::kModelList, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(widen(std::string(model.name)).c_str()));
    worker_.call([this, model] { worker_.programmer().set_model(model); });
}

void MainWindow::connect() {
    set_status({});
    if (refuse_without_port()) return;
    if (!speed_chosen_) {
        message(ui_text("status", kSpeedNotChosen));
        return;
    }
    set_busy(true);
    worker_.post([this] {
        auto result = std::make_unique<ConnectResult>();
        Programmer& programmer = worker_.programmer();
        result->connected = programmer.connect() == HandshakeOutcome::Connected;
        // Which chip answers, asked once for this connection: three block reads.
        if (result->connected) result->identity = programmer.identify_device();
        PostMessageW(window_, kMsgConnected, 0, reinterpret_cast<LPARAM>(result.release()));
    });
}

void MainWindow::connect_done(const ConnectResult& result) {
    set_busy(false);
    if (exit_when_done_) {
        run_exit_sequence();
        return;
    }
    set_connection_line(ui_text("status", result.connected ? kConnected : kNotConnected));
    if (!result.identity || !result.identity->found()) return;
    const std::uint32_t start = *result.identity->loader_start;
    DeviceModel selected = kDefaultModel;
    worker_.call([this, &selected] { selected = worker_.state().model; });
    if (selected.loader_start == start) return;
    const auto found = std::find_if(kDeviceModels.begin(), kDeviceModels.end(),
                                    [start](const DeviceModel& m) { return m.loader_start == start; });
    if (found == kDeviceModels.end()) return;
    select_model(*found);
    wchar_t address[8];
    swprintf(address, 8, L"%04X", start);
    set_status(arg(ui_text(kWindow, "Подключён %1 (загрузчик с адреса %2): в списке МК выбран %3"),
                   {widen(chip_name(start)), address, widen(std::string(found->name))}));
}

void MainWindow::start_program() {
    if (refuse_without_port()) return;
    bool sent = false;
    worker_.call([this, &sent] { sent = worker_.programmer().start_program(); });
    set_status(sent ? ui_text("status", kProgramStarted) : ui_text(kWindow, "Не удалось отправить команду запуска программы"));
}

void MainWindow::erase(MemoryKind memory) {
    if (refuse_without_port()) return;
    run_operation(
        memory, Phase::Erasing,
        [memory](Programmer& p, ProgressObserver& progress, const Attempt&) { return p.erase(memory, progress); },
        [this](const OperationOutcome& o) { set_status(widen(status_text(o))); });
}

void MainWindow::write(MemoryKind memory) {
    set_status({});
    if (refuse_without_port()) return;
    if (path_of(memory).empty()) {
        message(ui_text("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
        return;
    }
    const std::string path = narrow(path_of(memory));
    run_operation(
        memory, Phase::Writing,
        [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) { return p.write(memory, path, progress); },
        [this](const OperationOutcome& o) { set_status(widen(status_text(o))); });
}

void MainWindow::verify(MemoryKind memory) {
    set_status({});
    if (refuse_without_port()) return;
    if (path_of(memory).empty()) {
        message(ui_text("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
        return;
    }
    const std::string path = narrow(path_of(memory));
    run_operation(
        memory, Phase::Reading,
        [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) { return p.verify(memory, path, progress); },
        [this](const OperationOutcome& o) { set_status(widen(status_text(o))); });
}

// The one filter of each memory's open and save dialogs, and ELF beside it.
std::wstring file_filter(MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    std::wstring filter = ui_text("CVelborDlg", flash ? "Файлы программной памяти flash (*.hex)" : "Файлы памяти данных EEPROM (*.eep)");
    filter += L'\0';
    filter += flash ? L"*.hex" : L"*.eep";
    filter += L'\0';
    filter += L"ELF (*.elf)";
    filter += L'\0';
    filter += L"*.elf";
    filter += L'\0';
    return filter;
}

void MainWindow::read(MemoryKind memory) {
    SendMessageW(bar(memory), PBM_SETPOS, 0, 0);
    if (refuse_without_port()) return;
    const bool flash = memory == MemoryKind::Flash;
    wchar_t name[MAX_PATH * 4] = {};
    const std::wstring filter = file_filter(memory).substr(0, file_filter(memory).find(L"ELF")) + L'\0';
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = static_cast<DWORD>(std::size(name));
    ofn.lpstrDefExt = flash ? L"hex" : L"eep";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) return;
    const std::string target = with_required_extension(narrow(name), flash ? ".hex" : ".eep");
    run_operation(
        memory, Phase::Reading,
        [memory, target](Programmer& p, ProgressObserver& progress, const Attempt&) {
            const OperationOutcome read = p.read(memory, progress);
            return read.ok() ? p.save_read(read, target) : read;
        },
        [this](const OperationOutcome& o) { set_status(widen(status_text(o))); });
}

void MainWindow::browse(MemoryKind memory) {
    set_status({});
    SendMessageW(bar(memory), PBM_SETPOS, 0, 0);
    wchar_t name[MAX_PATH * 4] = {};
    const std::wstring filter = file_filter(memory);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = static_cast<DWORD>(std::size(name));
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return;
    path_of(memory) = name;
    refresh();
}

void MainWindow::take_file(const std::string& path) {
    switch (slot_for_file(path)) {
    case FileSlot::Flash: flash_path_ = widen(path); break;
    case FileSlot::Eeprom: eeprom_path_ = widen(path); break;
    case FileSlot::None: break;
    }
}

void MainWindow::configure_loader() {
    if (refuse_without_port()) return;
    take_edits();
    const std::string fosc = narrow(fosc_text_);
    const std::string timeout = narrow(timeout_text_);
    run_operation(
        MemoryKind::Flash, Phase::Configuring,
        [fosc, timeout](Programmer& p, ProgressObserver& progress, const Attempt& attempt) {
            return p.configure_loader(fosc, timeout, progress, ConfigureOptions{.allow_short_wait = attempt.allow_short_wait});
        },
        [this](const OperationOutcome& o) {
            fosc_text_ = widen(o.fosc_text);
            timeout_text_ = widen(o.timeout_text);
            set_status(widen(status_text(o)));
        });
}

void MainWindow::run_operation(MemoryKind memory, Phase phase, Work work, Finish finish, Attempt attempt) {
    pending_ = Pending{memory, phase, std::move(work), std::move(finish), attempt};
    set_busy(true);
    set_status(widen(phase_text(phase, memory)));
    worker_.post([this, memory, work = pending_->work, attempt] {
        PostedProgress progress(window_, memory);
        Programmer& programmer = worker_.programmer();
        if (attempt.accept_unconfirmed) programmer.accept_unconfirmed_device();
        auto outcome = std::make_unique<OperationOutcome>(work(programmer, progress, attempt));
        PostMessageW(window_, kMsgDone, 0, reinterpret_cast<LPARAM>(outcome.release()));
    });
}

void MainWindow::operation_ended(std::unique_ptr<OperationOutcome> outcome) {
    set_busy(false);
    if (exit_when_done_) {
        run_exit_sequence();
        return;
    }
    if (!pending_) return;
    Pending done = std::move(*pending_);
    pending_.reset();
    using Result = OperationOutcome::Result;
    if (outcome->result == Result::Refused &&
        (outcome->refusal == Refusal::WaitTooShort || outcome->refusal == Refusal::DeviceNotConfirmed)) {
        set_status({});  // nothing was sent; no phase text stays behind
        const bool short_wait = outcome->refusal == Refusal::WaitTooShort;
        const std::wstring question =
            short_wait ? ui_text(kWindow, "Записать такое время ожидания всё же?")
                       : ui_text(kWindow, "Если на плате загрузчик с другим первым блоком, можно продолжить без проверки. Продолжить?");
        if (!ask(widen(status_text(*outcome)) + L"\n\n" + question)) return;
        Attempt again = done.attempt;
        (short_wait ? again.allow_short_wait : again.accept_unconfirmed) = true;
        run_operation(done.memory, done.phase, std::move(done.work), std::move(done.finish), again);
        return;
    }
    if (outcome->result == Result::Refused || outcome->result == Result::FileFailure) {
        set_status({});
        message(widen(status_text(*outcome)));
        return;
    }
    done.finish(*outcome);
}

void MainWindow::set_busy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        focus_before_ = GetFocus();
        worker_.cancellation().clear();
    }
    for (int id : kLockedWhileBusy) EnableWindow(item(id), busy ? FALSE : TRUE);
    EnableWindow(item(ZARVIK_IDC_STOP), busy ? TRUE : FALSE);
    SetCursor(LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
    if (busy) {
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(ZARVIK_IDC_STOP)), TRUE);
    } else {
        if (focus_before_ != nullptr && IsWindowEnabled(focus_before_)) {
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_before_), TRUE);
        }
        focus_before_ = nullptr;
        worker_.cancellation().clear();
    }
}

void MainWindow::request_stop() {
    if (!busy_) return;
    // During a span that must not be cut, the request waits for its end.
    worker_.cancellation().request();
    EnableWindow(item(ZARVIK_IDC_STOP), FALSE);
}

void MainWindow::close_requested() {
    if (!busy_) {
        run_exit_sequence();
        return;
    }
    if (exit_when_done_) return;
    if (worker_.cancellation().held()) {
        message(ui_text(kWindow, "Сейчас записывается первый блок загрузчика. Прервать запись нельзя: плата осталась бы без загрузчика. Окно можно будет закрыть, когда запись закончится."),
                kWarningCaption);
        return;
    }
    if (!ask(ui_text(kWindow, "Операция ещё не закончена. Прервать её и закрыть окно?"))) return;
    if (!busy_) {
        run_exit_sequence();  // it ended while the question was open
        return;
    }
    exit_when_done_ = true;
    request_stop();
}

void MainWindow::run_exit_sequence() {
    if (exited_) return;
    exited_ = true;
    KillTimer(window_, kScanTimer);
    worker_.call([this] { worker_.port().close(); });  // puts back the line settings the port had
    port_open_ = false;
    take_edits();
    const LoaderSettings typed{to_cp1251(fosc_text_), to_cp1251(timeout_text_)};
    // A file that was there but could not be read keeps what it holds, unless the user
    // typed values of their own to replace the defaults that stood in for it.
    const bool keep_unreadable =
        settings_unreadable_ && typed.fosc == LoaderSettings{}.fosc && typed.timeout == LoaderSettings{}.timeout;
    if (!keep_unreadable) {
        if (auto error = save_settings(settings_.folder, typed)) {
            message(arg(ui_text(kWindow, "Не удалось сохранить настройки в файл %1: %2"),
                        {widen(settings_file_in(settings_.folder)), widen(*error)}));
        }
    }
    EndDialog(window_, 0);
}

// Help.txt from the working folder, as always, else from beside the program; the
// English help from Help_en.txt where there is one. Says where the settings live.
INT_PTR CALLBACK help_procedure(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    if (message == WM_INITDIALOG) {
        translate_dialog(dialog, "CHelpDlg");
        SetDlgItemTextW(dialog, ids::kHelpText, reinterpret_cast<const wchar_t*>(lp));
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK about_procedure(HWND dialog, UINT message, WPARAM wp, LPARAM) {
    if (message == WM_INITDIALOG) {
        translate_dialog(dialog, "CAboutDlg");
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

std::string folder_of(const std::string& path) {
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

void MainWindow::help() {
    const char* names[] = {"Help.txt", nullptr};
    if (current_language() == Language::English) names[0] = "Help_en.txt", names[1] = "Help.txt";
    std::string bytes;
    bool found = false;
    for (const char* name : names) {
        if (name == nullptr || found) continue;
        for (const std::string& folder : {std::string(), folder_of(options_.executable)}) {
            const std::string path = folder.empty() ? std::string(name) : folder + "\\" + name;
            if (!read_whole_file(path, bytes).has_value()) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        message(ui_text("CHelpDlg", "В папке программы отсутствует файл \"Help.txt\""), kWarningCaption);
        return;
    }
    std::wstring text = decode_text_file(bytes);
    text += L"\r\n\r\n" + arg(widen(tr_text("win", "Настройки (частота МК и время ожидания) хранятся в файле %1")),
                              {widen(settings_file_in(settings_.folder))});
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZARVIK_IDD_HELP), window_, help_procedure,
                    reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::about() {
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZARVIK_IDD_ABOUT), window_, about_procedure, 0);
}

MainWindow* g_window = nullptr;

LRESULT CALLBACK escape_filter(int code, WPARAM wp, LPARAM lp) {
    if (code == MSGF_DIALOGBOX && g_window != nullptr && g_window->escape_pressed(*reinterpret_cast<const MSG*>(lp))) {
        return 1;
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

FileSlot slot_for_file(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return FileSlot::None;
    std::string extension = path.substr(dot);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == ".hex" || extension == ".elf") return FileSlot::Flash;
    if (extension == ".eep") return FileSlot::Eeprom;
    return FileSlot::None;
}

int run_main_window(HINSTANCE instance, const WindowOptions& options) {
    MainWindow window(instance, options);
    // Esc during an operation is «Стоп». The dialog's own loop would make it the same
    // command as «Выход», so it is taken before the loop translates it.
    g_window = &window;
    HHOOK hook = SetWindowsHookExW(WH_MSGFILTER, escape_filter, nullptr, GetCurrentThreadId());
    DialogBoxParamW(instance, MAKEINTRESOURCEW(ZARVIK_IDD_MAIN), nullptr, MainWindow::procedure,
                    reinterpret_cast<LPARAM>(&window));
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    g_window = nullptr;
    return 0;
}

}  // namespace zarvik::win
