#include "app/port_listing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <dirent.h>
#include <unistd.h>

#include <string>

#include <cerrno>
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

// The devices that other processes have open, as far as this user may look. Walking
// /proc costs a millisecond or more, and the window scans every 10 ms while no port is
// free, so the answer stands for a quarter of a second.
QSet<QString> devices_held_by_other_processes() {
    static QSet<QString> held;
    static QElapsedTimer age;
    if (age.isValid() && age.elapsed() < 250) return held;
    held.clear();
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return held;
    while (const dirent* process = ::readdir(proc)) {
        if (process->d_name[0] < '0' || process->d_name[0] > '9' || self == process->d_name) continue;
        const std::string fd_folder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fd_folder.c_str());
        if (fds == nullptr) continue;  // another user's process: not ours to see
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            char target[4096];
            const ssize_t n = ::readlink((fd_folder + "/" + fd->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && target[0] == '/') held << QString::fromLocal8Bit(target, static_cast<qsizetype>(n));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    age.start();
    return held;
}

}  // namespace

QStringList list_usable_ports(const QStringList& candidates) {
    QStringList usable;
    for (const QString& name : candidates) {
        if (usable.contains(name)) continue;
        const QString path = device_path(name);
        if (!QFileInfo::exists(path)) continue;
        if (is_pseudo_terminal(path)) {
            if (probe_serial_port(name.toStdString())) usable << name;
            continue;
        }
        if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0) continue;
        if (locked(path) || devices_held_by_other_processes().contains(QFileInfo(path).canonicalFilePath())) continue;
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
