// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Debian's MQTT broker for one test: mosquitto on a free loopback port, with
// a password file (anonymous clients refused) and, if asked, TLS with a
// certificate made for the test. Stopping and starting it again keeps the
// port, as a broker restarted by its service manager would.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

class MosquittoProcess {
public:
    enum class Transport { Plain, Tls };

    MosquittoProcess(const QString &user, const QString &password, Transport transport = Transport::Plain) {
        port_ = freePort();
        const QString passwords = dir_.filePath(QStringLiteral("passwords"));
        if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), passwords, user, password})
            != 0)
            return;
        QFile::setPermissions(passwords, QFile::ReadOwner | QFile::WriteOwner);
        QString config = QStringLiteral("listener %1 127.0.0.1\n"
                                        "allow_anonymous false\n"
                                        "password_file %2\n"
                                        "persistence false\n"
                                        "log_dest stderr\n"
                                        "log_type error\nlog_type warning\n"
                                        "sys_interval 1\n")
                             .arg(port_)
                             .arg(passwords);
        // As root the broker would turn itself into the user "mosquitto",
        // who cannot read our files.
        if (const passwd *me = getpwuid(getuid()))
            config += QStringLiteral("user %1\n").arg(QString::fromLocal8Bit(me->pw_name));
        if (transport == Transport::Tls) {
            if (!makeCertificates())
                return;
            config += QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\n")
                          .arg(caFile(), dir_.filePath(QStringLiteral("server.crt")),
                               dir_.filePath(QStringLiteral("server.key")));
        }
        QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(config.toLocal8Bit());
        file.close();
        start();
    }
    ~MosquittoProcess() { kill(); }
    MosquittoProcess(const MosquittoProcess &) = delete;
    MosquittoProcess &operator=(const MosquittoProcess &) = delete;

    quint16 port() const { return port_; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    // The authority that signed the broker's certificate (TLS only).
    QString caFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }
    QString dir() const { return dir_.path(); }

    // Starts the broker and waits until it takes connections.
    bool start() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("mosquitto"),
                       {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
        if (!process_.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
            if (listening())
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    // Ends the broker as a crash would: no goodbye to its clients.
    void kill() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(5000);
    }

    bool listening() const {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray entry =
            QStringLiteral("0100007F:%1 00000000:0000 0A").arg(port_, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        return table.readAll().contains(entry);
    }

    static quint16 freePort() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        return server.serverPort();
    }

    // A certificate authority and a certificate for 127.0.0.1 signed by it,
    // in `dir`: ca.crt, server.crt, server.key.
    static bool makeCertificates(const QString &dir) {
        const auto run = [&](const QStringList &arguments) {
            QProcess openssl;
            openssl.setWorkingDirectory(dir);
            openssl.setProcessChannelMode(QProcess::MergedChannels);
            openssl.start(QStringLiteral("openssl"), arguments);
            return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
        };
        QFile extensions(dir + QStringLiteral("/san.ext"));
        if (!extensions.open(QIODevice::WriteOnly))
            return false;
        extensions.write("subjectAltName=IP:127.0.0.1\n");
        extensions.close();
        return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=mv70 test CA",
                    "-keyout", "ca.key", "-out", "ca.crt"})
            && run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out",
                    "server.csr"})
            && run({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                    "-days", "2", "-extfile", "san.ext", "-out", "server.crt"});
    }

private:
    bool makeCertificates() { return makeCertificates(dir_.path()); }

    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
};
