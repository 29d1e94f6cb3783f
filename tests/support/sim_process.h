// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A simulated projector for one test: mv70-sim as a separate process, its
// device path read from the first line it prints, its log of every command
// kept for the test to count.

#include <QProcess>
#include <QStringList>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

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

    // Waits until the simulator has read everything written to its line so
    // far: a status query written after it all shows in its log. The query
    // is answered to whoever has the line open.
    bool drained(int timeoutMs = 10000) {
        const auto queries = [this] { return log().count("\n\"CR0\""); };
        const qsizetype before = queries();
        const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool seen =
            ::write(fd, "CR0\r", 4) == 4 && QTest::qWaitFor([&] { return queries() > before; }, timeoutMs);
        ::close(fd);
        return seen;
    }

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
