// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Debian's MQTT broker for one test: mosquitto on loopback, with a password
// file (anonymous clients refused) and, if asked, TLS with a certificate
// made for the test. It cannot listen on port 0, so it is given a port
// that was free (see ServiceProcess). Stopping and starting it again keeps
// the port, as a broker restarted by its service manager would.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "service_process.h"

#include <pwd.h>
#include <unistd.h>

class MosquittoProcess {
public:
    enum class Transport { Plain, Tls };

    MosquittoProcess(const QString &user, const QString &password, Transport transport = Transport::Plain)
        : service_(QStringLiteral("mosquitto"), ServiceProcess::Port::Given, [this](quint16 port) {
              const QString path = dir() + QStringLiteral("/mosquitto.conf");
              QFile file(path);
              if (file.open(QIODevice::WriteOnly))
                  file.write(QStringLiteral("listener %1 127.0.0.1\n").arg(port).toLocal8Bit() + config_);
              return QStringList{QStringLiteral("-c"), path};
          }) {
        const QString passwords = dir_.filePath(QStringLiteral("passwords"));
        if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), passwords, user, password})
            != 0)
            return;
        QFile::setPermissions(passwords, QFile::ReadOwner | QFile::WriteOwner);
        QString config = QStringLiteral("allow_anonymous false\n"
                                        "password_file %1\n"
                                        "persistence false\n"
                                        "log_dest stderr\n"
                                        "log_type error\nlog_type warning\nlog_type notice\n"
                                        "sys_interval 1\n")
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
        config_ = config.toLocal8Bit();
        service_.start();
    }

    quint16 port() const { return service_.port(); }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port()); }
    // The authority that signed the broker's certificate (TLS only).
    QString caFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }
    QString dir() const { return dir_.path(); }

    // Starts the broker (again) and waits until it takes connections.
    bool start() { return service_.start(); }
    // Ends the broker as a crash would: no goodbye to its clients.
    void kill() { service_.kill(); }
    bool listening() const { return service_.listening(); }
    // What the broker has said: errors, warnings, and each connection and its end.
    QByteArray log() const { return service_.log(); }

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
    QByteArray config_;  // all but the listener
    ServiceProcess service_;
};
