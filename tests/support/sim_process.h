#pragma once
// A simulated projector for one test: mv70-sim as a separate process, its
// device path read from the first line it prints, its log of every command
// kept for the test to count.

#include <QProcess>
#include <QStringList>
#include <QtTest>

class SimProcess {
public:
    explicit SimProcess(const QStringList &options = {}) {
        process_.start(QStringLiteral(MV70_SIM_PROGRAM), options + QStringList{QStringLiteral("--verbose")});
        if (process_.waitForReadyRead(10000))
            path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    ~SimProcess() {
        if (stop() < 0)
            process_.kill();
    }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The device for the panel; empty when the simulator did not start.
    QString path() const { return path_; }

    // Everything logged so far: one line per command received.
    QByteArray log() {
        log_ += process_.readAllStandardError();
        return log_;
    }
    // How often the simulator has received `command` so far.
    int received(const QByteArray &command) { return int(log().count("\n\"" + command + "\" ->")); }

    // Asks the simulator to stop, unless it has ended already, and waits
    // for its end: its exit code, or -1 when it did not end normally.
    int stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000))
                return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
    QString path_;
    QByteArray log_ = "\n";  // every entry follows a line break
};
