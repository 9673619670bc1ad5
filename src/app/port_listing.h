#pragma once

#include <QString>
#include <QStringList>

namespace zarvik {

// The ports the window lists: the scan's candidates that are there, that this user may
// open and that no other program holds. Opening a tty raises DTR on Linux, which resets
// many boards, so a real port is judged without being opened: by who holds it (the
// system's process table, as far as this user may see it) and by its lock file. Only a
// pseudo-terminal, which has no modem lines, is probed by opening it.
QStringList list_usable_ports(const QStringList& candidates);

// What the system knows of a port, for the list: "FT232R USB UART, FTDI, 0403:6001".
// Empty when it knows nothing (a pseudo-terminal, a built-in port without a name).
QString describe_port(const QString& name);

}  // namespace zarvik
