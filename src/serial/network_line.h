// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial line reached through a network serial server: a TCP connection,
// raw or Telnet with the COM port control option, on the GUI thread's event
// loop. Nothing here blocks: the connection (host lookup included) is made
// in the background within a time limit, and what is written before it is
// made waits, in order, until the server can take it.

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

#include "logic/line_settings.h"
#include "logic/network_address.h"
#include "logic/telnet_reader.h"
#include "serial/line.h"

namespace mv70::serial {

class NetworkLine : public Line {
    Q_OBJECT

public:
    // Bytes kept for a connection not yet made; more is refused.
    static constexpr qsizetype kMaxPending = 64 * 1024;
    // Bytes read from the socket at once: the socket's buffer is no larger,
    // so a server that never stops sending is held back by TCP itself.
    static constexpr qint64 kReadChunk = 64 * 1024;
    // How long the COM port option may stay unanswered before data goes
    // out all the same.
    static constexpr int kNegotiationLimitMs = 1000;

    // `device` is rfc2217://HOST:PORT or tcp://HOST:PORT.
    explicit NetworkLine(const QString &device, int timeLimitMs = 5000, QObject *parent = nullptr);
    ~NetworkLine() override;

    // Starts connecting and returns; the outcome comes as connected() or
    // failed(). Only a malformed address fails at once.
    std::optional<LineFailure> open(const LineSettings &settings) override;
    // Drops the connection or the attempt; raises nothing.
    void close() override;

    // Connecting or connected.
    bool isOpen() const override { return state_ != State::Closed; }
    bool isUp() const override { return state_ == State::Connected; }
    bool isConnected() const { return state_ == State::Connected; }
    const NetworkAddress &address() const { return address_; }
    bool carriesSettings() const override { return address_.mode != TelnetReader::Mode::Raw; }

    // Sends the settings to the server's port (RFC 2217), now or as soon as
    // the server agrees to the option. Raw TCP carries no settings.
    std::optional<LineFailure> applySettings(const LineSettings &settings) override;
    // Queues the projector's bytes for the server. Fails when the connection
    // is not yet made and too much is waiting already.
    std::optional<LineFailure> write(QByteArrayView bytes) override;
    // The projector's bytes received and not yet read.
    QByteArray readAll() override;

    const TelnetReader &reader() const { return reader_; }

private:
    enum class State { Closed, Connecting, Negotiating, Connected };

    void onConnected();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void becomeReady();
    void send(const QByteArray &bytes);
    void finish(bool wasConnected, const QString &cause);
    LineFailure failure(LineFailure::Cause cause, const QString &detail) const;

    QTcpSocket *socket_ = nullptr;
    QTimer timeLimit_;
    NetworkAddress address_;
    TelnetReader reader_;
    std::optional<LineSettings> settings_;  // waiting for the COM port option
    QByteArray pending_;                    // the projector's bytes, waiting for the connection
    int pendingWrites_ = 0;                 // the writes they came in
    int timeLimitMs_;
    QByteArray received_;
    QString malformed_;  // what is wrong with the address, if anything
    State state_ = State::Closed;
    quint64 attempt_ = 0;  // the connection being made; older ones are void
};

}  // namespace mv70::serial
