// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A server program for one test (mosquitto, ser2net, mv70-bridge) as a child
// process on loopback: started, waited for until it listens on 127.0.0.1,
// its port learnt, stopped. What it says goes to a file, shown when the
// test fails.
//
// Its port: a program that can listen on port 0 is given 0, and the port
// the system chose is read back from the kernel: the listening socket among
// the process's own descriptors, looked up in /proc/net/tcp. A program that
// refuses port 0 (mosquitto, mv70-bridge) is given a port that was free a
// moment ago; should another program take it in between, the server says
// so ("... already in use") and ends, and it is started again on another.
// Both ways nothing is probed by connecting, so a server that takes one
// connection only (ser2net) is not kept busy by the fixture. Started again
// after a stop, it keeps its port, as under a service manager. A program
// told to listen on nothing (mv70-bridge on MQTT alone) is ready once it
// has started.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <unistd.h>

class ServiceProcess {
public:
    enum class Port {
        Chosen,  // by the system: the program is given port 0
        Given,   // by us: the program is given a port that was free
        None,    // the program listens on nothing (`prepare` is given 0)
    };
    // Writes what the program needs to listen on `port` (0: a port of the
    // system's choice) and gives its command line.
    using Prepare = std::function<QStringList(quint16 port)>;

    ServiceProcess(QString program, Port choice, Prepare prepare)
        : program_(std::move(program)), choice_(choice), prepare_(std::move(prepare)) {}
    ~ServiceProcess() {
        if (QTest::currentTestFailed())
            qWarning("%s said:\n%s", qPrintable(program_), log().constData());
        kill();
    }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Starts the program and waits until it listens; false (its words
    // shown) when it does not.
    bool start() {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const bool known = port_ != 0;
            const quint16 asked = known ? port_ : choice_ == Port::Given ? portFreeNow() : 0;
            process_.setStandardOutputFile(logPath(), QIODevice::Append);
            process_.setStandardErrorFile(logPath(), QIODevice::Append);
            const qint64 logged = QFileInfo(logPath()).size();
            process_.start(program_, prepare_(asked));
            if (!process_.waitForStarted(5000))
                break;
            if (choice_ == Port::None)
                return true;
            // The port asked for, or the first one it listens on when it chose.
            const auto listens = [&]() -> quint16 {
                const QList<quint16> ports = listeningPorts();
                return asked == 0 ? ports.value(0) : ports.contains(asked) ? asked : 0;
            };
            quint16 got = 0;
            (void)QTest::qWaitFor([&] { return process_.state() != QProcess::Running || (got = listens()) != 0; },
                                  20000);
            if (got != 0) {
                port_ = got;
                return true;
            }
            kill();
            // Only a port of our choosing that another program took first
            // is a reason to try another.
            if (known || asked == 0 || !log().mid(logged).contains("already in use"))
                break;
        }
        qWarning("%s did not start listening:\n%s", qPrintable(program_), log().constData());
        return false;
    }
    // Ends the program as a crash or a pulled plug would: no goodbye.
    void kill() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Asks the program to end; its exit code, or -1 when it did not end
    // normally within 10 s.
    int terminate() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000))
                return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    quint16 port() const { return port_; }
    bool listening() const { return port_ != 0 && listeningPorts().contains(port_); }
    qint64 processId() const { return process_.processId(); }
    // Everything the program has said, all runs.
    QByteArray log() const {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString folder() const { return dir_.path(); }

    // A TCP port on loopback that nothing listened on a moment ago.
    static quint16 portFreeNow() {
        QTcpServer server;
        return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
    }

private:
    QString logPath() const { return dir_.filePath(QStringLiteral("service.log")); }

    // The ports the process listens on at 127.0.0.1.
    QList<quint16> listeningPorts() const {
        const qint64 pid = process_.processId();
        if (pid <= 0)
            return {};
        QSet<QByteArray> sockets;  // "socket:[INODE]" of each of its descriptors
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[64];
            const ssize_t size = ::readlink(QFile::encodeName(fds + u'/' + fd).constData(), target, sizeof target);
            if (size > 0)
                sockets.insert(QByteArray(target, size));
        }
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return {};
        // "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...", addresses in hex
        QList<quint16> ports;
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> field = line.simplified().split(' ');
            if (field.size() > 9 && field[3] == "0A" && field[1].startsWith("0100007F:")
                && sockets.contains("socket:[" + field[9] + ']'))
                ports.append(quint16(field[1].mid(9).toUInt(nullptr, 16)));
        }
        return ports;
    }

    QTemporaryDir dir_;
    QProcess process_;
    QString program_;
    Port choice_;
    Prepare prepare_;
    quint16 port_ = 0;
};
