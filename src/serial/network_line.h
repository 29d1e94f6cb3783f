// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial line reached through a network serial server: a TCP connection,
// raw or Telnet with the COM port control option, on the GUI thread's event
// loop. Nothing here blocks: the connection (host lookup included) is made
// in the background within a time limit, and what is written before it is
// made waits, in order, until the server can take it.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
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
    // Bytes the socket holds for us: a server that never stops sending is
    // held back by TCP itself.
    static constexpr qint64 kReadChunk = 64 * 1024;
    // Bytes taken from the socket in one pass of the event loop; the rest
    // waits for the next pass, so the window's own events go on between.
    static constexpr qint64 kReadPerPass = 16 * 1024;
    // The pause before that next pass. A server that sends more than any
    // serial line could is read at 16 MB/s at most (a thousand times the
    // fastest line) rather than as fast as a core can, which it would keep
    // busy; a projector's replies never leave anything for a next pass.
    static constexpr int kNextPassMs = 1;
    // How long the COM port option may stay unanswered before data goes
    // out all the same; and how long a server may send nothing but Telnet
    // negotiation before it is given up.
    static constexpr int kNegotiationLimitMs = 1000;
    // Negotiation bytes without data that count as a flood (with the time
    // limit): far more than any server's own option talk.
    static constexpr qint64 kNegotiationFloodBytes = 4096;

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
    void readPass();
    void readRest();
    bool floodedWithNegotiation(qint64 read, bool hadData);
    void sendSettings();
    void checkConfirmedSpeed();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void becomeReady();
    void send(const QByteArray &bytes);
    void finish(bool wasConnected, const QString &cause);
    LineFailure failure(LineFailure::Cause cause, const QString &detail) const;

    QTcpSocket *socket_ = nullptr;
    QTimer timeLimit_;
    QTimer nextPass_;  // what is left in the socket, read on the next pass
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
    // A run of reads that brought negotiation and no data: since when, how
    // many bytes, and when the last of them came.
    QElapsedTimer negotiationRun_;
    QElapsedTimer lastNegotiation_;
    qint64 negotiationBytes_ = 0;
    // The speeds sent to the server, oldest first, each waiting for its
    // confirmation; and the confirmations counted so far.
    QList<qint32> askedSpeeds_;
    quint32 baudReplies_ = 0;
};

}  // namespace mv70::serial
