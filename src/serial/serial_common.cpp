// What every platform's port shares: the failure sentence and the scan.
#include <algorithm>
#include <cstdlib>

#include "loader/clock.h"
#include "text/language.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"

namespace zarvik {

std::string port_open_failure(const std::string& name, const std::string& why) {
    std::string text = tr_string("port", "Не удалось открыть порт ") + name;
    if (!why.empty()) text += ": " + why;
    return text;
}

ReadTimeouts with_extra_wait(ReadTimeouts timeouts) {
    const char* text = std::getenv(kExtraWaitVariable);
    if (text == nullptr || *text == '\0') return timeouts;
    char* end = nullptr;
    const long long ms = std::strtoll(text, &end, 10);
    if (*end != '\0' || ms <= 0 || ms > 600'000) return timeouts;  // not a number of ms: as if unset
    // The wait for an answer to begin, not the pause that ends one: a loader that
    // answers with fewer bytes than asked for is still read in its usual time.
    timeouts.total_constant_ms += ms;
    return timeouts;
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

}  // namespace zarvik
