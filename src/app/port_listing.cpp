#include "app/port_listing.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <unistd.h>

#include <csignal>

#include "serial/port_scan.h"

namespace zarvik {
namespace {

QString device_path(const QString& name) {
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

bool is_pseudo_terminal(const QString& path) {
    return QFileInfo(path).canonicalFilePath().startsWith(QStringLiteral("/dev/pts/"));
}

// A UUCP lock file whose owner still runs.
bool locked(const QString& path) {
    const QString base = QFileInfo(path).fileName();
    for (const char* folder : {"/var/lock", "/run/lock", "/var/spool/locks"}) {
        QFile lock(QDir(QString::fromLatin1(folder)).filePath(QStringLiteral("LCK..") + base));
        if (!lock.open(QIODevice::ReadOnly)) continue;
        bool ok = false;
        const qint64 pid = QString::fromLatin1(lock.readAll()).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0) return true;  // a lock whose owner cannot be read counts
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return true;
    }
    return false;
}

// Another process has the device open, as far as this user may look.
bool held_by_another_process(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) return false;
    const QString self = QString::number(::getpid());
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid == self || pid.front() < QLatin1Char('0') || pid.front() > QLatin1Char('9')) continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == target) return true;
        }
    }
    return false;
}

}  // namespace

QStringList list_usable_ports(const QStringList& candidates) {
    QStringList usable;
    for (const QString& name : candidates) {
        if (usable.contains(name)) continue;
        const QString path = device_path(name);
        if (!QFileInfo::exists(path)) continue;
        if (is_pseudo_terminal(path)) {
            if (probe_serial_port(name)) usable << name;
            continue;
        }
        if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0) continue;
        if (locked(path) || held_by_another_process(path)) continue;
        usable << name;
    }
    usable.sort();
    return usable;
}

QString describe_port(const QString& name) {
    const QString path = device_path(name);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName() != name && info.systemLocation() != path) continue;
        QStringList parts;
        if (!info.description().isEmpty()) parts << info.description();
        if (!info.manufacturer().isEmpty() && !info.description().contains(info.manufacturer())) {
            parts << info.manufacturer();
        }
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            parts << QStringLiteral("%1:%2")
                         .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                         .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        }
        return parts.join(QStringLiteral(", "));
    }
    return {};
}

}  // namespace zarvik
