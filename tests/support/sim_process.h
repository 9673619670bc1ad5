#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace zarvik::testing {

// zarvik-sim as a user runs it: a separate process serving a pseudo-terminal.
class SimProcess {
public:
    explicit SimProcess(const QStringList& args) {
        process_.setProgram(QStringLiteral(ZARVIK_SIM_BINARY));
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(10000)) return;
        while (!process_.canReadLine() && process_.state() == QProcess::Running) process_.waitForReadyRead(100);
        path_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const QString& path() const { return path_; }
    std::string path_string() const { return path_.toStdString(); }

    // Ends the simulator as Ctrl-C would, so that it writes its dumps; returns its exit code.
    int stop() {
        if (process_.state() == QProcess::NotRunning) return process_.exitCode();
        process_.terminate();
        if (!process_.waitForFinished(10000)) process_.kill();
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
};

}  // namespace zarvik::testing
