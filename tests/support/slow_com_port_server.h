// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A network serial server for one test, on loopback, in the test's own
// process: RFC 2217 that is slow to agree to the COM port option.

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// An RFC 2217 server that answers the COM port option only after a while,
// or closes the connection instead, and then plays a projector that is on:
// a status query is answered "00" CR. What reached it is kept.
class SlowComPortServer : public QObject {
public:
    SlowComPortServer(int delayMs, bool dropInstead) {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this, delayMs, dropInstead] {
            QTcpSocket *socket = server_.nextPendingConnection();
            if (!socket)
                return;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
            QTimer::singleShot(delayMs, socket, [this, socket, dropInstead] {
                if (dropInstead) {
                    socket->abort();
                    return;
                }
                // DO BINARY, DO COM-PORT-OPTION, WILL BINARY
                socket->write(QByteArray("\xFF\xFD\x00\xFF\xFD\x2C\xFF\xFB\x00", 9));
                negotiated_ = true;
            });
        });
    }
    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server_.serverPort()); }
    const QByteArray &data() const { return data_; }

private:
    // The data bytes of the Telnet stream; option talk is skipped.
    void take(QTcpSocket *socket) {
        for (const char c : socket->readAll()) {
            const auto byte = static_cast<quint8>(c);
            switch (state_) {
            case State::Data:
                if (byte == 0xFF)
                    state_ = State::Command;
                else if (negotiated_)
                    data_ += c;
                break;
            case State::Command:
                state_ = byte == 0xFA ? State::Sub : byte >= 0xFB ? State::Option : State::Data;
                if (byte == 0xFF && negotiated_)
                    data_ += c;
                break;
            case State::Option:
                state_ = State::Data;
                break;
            case State::Sub:
                state_ = byte == 0xFF ? State::SubCommand : State::Sub;
                break;
            case State::SubCommand:
                state_ = byte == 0xF0 ? State::Data : State::Sub;
                break;
            }
        }
        if (data_.endsWith("CR0\r"))
            socket->write("00\r");
    }

    enum class State { Data, Command, Option, Sub, SubCommand };
    QTcpServer server_;
    State state_ = State::Data;
    bool negotiated_ = false;
    QByteArray data_;
};
