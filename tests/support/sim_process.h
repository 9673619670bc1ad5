#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace zarvik::testing {

// zarvik-sim as a user runs it: a separate process serving a pseudo-terminal.
class SimProcess {
public:
    // A simulator that does not start, or prints no terminal within `start_ms`, leaves
    // the path empty and says why in failure(): a test checks ready() and fails at once
    // instead of driving a window or a program against no board.
    explicit SimProcess(const QStringList& args, int start_ms = 30000) {
        process_.setProgram(QStringLiteral(ZARVIK_SIM_BINARY));
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(start_ms)) {
            failure_ = "zarvik-sim did not start: " + process_.errorString().toStdString();
            return;
        }
        const QDeadlineTimer deadline(start_ms);
        while (!process_.canReadLine() && process_.state() == QProcess::Running && !deadline.hasExpired()) {
            process_.waitForReadyRead(100);
        }
        path_ = QString::fromUtf8(process_.readLine()).trimmed();
        if (path_.isEmpty()) {
            failure_ = "zarvik-sim printed no terminal: " + process_.readAllStandardError().toStdString();
        }
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const { return !path_.isEmpty(); }
    qint64 pid() const { return process_.processId(); }
    const std::string& failure() const { return failure_; }
    const QString& path() const { return path_; }
    std::string path_string() const { return path_.toStdString(); }

    // Ends the simulator as Ctrl-C would, so that it writes its dumps; returns its exit code.
    int stop() {
        if (process_.state() == QProcess::NotRunning) return process_.exitCode();
        process_.terminate();
        if (!process_.waitForFinished(30000)) process_.kill();
        process_.waitForFinished(2000);
        return process_.exitCode();
    }

    // Sends SIGTERM; true when the simulator ended of its own accord within `ms`.
    bool stop_within(int ms) {
        if (process_.state() == QProcess::NotRunning) return true;
        process_.terminate();
        const bool ended = process_.waitForFinished(ms);
        if (!ended) {
            process_.kill();
            process_.waitForFinished(2000);
        }
        return ended;
    }

private:
    QProcess process_;
    QString path_;
    std::string failure_;
};

}  // namespace zarvik::testing
