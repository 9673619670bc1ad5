// The port on Windows: a COM device opened by its device path, set up through a DCB,
// and read with the driver's own time-outs, as Windows programs for these boards do.
#include <windows.h>

#include <algorithm>

#include "platform/text_win.h"
#include "text/language.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "serial/line_win.h"

namespace zarvik {

namespace win {

void apply_loader_line(DCB& dcb, int baud) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}

COMMTIMEOUTS loader_timeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 50;
    t.ReadTotalTimeoutMultiplier = 50;
    t.ReadTotalTimeoutConstant = 50;
    t.WriteTotalTimeoutMultiplier = 50;
    t.WriteTotalTimeoutConstant = 50;
    return t;
}

}  // namespace win

struct SerialPort::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB saved{};
    COMMTIMEOUTS saved_timeouts{};
    bool have_saved = false;
    int baud = 0;
    // When the bytes written so far have left the line, by the speed. WriteFile may
    // return once the bytes are in the driver's buffer (Wine's does), long before they
    // are sent at low speeds: a 128-byte block takes 267 ms at 4800 baud, more than the
    // 250 ms an acknowledgement is given. The answer's time-out counts from here.
    std::int64_t sent_by_ms = 0;
};

namespace {

// COM10 and above open only through the device namespace; a name that already carries
// the prefix is taken as it is.
std::wstring device_path(const std::string& name) {
    const std::wstring wide = win::widen(name);
    return wide.starts_with(L"\\\\.\\") ? wide : L"\\\\.\\" + wide;
}

std::string why(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return tr_text("port", "такого порта нет");
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return tr_text("port", "порт занят другой программой");
        default: return win::system_message(code);
    }
}

// A vanished adapter (a USB serial converter pulled out) leaves the handle open, but
// the driver no longer answers for it. Clearing also lifts a line error's hold on
// later reads and writes.
bool gone(HANDLE h) {
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(h, &errors, &status) == FALSE;
}

// After an aborted read or write (a stop's CancelSynchronousIo) the port is waited on
// for this long before the exchange goes on, so that a driver that keeps aborting
// cannot make the retries spin.
constexpr std::int64_t kAbortPauseMs = 10;

}  // namespace

std::string port_path(const std::string& name) { return win::narrow(device_path(name)); }

bool same_port(const std::string& a, const std::string& b) {
    // Device names are not case-sensitive: COM3 is com3.
    return ::CompareStringOrdinal(device_path(a).c_str(), -1, device_path(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

SerialPort::SerialPort(Clock& clock, ReadTimeouts timeouts)
    : native_(std::make_unique<Native>()), clock_(clock), timeouts_(timeouts) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::is_open() const { return native_->handle != INVALID_HANDLE_VALUE; }

bool SerialPort::open(const std::string& name) {
    close();
    name_ = name;
    error_.clear();
    // Share mode 0: the open fails while another program holds the port.
    HANDLE h = ::CreateFileW(device_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = port_open_failure(name, why(::GetLastError()));
        return false;
    }
    native_->saved.DCBlength = sizeof(DCB);
    if (::GetCommState(h, &native_->saved) == FALSE) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(h);
        error_ = port_open_failure(name, code == ERROR_INVALID_FUNCTION ? std::string(tr_text("port", "это не последовательный порт")) : why(code));
        return false;
    }
    native_->have_saved = ::GetCommTimeouts(h, &native_->saved_timeouts) != FALSE;
    // Reads are bounded from the start, and the board is kept out of reset.
    COMMTIMEOUTS timeouts = win::loader_timeouts();
    ::SetCommTimeouts(h, &timeouts);
    ::EscapeCommFunction(h, CLRDTR);
    ::EscapeCommFunction(h, CLRRTS);
    native_->handle = h;
    native_->baud = 0;
    native_->sent_by_ms = 0;
    return true;
}

void SerialPort::close() {
    HANDLE& h = native_->handle;
    if (h == INVALID_HANDLE_VALUE) return;
    ::SetCommState(h, &native_->saved);
    if (native_->have_saved) ::SetCommTimeouts(h, &native_->saved_timeouts);
    ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
}

bool SerialPort::set_speed(int baud) {
    if (!is_open()) return false;
    HANDLE h = native_->handle;
    error_.clear();
    native_->baud = 0;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    ::GetCommState(h, &dcb);
    win::apply_loader_line(dcb, baud);
    const bool taken = ::SetCommState(h, &dcb) != FALSE;
    COMMTIMEOUTS timeouts = win::loader_timeouts();
    ::SetCommTimeouts(h, &timeouts);
    // A driver may take a speed it cannot make and set a near one instead: only the
    // speed read back says what the line runs at.
    DCB now{};
    now.DCBlength = sizeof(DCB);
    const int actual = taken && ::GetCommState(h, &now) != FALSE ? static_cast<int>(now.BaudRate) : 0;
    if (!runs_at_speed(baud, actual)) {
        error_ = speed_failure(name_, baud, actual);
        return false;
    }
    native_->baud = baud;
    return true;
}

bool SerialPort::pulse_dtr(std::int64_t ms) {
    if (!is_open()) return false;
    const bool raised = ::EscapeCommFunction(native_->handle, SETDTR) != FALSE;
    clock_.sleep_ms(ms);
    const bool lowered = ::EscapeCommFunction(native_->handle, CLRDTR) != FALSE;
    return raised && lowered;
}

// A console control handler may cut a write short with CancelSynchronousIo. While a
// hold defers the stop (the loader's own block is being written) the rest still goes
// out, within the write's own time-out; otherwise the write ends there.
bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!is_open()) return false;
    HANDLE h = native_->handle;
    const std::int64_t began = clock_.now_ms();
    const std::int64_t deadline = began + timeouts_.total_for(bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 0x10000));
        const BOOL ok = ::WriteFile(h, bytes.data() + done, want, &n, nullptr);
        done += n;
        if (ok != FALSE) {
            if (n == 0) return false;
            continue;
        }
        if (::GetLastError() != ERROR_OPERATION_ABORTED || gone(h)) return false;
        if (!stop_deferred() || clock_.now_ms() >= deadline) return false;
        clock_.sleep_ms(kAbortPauseMs);
    }
    if (native_->baud > 0) native_->sent_by_ms = std::max(native_->sent_by_ms, began) + line_time_ms(bytes.size(), native_->baud);
    return true;
}

// One ReadFile for the whole count: the driver applies the 50/50/50 time-outs exactly,
// from when the question has left the line. A console control handler may cut it short
// with CancelSynchronousIo; the abort is cleared, and the rest is read on only while a
// hold defers the stop, within the read's own time.
ReadResult SerialPort::read(std::span<std::uint8_t> into) {
    ReadResult result;
    if (!is_open()) return ReadResult{0, true};
    HANDLE h = native_->handle;
    while (clock_.now_ms() < native_->sent_by_ms) {
        if (stop_requested()) {
            result.interrupted = true;
            return result;
        }
        clock_.sleep_ms(std::min<std::int64_t>(native_->sent_by_ms - clock_.now_ms(), 10));
    }
    const std::int64_t deadline = clock_.now_ms() + timeouts_.total_for(into.size());
    while (result.count < into.size()) {
        if (stop_requested()) {
            result.interrupted = true;
            return result;
        }
        DWORD n = 0;
        const BOOL ok = ::ReadFile(h, into.data() + result.count, static_cast<DWORD>(into.size() - result.count), &n, nullptr);
        result.count += n;
        if (ok != FALSE) {
            if (n == 0 || result.count < into.size()) break;  // the time-outs ended it
            continue;
        }
        if (::GetLastError() != ERROR_OPERATION_ABORTED || gone(h)) {
            result.line_lost = true;
            return result;
        }
        if (!stop_deferred() || clock_.now_ms() >= deadline) break;
        clock_.sleep_ms(kAbortPauseMs);
    }
    if (result.count < into.size()) {
        if (gone(h)) result.line_lost = true;
        else if (stop_requested()) result.interrupted = true;
    }
    return result;
}

void SerialPort::discard_input() {
    if (!is_open()) return;
    ::PurgeComm(native_->handle, PURGE_RXCLEAR);
}

std::vector<std::string> system_serial_ports() {
    std::vector<std::string> names;
    HKEY key{};
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t value_name[256];
        DWORD name_len = 256;
        wchar_t data[256];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        if (::RegEnumValueW(key, index, value_name, &name_len, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &data_size) != ERROR_SUCCESS)
            break;
        if (type != REG_SZ) continue;
        std::wstring port(data, data_size / sizeof(wchar_t));
        while (!port.empty() && port.back() == L'\0') port.pop_back();
        if (!port.empty()) names.push_back(win::narrow(port));
    }
    ::RegCloseKey(key);
    return names;
}

}  // namespace zarvik
