// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PJLink face of one projector: a TCP server on the configured address
// (port 4352 by default) that answers as a PJLink Class 2 projector, and on
// the same UDP port the search and the status notifications.
//
// Queries are answered from the projector's state, which its poller keeps
// fresh; sets go to the projector's one command queue. Each connection is
// served in order: its next request is read only once the previous one is
// answered, and every reply is one write.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

#include "pjlink/mapping.h"
#include "pjlink_server/login_gate.h"
#include "projector/projector.h"

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace mv70::bridge {

// Where the PJLink face listens, its password and where its notifications go.
struct PjlinkConfig {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 4352;
    QByteArray password;  // read from the owner-only password file; empty: no authentication
    // Where Class 2 status notifications go (host and UDP port); none when unset.
    std::optional<QHostAddress> notifyAddress;
    quint16 notifyPort = 4352;
    // The projector's serial number for SNUM (serial=): at most 32 printable
    // ASCII bytes; empty when not given.
    QByteArray serialNumber;
};

class PjlinkServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kIdleMs = 30000;  // a connection that sends nothing for this long is closed
    // With a password, a connection not logged in this long after it came
    // is closed, whatever it sends: time for a controller to answer the
    // greeting and for its guess to wait its turn (LoginGate).
    static constexpr int kLoginMs = 10000;
    // Connections at a time, and from one address: one address cannot take
    // every place (a room's control processor, panel and scheduler fit).
    static constexpr int kMaxClients = 64;
    static constexpr int kMaxClientsPerAddress = 16;
    // Search answers a second at most: an answer is longer than the
    // request, and the sender's address may be forged.
    static constexpr int kSearchAnswersPerSecond = 4;

    PjlinkServer(Projector &projector, const PjlinkConfig &config, QObject *parent = nullptr);
    ~PjlinkServer() override;

    // Starts listening (TCP, and UDP on the same port for the search) and
    // sends the start-up notification. False with a reason when TCP fails;
    // without UDP the server still answers TCP, and says so on stderr.
    bool listen(QString *error);

    // The TCP port listened on (the configured one, or the one chosen for 0).
    quint16 port() const;
    // What the search answer and LKUP carry, "XX:XX:XX:XX:XX:XX".
    QByteArray macAddress() const { return mac_; }
    int clientCount() const;

    // Tests shorten the idle time; controllers get kIdleMs.
    void setIdleMs(int ms) { idleMs_ = ms; }

private:
    class Client;
    friend class Client;

    void accept();
    void readDatagrams();
    void notify(const ProjectorState &previous, const ProjectorState &now);
    void sendNotification(const QByteArray &datagram);
    // Lets the waiting password guesses whose turn has come be checked, and
    // wakes up for the next.
    void admitGuesses();

    Projector &projector_;
    PjlinkConfig config_;
    pjlink::Identity identity_;
    QByteArray mac_;
    QTcpServer *tcp_;
    QUdpSocket *udp_;
    int idleMs_ = kIdleMs;
    int clients_ = 0;
    QHash<QString, int> clientsByAddress_;
    LoginGate gate_;
    QHash<LoginGate::Ticket, Client *> guesses_;  // the connections whose guesses wait
    QTimer gateTimer_;
    qint64 searchWindowMs_ = 0;  // the second search answers are counted in
    int searchAnswers_ = 0;
    QElapsedTimer clock_;
};

}  // namespace mv70::bridge
