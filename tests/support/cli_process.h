#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "serial/serial_port.h"
#include "support/busy_machine.h"
#include "support/cli_run.h"

namespace zarvik::testing {

// The program's environment: no port of the machine's own, its own language unless
// asked, and the time-outs a busy machine needs (see support/busy_machine.h) unless a
// test is about the time-outs themselves.
enum class Waits { Patient, AsShipped };

inline QProcessEnvironment cli_environment(const QString& ports = {}, const QString& lang = {},
                                           Waits waits = Waits::Patient) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVIK_SERIAL_PORTS", ports);
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) env.remove(variable);
    env.insert("LANG", lang.isEmpty() ? QStringLiteral("C.UTF-8") : lang);
    env.remove(kExtraWaitVariable);
    if (waits == Waits::Patient) env.insert(kExtraWaitVariable, QString::number(kBusyMachineExtraWaitMs));
    return env;
}

// zarvik-cli as a build script runs it: a separate process, its exit code and output.
inline CliRun cli(const QStringList& args, const QString& ports = {}, const QString& lang = {},
                  Waits waits = Waits::Patient) {
    QProcess p;
    p.setProcessEnvironment(cli_environment(ports, lang, waits));
    p.start(QStringLiteral(ZARVIK_CLI_BINARY), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

}  // namespace zarvik::testing
