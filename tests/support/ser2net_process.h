// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Debian's ser2net for one test, on loopback, bridging one TCP port to a
// serial device (a pseudo-terminal) as RFC 2217 or raw TCP. It is started
// in the foreground with a configuration file of its own; stopping and
// starting it again keeps the port.

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

class Ser2NetProcess {
public:
    enum class Mode { Rfc2217, Raw };

    // `options`: lines of the connection's options, such as "chardelay: false".
    Ser2NetProcess(const QString &device, Mode mode, const QStringList &options = {}) : mode_(mode) {
        port_ = freePort();
        QFile file(dir_.filePath(QStringLiteral("ser2net.yaml")));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral("connection: &panel\n"
                                  "  accepter: %1,127.0.0.1,%2\n"
                                  "  connector: serialdev,%3,19200n81,local\n")
                       .arg(mode == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp") : QStringLiteral("tcp"))
                       .arg(port_)
                       .arg(device)
                       .toLocal8Bit());
        if (!options.isEmpty())
            file.write(("  options:\n    " + options.join(QStringLiteral("\n    ")) + u'\n').toLocal8Bit());
        file.close();
        start();
    }
    ~Ser2NetProcess() { kill(); }
    Ser2NetProcess(const Ser2NetProcess &) = delete;
    Ser2NetProcess &operator=(const Ser2NetProcess &) = delete;

    // The panel's device for this server.
    QString url() const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(mode_ == Mode::Rfc2217 ? "rfc2217" : "tcp").arg(port_);
    }
    quint16 port() const { return port_; }

    // Starts the server and waits until it takes connections.
    bool start() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("ser2net"), {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                                                   dir_.filePath(QStringLiteral("ser2net.yaml"))});
        if (!process_.waitForStarted(5000))
            return false;
        // Watched from the kernel's table rather than by connecting: a
        // connection of our own would keep the server's one port busy.
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
            if (listening())
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    // Kills the server as a crash or a pulled plug would: no goodbye.
    void kill() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(5000);
    }

    // Whether something listens on 127.0.0.1:port.
    bool listening() const {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray entry =
            QStringLiteral("0100007F:%1 00000000:0000 0A").arg(port_, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        return table.readAll().contains(entry);
    }

    // A TCP port on loopback that nothing listens on.
    static quint16 freePort() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        return server.serverPort();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    Mode mode_;
    quint16 port_ = 0;
};
