// What every platform's port shares: the failure sentence and the scan.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "link/clock.h"
#include "text/language.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"

namespace zarvik {

std::string port_open_failure(const std::string& name, const std::string& why) {
    std::string text = tr_string("port", "Не удалось открыть порт ") + name;
    if (!why.empty()) text += ": " + why;
    return text;
}

namespace {

// Milliseconds from the environment; anything but a number of them counts as unset.
std::int64_t extra_ms(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long long ms = std::strtoll(text, &end, 10);
    if (*end != '\0' || ms <= 0 || ms > 600'000) return 0;
    return ms;
}

}  // namespace

ReadTimeouts with_extra_wait(ReadTimeouts timeouts) {
    // Kept apart: a longer pause makes every answer that is shorter than asked for
    // (the handshake's) end that much later, a longer wait to begin does not.
    timeouts.total_constant_ms += extra_ms(kExtraWaitVariable);
    timeouts.interval_ms += extra_ms(kExtraGapVariable);
    return timeouts;
}

bool runs_at_speed(int asked, int actual) {
    if (asked <= 0 || actual <= 0) return false;
    const std::int64_t off = static_cast<std::int64_t>(actual) - asked;
    return (off < 0 ? -off : off) * 50 <= asked;
}

std::string speed_failure(const std::string& name, int asked, int actual) {
    char text[256];
    if (actual <= 0) {
        std::snprintf(text, sizeof text, tr_text("port", "порт %s не принял скорость %d бод"), name.c_str(), asked);
    } else {
        std::snprintf(text, sizeof text, tr_text("port", "порт %s работает на %d бод, а не на %d: драйвер не даёт этой скорости"),
                      name.c_str(), actual, asked);
    }
    return text;
}

std::int64_t line_time_ms(std::size_t bytes, int baud) {
    if (baud <= 0) return 0;
    return static_cast<std::int64_t>((bytes * 10'000 + static_cast<std::size_t>(baud) - 1) / static_cast<std::size_t>(baud));
}

std::string PortDescription::text() const {
    std::string out;
    for (const std::string* part : {&product, &manufacturer, &usb_id}) {
        if (part->empty()) continue;
        if (!out.empty()) out += ", ";
        out += *part;
    }
    return out;
}

std::vector<std::string> split_port_list(const std::string& text) {
#if defined(_WIN32)
    constexpr char kSeparator = ';';
#else
    constexpr char kSeparator = ':';
#endif
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(kSeparator, at);
        if (end == std::string::npos) end = text.size();
        if (end > at) names.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::vector<std::string> serial_port_candidates(const std::vector<std::string>& extra) {
    std::vector<std::string> names;
    if (const char* listed = std::getenv("ZARVIK_SERIAL_PORTS")) {
        names = split_port_list(listed);
    } else {
        names = system_serial_ports();
    }
    names.insert(names.end(), extra.begin(), extra.end());
    return names;
}

bool probe_serial_port(const std::string& name) {
    SteadyClock clock;
    SerialPort port(clock);
    return port.open(name);  // closed, settings put back, when it goes out of scope
}

std::vector<std::string> scan_serial_ports(const std::vector<std::string>& candidates) {
    std::vector<std::string> openable;
    for (const std::string& name : candidates) {
        if (std::find(openable.begin(), openable.end(), name) != openable.end()) continue;
        if (probe_serial_port(name)) openable.push_back(name);
    }
    std::sort(openable.begin(), openable.end());
    return openable;
}

bool port_name_before(const std::string& a, const std::string& b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            // Leading zeros do not make a number larger.
            std::size_t si = i;
            std::size_t sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            const int order = a.compare(si, ei - si, b, sj, ej - sj);
            if (order != 0) return order < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;  // "COM03" and "COM3": any fixed order
}

void sort_ports_by_number(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), port_name_before);
}

}  // namespace zarvik
