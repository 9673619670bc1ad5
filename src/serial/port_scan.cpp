#include "serial/port_scan.h"

#include <QSerialPort>
#include <QSerialPortInfo>

namespace zarvik {

bool probe_serial_port(const QString& name) {
    QSerialPort port;
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite)) return false;
    port.close();
    return true;
}

QStringList system_serial_ports() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
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
