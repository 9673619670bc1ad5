// The port on Linux, macOS and the BSDs: a terminal device driven through termios.
#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <sys/select.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "text/language.h"
#include "serial/port_scan.h"
#include "serial/posix_line.h"
#include "serial/serial_port.h"

namespace zarvik {

struct SerialPort::Native {
    int fd = -1;
    posix_line::Saved saved;
    int baud = 0;
    // When the bytes written so far have left the line, by the speed. write() returns
    // once they are in the kernel's buffer, long before that at low speeds: a 128-byte
    // block takes 267 ms at 4800 baud, more than the 250 ms an acknowledgement is given.
    // The answer's time-out counts from here, as it would after a write that blocks
    // until the bytes are sent.
    std::int64_t sent_by_ms = 0;
};

namespace {

// Waits are sliced so that the injected clock, not the kernel, decides when a read has
// run out of time, and so that a stop request is seen within a slice.
constexpr std::int64_t kWaitSliceMs = 10;

// What to do about a port this user may not open: join the group that owns the device
// (dialout on Debian), then log in again so that the membership takes effect.
std::string permission_hint(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    const group* owner = ::getgrgid(st.st_gid);
    if (owner == nullptr || owner->gr_gid == 0) return {};
    char text[512];
    std::snprintf(text, sizeof text,
                  tr_text("port", "; добавьте себя в группу %s (sudo usermod -aG %s $USER) и войдите в систему заново"),
                  owner->gr_name, owner->gr_name);
    return text;
}

std::string why(int code, const std::string& path = {}) {
    switch (code) {
        case ENOENT:
        case ENXIO:
        case ENODEV: return tr_text("port", "такого порта нет");
        case EBUSY:
        case EWOULDBLOCK: return tr_text("port", "порт занят другой программой");
        case EACCES:
        case EPERM:
            return tr_string("port", "нет прав на порт") + " (" + std::strerror(code) + ")" + permission_hint(path);
        case ENOTTY: return tr_text("port", "это не последовательный порт");
        default: return std::strerror(code);
    }
}

enum class Wait { Ready, Quiet, HungUp };

// macOS's poll() does not work on terminals; select() does everywhere.
Wait wait_for(int fd, bool output, std::int64_t ms) {
#if defined(__APPLE__)
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    const int n = ::select(fd + 1, output ? nullptr : &set, output ? &set : nullptr, nullptr, &tv);
    if (n < 0 && errno != EINTR) return Wait::HungUp;
    return n > 0 ? Wait::Ready : Wait::Quiet;
#else
    pollfd p{fd, static_cast<short>(output ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&p, 1, static_cast<int>(ms));
    if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Wait::HungUp;
    return n > 0 ? Wait::Ready : Wait::Quiet;
#endif
}

bool set_modem_line(int fd, int line, bool on) { return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0; }

}  // namespace

std::string port_path(const std::string& name) {
    return name.find('/') != std::string::npos ? name : "/dev/" + name;
}

bool same_port(const std::string& a, const std::string& b) {
    const std::filesystem::path first = std::filesystem::u8path(port_path(a));
    const std::filesystem::path second = std::filesystem::u8path(port_path(b));
    std::error_code ec;
    const bool same = std::filesystem::equivalent(first, second, ec);
    if (!ec) return same;
    // A port that is not there (yet) is the same as another only by its path.
    std::error_code first_ec, second_ec;
    const std::filesystem::path one = std::filesystem::weakly_canonical(first, first_ec);
    const std::filesystem::path other = std::filesystem::weakly_canonical(second, second_ec);
    if (first_ec || second_ec) return first.lexically_normal() == second.lexically_normal();
    return one == other;
}

SerialPort::SerialPort(Clock& clock, ReadTimeouts timeouts)
    : native_(std::make_unique<Native>()), clock_(clock), timeouts_(with_extra_wait(timeouts)) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::is_open() const { return native_->fd >= 0; }

bool SerialPort::open(const std::string& name) {
    close();
    name_ = name;
    error_.clear();
    // Every message names the path tried, which a bare name is not.
    const std::string path = port_path(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = port_open_failure(path, why(errno, path));
        return false;
    }
    // TIOCEXCL keeps other users out but not root; the advisory lock is what other
    // programs that care (and a second Zarvik) see.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        error_ = port_open_failure(path, why(code));
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        error_ = port_open_failure(path, why(ENOTTY));
        return false;
    }
    posix_line::save(fd, native_->saved);
    // USB adapters otherwise hold short answers back until their latency timer runs out.
    posix_line::ask_low_latency(fd, native_->saved);
    // Raw at the speed the driver holds, so reads are bounded before any speed is
    // chosen; and the board kept out of reset, which many drivers cause by raising DTR.
    posix_line::configure(fd, 0);
    set_modem_line(fd, TIOCM_DTR | TIOCM_RTS, false);
    native_->fd = fd;
    native_->baud = 0;
    return true;
}

void SerialPort::close() {
    int& fd = native_->fd;
    if (fd < 0) return;
    posix_line::restore(fd, native_->saved);
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    fd = -1;
    native_->saved.valid = false;
    native_->saved.low_latency = -1;
}

bool SerialPort::set_speed(int baud) {
    if (!is_open()) return false;
    error_.clear();
    native_->baud = 0;
    const bool taken = posix_line::configure(native_->fd, baud);
    // A pseudo-terminal has no modem lines; that is no reason to refuse the speed.
    set_modem_line(native_->fd, TIOCM_DTR | TIOCM_RTS, false);
    // A driver may take a speed it cannot make and run at a near one: only the speed
    // read back says what the line runs at.
    const int reported = taken ? posix_line::speed(native_->fd) : 0;
    const int actual = taken && reported == 0 ? baud : reported;
    if (!runs_at_speed(baud, actual)) {
        error_ = speed_failure(name_, baud, actual);
        return false;
    }
    native_->baud = baud;
    return true;
}

bool SerialPort::pulse_dtr(std::int64_t ms) {
    if (!is_open()) return false;
    const bool raised = set_modem_line(native_->fd, TIOCM_DTR, true);
    clock_.sleep_ms(ms);
    const bool lowered = set_modem_line(native_->fd, TIOCM_DTR, false);
    return raised && lowered;
}

bool SerialPort::write(std::span<const std::uint8_t> bytes) {
    if (!is_open()) return false;
    const int fd = native_->fd;
    const std::int64_t deadline = clock_.now_ms() + timeouts_.total_for(bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0 || stop_requested()) return false;
        if (wait_for(fd, true, std::min(left, kWaitSliceMs)) == Wait::HungUp) return false;
    }
    if (native_->baud > 0) {
        native_->sent_by_ms = std::max(native_->sent_by_ms, clock_.now_ms()) + line_time_ms(bytes.size(), native_->baud);
    }
    return true;
}

ReadResult SerialPort::read(std::span<std::uint8_t> into) {
    ReadResult result;
    if (!is_open()) return ReadResult{0, true};
    const int fd = native_->fd;
    const std::int64_t start = std::max(clock_.now_ms(), native_->sent_by_ms);
    const std::int64_t total_deadline = start + timeouts_.total_for(into.size());
    std::int64_t last_byte = start;
    bool signalled = false;  // the last wait said there was something to read
    bool hung_up = false;
    while (result.count < into.size()) {
        const ssize_t n = ::read(fd, into.data() + result.count, into.size() - result.count);
        if (n > 0) {
            result.count += static_cast<std::size_t>(n);
            last_byte = clock_.now_ms();
            continue;
        }
        // A vanished adapter or a closed pseudo-terminal fails with EIO, or shows as a
        // hang-up, or reads as end of file right after a wait said the line was ready.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || (n == 0 && (hung_up || signalled))) {
            result.line_lost = true;
            return result;
        }
        std::int64_t deadline = total_deadline;
        if (result.count > 0) deadline = std::min(deadline, last_byte + timeouts_.interval_ms);
        const std::int64_t left = deadline - clock_.now_ms();
        if (left <= 0) return result;
        if (stop_requested()) {
            result.interrupted = true;
            return result;
        }
        const Wait w = wait_for(fd, false, std::min(left, kWaitSliceMs));
        // Take what is still there first; the next empty read then ends the exchange.
        hung_up = w == Wait::HungUp;
#if defined(__APPLE__)
        signalled = w == Wait::Ready;  // select() has no hang-up of its own
#endif
    }
    return result;
}

void SerialPort::discard_input() {
    if (!is_open()) return;
    ::tcflush(native_->fd, TCIFLUSH);
    std::uint8_t sink[256];
    while (::read(native_->fd, sink, sizeof sink) > 0) {
    }
}

// The system's ports ------------------------------------------------------------

namespace {

std::vector<std::string> list_from_system() {
    std::vector<std::string> names;
#if defined(__linux__)
    // Every tty the kernel ties to a device is a serial port of some kind; the
    // virtual consoles and pseudo-terminals have no device link.
    if (DIR* dir = ::opendir("/sys/class/tty")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.starts_with('.')) continue;
            struct stat st {};
            if (::stat(("/sys/class/tty/" + name + "/device/driver").c_str(), &st) != 0) continue;
            // Legacy 8250 slots exist whether or not a UART sits behind them; the probe
            // that follows leaves those out as it opens each one.
            names.push_back(name);
        }
        ::closedir(dir);
    }
#else
    // The callout devices: opening them does not wait for carrier.
    if (DIR* dir = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.starts_with("cu.") || name.starts_with("cuaU") || name.starts_with("cuau"))
                names.push_back("/dev/" + name);
        }
        ::closedir(dir);
    }
#endif
    std::sort(names.begin(), names.end());
    return names;
}

// The window scans every 10 ms until a port appears. An adapter that comes or goes
// adds or removes its node in /dev, which changes the folder's modification time:
// until then the last list stands.
struct SystemPortCache {
    std::mutex lock;
    bool valid = false;
    struct stat dev {};
    std::vector<std::string> names;
};

bool same_time(const struct stat& a, const struct stat& b) {
#if defined(__APPLE__)
    return a.st_mtimespec.tv_sec == b.st_mtimespec.tv_sec && a.st_mtimespec.tv_nsec == b.st_mtimespec.tv_nsec;
#else
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
#endif
}

}  // namespace

namespace {

std::string first_line(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return {};
    char buf[256] = {};
    const bool got = std::fgets(buf, sizeof buf, f) != nullptr;
    std::fclose(f);
    std::string line = got ? buf : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

PortDescription describe_serial_port(const std::string& name, const std::string& sysfs) {
    PortDescription d;
#if defined(__linux__)
    const std::string base = name.substr(name.find_last_of('/') + 1);
    char resolved[4096];
    const std::string link = sysfs + "/class/tty/" + base + "/device";
    if (::realpath(link.c_str(), resolved) == nullptr) return d;
    // The tty's device is an interface of the USB device that carries the ids; walk up
    // to it, but never out of sysfs.
    std::string dir = resolved;
    for (int up = 0; up < 6 && dir.size() > sysfs.size(); ++up) {
        const std::string vendor = first_line(dir + "/idVendor");
        if (!vendor.empty()) {
            d.usb_id = vendor + ":" + first_line(dir + "/idProduct");
            d.product = first_line(dir + "/product");
            d.manufacturer = first_line(dir + "/manufacturer");
            d.serial = first_line(dir + "/serial");
            break;
        }
        dir.resize(dir.find_last_of('/'));
    }
#else
    (void)name;
    (void)sysfs;
#endif
    return d;
}

std::vector<std::string> system_serial_ports() {
    static SystemPortCache cache;
    std::lock_guard guard(cache.lock);
    struct stat dev {};
    const bool known = ::stat("/dev", &dev) == 0;
    if (known && cache.valid && same_time(dev, cache.dev)) return cache.names;
    cache.names = list_from_system();
    cache.valid = known;
    cache.dev = dev;
    return cache.names;
}

}  // namespace zarvik
