#include "serial/port_scan.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <sys/stat.h>

#include <mutex>

namespace zarvik {

namespace {

QString device_path(const QString& name) { return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name; }

// Enumerating the system's ports costs milliseconds, and the window scans every 10 ms
// until a port appears. A serial adapter that comes or goes adds or removes its node in
// /dev, which changes the folder's modification time: until then the last list stands.
struct SystemPortCache {
    std::mutex lock;
    bool valid = false;
    timespec dev_mtime{};
    QStringList names;
};

}  // namespace

bool probe_serial_port(const QString& name) {
    // Opening a port that is not there still costs Qt a lookup; a stat does not.
    struct stat st {};
    if (::stat(device_path(name).toLocal8Bit().constData(), &st) != 0) return false;
    QSerialPort port;
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite)) return false;
    port.close();
    return true;
}

QStringList system_serial_ports() {
    static SystemPortCache cache;
    std::lock_guard guard(cache.lock);
    struct stat dev {};
    const bool known = ::stat("/dev", &dev) == 0;
    if (known && cache.valid && dev.st_mtim.tv_sec == cache.dev_mtime.tv_sec &&
        dev.st_mtim.tv_nsec == cache.dev_mtime.tv_nsec) {
        return cache.names;
    }
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
    cache.names = names;
    cache.valid = known;
    cache.dev_mtime = dev.st_mtim;
    return names;
}

QStringList serial_port_candidates(const QStringList& extra) {
    QStringList names;
    if (qEnvironmentVariableIsSet("ZARVIK_SERIAL_PORTS")) {
        names = qEnvironmentVariable("ZARVIK_SERIAL_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    } else {
        names = system_serial_ports();
    }
    names << extra;
    return names;
}

QStringList scan_serial_ports(const QStringList& candidates) {
    QStringList openable;
    for (const QString& name : candidates) {
        if (openable.contains(name)) continue;
        if (probe_serial_port(name)) openable << name;
    }
    openable.sort();
    return openable;
}

}  // namespace zarvik
