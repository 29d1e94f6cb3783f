// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A network serial server for one test, on loopback, in the test's own
// process: RFC 2217 that behaves as the test's script says.

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <initializer_list>

inline QByteArray telnetBytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int value : values)
        out += static_cast<char>(value);
    return out;
}

// An RFC 2217 server on loopback, in this process, that behaves as told:
// agrees to the COM port option or refuses it, confirms each speed asked
// for or always the same one, may say a deal of option talk first, and may
// flood the line with negotiation for ever. Otherwise it plays a projector
// that is on: a status query is answered "00" CR.
class TelnetScriptServer : public QObject {
public:
    struct Script {
        QByteArray comPortAnswer = telnetBytes({255, 253, 44});  // DO COM-PORT-OPTION
        qint32 confirmSpeed = 0;                                 // 0: the speed asked for
        QByteArray first;                                        // sent before anything else
        QByteArray flood;                                        // sent for ever once connected
    };

    explicit TelnetScriptServer(Script script) : script_(std::move(script)) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server_.nextPendingConnection()) {
                ++connections_;
                socket->setParent(this);
                parse_ = Parse::Data;
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
                socket->write(script_.first);
                socket->write(telnetBytes({255, 251, 0, 255, 253, 0}) + script_.comPortAnswer);  // binary both ways
                if (!script_.flood.isEmpty()) {
                    QObject::connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { topUp(socket); });
                    topUp(socket);
                }
            }
        });
    }
    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server_.serverPort()); }
    int connections() const { return connections_; }
    const QList<qint32> &speedsAsked() const { return speedsAsked_; }

private:
    void topUp(QTcpSocket *socket) {
        while (socket->bytesToWrite() < 64 * 1024)
            socket->write(script_.flood);
    }
    // The client's Telnet stream: its data, and the speeds it asks for.
    void take(QTcpSocket *socket) {
        for (const char c : socket->readAll()) {
            const auto byte = static_cast<quint8>(c);
            switch (parse_) {
            case Parse::Data:
                if (byte == 255)
                    parse_ = Parse::Command;
                else
                    data_ += c;
                break;
            case Parse::Command:
                parse_ = byte == 250 ? Parse::Sub : byte >= 251 && byte != 255 ? Parse::Option : Parse::Data;
                if (byte == 250)
                    sub_.clear();
                if (byte == 255)
                    data_ += c;
                break;
            case Parse::Option:
                parse_ = Parse::Data;
                break;
            case Parse::Sub:
                if (byte == 255)
                    parse_ = Parse::SubCommand;
                else
                    sub_ += c;
                break;
            case Parse::SubCommand:
                if (byte == 240) {
                    parse_ = Parse::Data;
                    subnegotiation(socket);
                } else {
                    sub_ += c;
                    parse_ = Parse::Sub;
                }
                break;
            }
        }
        if (data_.endsWith("CR0\r")) {
            data_.clear();
            socket->write("00\r");
        }
    }
    void subnegotiation(QTcpSocket *socket) {
        if (sub_.size() != 6 || sub_.startsWith(telnetBytes({44, 1})) == false)
            return;
        const auto at = [this](int i) { return quint32(quint8(sub_[i])); };
        const auto asked = qint32(at(2) << 24 | at(3) << 16 | at(4) << 8 | at(5));
        speedsAsked_ << asked;
        const auto speed = quint32(script_.confirmSpeed != 0 ? script_.confirmSpeed : asked);
        socket->write(telnetBytes({255, 250, 44, 101, int(speed >> 24), int(speed >> 16 & 255), int(speed >> 8 & 255),
                                   int(speed & 255), 255, 240}));
    }

    enum class Parse { Data, Command, Option, Sub, SubCommand };
    QTcpServer server_;
    Script script_;
    Parse parse_ = Parse::Data;
    QByteArray data_;
    QByteArray sub_;
    QList<qint32> speedsAsked_;
    int connections_ = 0;
};
