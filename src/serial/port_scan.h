#pragma once

#include <QStringList>

namespace zarvik {

// The serial ports the system knows of, as Qt lists them (ttyUSB0, ttyS0, ...).
QStringList system_serial_ports();

// The ports a scan probes: the system's, or, when ZARVIK_SERIAL_PORTS is set, exactly
// the colon-separated paths it names (so tests and demos never touch the machine's
// real ports), followed by `extra` ones such as a simulated board's terminal.
QStringList serial_port_candidates(const QStringList& extra = {});

// Keeps the candidates that open exclusively right now, sorted as text. Each probe
// opens and closes the port and puts its line settings back. Pseudo-terminals, which
// the system list lacks, are passed in by path.
QStringList scan_serial_ports(const QStringList& candidates);

// Ports are named as Qt lists them (ttyUSB0) or by path (/dev/pts/3).
bool probe_serial_port(const QString& name);

}  // namespace zarvik
