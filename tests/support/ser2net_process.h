// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Debian's ser2net for one test, on loopback, bridging one TCP port to a
// serial device (a pseudo-terminal) as RFC 2217 or raw TCP. It is started
// in the foreground with a configuration file of its own, on a port of the
// system's choice; stopping and starting it again keeps the port.

#include <QFile>

#include "service_process.h"

class Ser2NetProcess {
public:
    enum class Mode { Rfc2217, Raw };

    // `options`: lines of the connection's options, such as "chardelay: false".
    Ser2NetProcess(const QString &device, Mode mode, const QStringList &options = {})
        : mode_(mode), service_(QStringLiteral("ser2net"), ServiceProcess::Port::Chosen, [=, this](quint16 port) {
              const QString config = service_.folder() + QStringLiteral("/ser2net.yaml");
              QFile file(config);
              if (file.open(QIODevice::WriteOnly)) {
                  file.write(
                      QStringLiteral("connection: &panel\n"
                                     "  accepter: %1,127.0.0.1,%2\n"
                                     "  connector: serialdev,%3,19200n81,local\n")
                          .arg(mode == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp") : QStringLiteral("tcp"))
                          .arg(port)
                          .arg(device)
                          .toLocal8Bit());
                  if (!options.isEmpty())
                      file.write(("  options:\n    " + options.join(QStringLiteral("\n    ")) + u'\n').toLocal8Bit());
              }
              return QStringList{QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), config};
          }) {
        service_.start();
    }

    // The panel's device for this server.
    QString url() const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(mode_ == Mode::Rfc2217 ? "rfc2217" : "tcp").arg(port());
    }
    quint16 port() const { return service_.port(); }

    // Starts the server (again) and waits until it takes connections.
    bool start() { return service_.start(); }
    // Kills the server as a crash or a pulled plug would: no goodbye.
    void kill() { service_.kill(); }
    bool listening() const { return service_.listening(); }

private:
    Mode mode_;
    ServiceProcess service_;
};
