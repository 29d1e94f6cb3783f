// SPDX-License-Identifier: GPL-3.0-or-later
#include "pjlink_server/pjlink_server.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <utility>

#include "pjlink/protocol.h"

namespace mv70::bridge {
namespace {

constexpr qint64 kReadChunk = 4096;  // what one read takes from a connection at most

QByteArray formatMac(const QByteArray &bytes) { return bytes.toHex(':').toUpper(); }

// The MAC of the interface that holds `address`; for loopback, any address
// or an interface without one, a locally administered unicast address
// derived from the projector's name, the same at every start.
QByteArray macFor(const QHostAddress &address, const QString &name) {
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (!entry.ip().isEqual(address))
                continue;
            const QByteArray hardware = interface.hardwareAddress().toLatin1().toUpper();
            if (hardware.size() == 17 && hardware != "00:00:00:00:00:00")
                return hardware;
        }
    }
    QByteArray derived = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Md5).left(6);
    derived[0] = char((derived[0] | 0x02) & ~0x01);
    return formatMac(derived);
}

// Broadcast or multicast: the bridge never sends there.
bool reachesMany(const QHostAddress &address) {
    if (address.isBroadcast() || address.isMulticast())
        return true;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            if (!entry.broadcast().isNull() && entry.broadcast().isEqual(address))
                return true;
    return false;
}

}  // namespace

// One controller's connection: greeting, requests one at a time, idle end.
class PjlinkServer::Client : public QObject {
public:
    Client(PjlinkServer &server, QTcpSocket *socket, const QString &addressKey)
        : QObject(&server), server_(server), socket_(socket),
          session_(server.config_.password, server.config_.password.isEmpty() ? QByteArray() : pjlink::freshRandom()),
          address_(socket->peerAddress()), addressKey_(addressKey) {
        ++server_.clients_;
        ++server_.clientsByAddress_[addressKey_];
        socket_->setParent(this);
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_->setReadBufferSize(kReadChunk);
        idle_.setSingleShot(true);
        connect(&idle_, &QTimer::timeout, this, &Client::idleEnded);
        connect(socket_, &QTcpSocket::readyRead, this, &Client::serve);
        connect(socket_, &QTcpSocket::bytesWritten, this, &Client::written);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        if (!session_.authenticated()) {
            login_.setSingleShot(true);
            connect(&login_, &QTimer::timeout, this, [this] { socket_->disconnectFromHost(); });
            login_.start(kLoginMs);
        }
        write(session_.greeting());
        idle_.start(server_.idleMs_);
    }

    ~Client() override {
        --server_.clients_;
        if (--server_.clientsByAddress_[addressKey_] <= 0)
            server_.clientsByAddress_.remove(addressKey_);
        if (ticket_) {
            server_.gate_.cancel(ticket_);
            server_.guesses_.remove(ticket_);
        }
        // What this controller asked for and the line has not taken yet
        // goes with it: commands of a controller long gone must not keep
        // the line from the others.
        server_.projector_.dropPending(this);
    }

    // This connection's password guess may be checked now.
    void guessTurn() {
        ticket_ = 0;
        busy_ = false;
        guessTurn_ = true;
        serve();
    }

private:
    // Takes the next request once the previous one is answered.
    void serve() {
        while (!busy_ && socket_->state() == QAbstractSocket::ConnectedState) {
            if (!guessTurn_ && session_.guessWaiting()) {
                // The guess waits for its turn; nothing else is read meanwhile.
                busy_ = true;
                ticket_ = server_.gate_.enqueue(address_);
                server_.guesses_.insert(ticket_, this);
                server_.admitGuesses();
                return;
            }
            std::optional<pjlink::Session::Step> step = session_.next();
            if (!step) {
                if (socket_->bytesAvailable() == 0)
                    return;
                session_.feed(socket_->read(kReadChunk));
                continue;
            }
            if (std::exchange(guessTurn_, false))
                server_.gate_.checked(address_, session_.authenticated(), server_.clock_.elapsed());
            if (session_.authenticated())
                login_.stop();
            idle_.start(server_.idleMs_);
            switch (step->kind) {
            case pjlink::Session::Step::Kind::Reply:
                write(step->reply);
                break;
            case pjlink::Session::Step::Kind::AuthFailed:
                failed();
                break;
            case pjlink::Session::Step::Kind::Close:
                socket_->disconnectFromHost();
                return;
            case pjlink::Session::Step::Kind::Request:
                answer(step->request);
                break;
            }
        }
    }

    void answer(const pjlink::Request &request) {
        pjlink::Plan plan = pjlink::plan(request, server_.projector_.state(), server_.identity_);
        if (plan.codes.isEmpty()) {
            write(plan.reply);
            return;
        }
        busy_ = true;
        perform(request, plan.codes);
    }

    // The codes of one set, one after the other; the first that does not
    // end well ends the set.
    void perform(const pjlink::Request &request, QList<QString> codes) {
        const QString code = codes.takeFirst();
        QPointer<Client> self(this);
        server_.projector_.perform(
            code,
            [self, request, codes](Outcome outcome) {
                if (!self)
                    return;
                if (outcome == Outcome::Done && !codes.isEmpty())
                    self->perform(request, codes);
                else
                    self->write(pjlink::setReply(request, outcome));
            },
            this);
    }

    // The guess waited its turn before it was checked: the answer goes at once.
    void failed() {
        busy_ = true;
        socket_->write(pjlink::Session::kAuthError);
        socket_->disconnectFromHost();
    }

    // One reply, one write; the next request waits until it has gone out.
    void write(const QByteArray &reply) {
        busy_ = true;
        pending_ += reply.size();
        socket_->write(reply);
    }

    void written(qint64 bytes) {
        pending_ -= bytes;
        if (pending_ > 0)
            return;
        busy_ = false;
        idle_.start(server_.idleMs_);
        // The next request may be waiting already: take it after this event.
        QTimer::singleShot(0, this, &Client::serve);
    }

    void idleEnded() {
        if (busy_ && pending_ == 0) {  // waiting for the projector: the controller waits too
            idle_.start(server_.idleMs_);
            return;
        }
        socket_->disconnectFromHost();
    }

    PjlinkServer &server_;
    QTcpSocket *socket_;
    pjlink::Session session_;
    QHostAddress address_;
    QString addressKey_;  // as the per-address count knows it
    QTimer idle_;
    QTimer login_;
    bool busy_ = false;
    LoginGate::Ticket ticket_ = 0;  // the guess waiting for its turn
    bool guessTurn_ = false;        // the guess may be checked now
    qint64 pending_ = 0;            // bytes written but not yet gone out
};

PjlinkServer::PjlinkServer(Projector &projector, const PjlinkConfig &config, QObject *parent)
    : QObject(parent), projector_(projector), config_(config), tcp_(new QTcpServer(this)), udp_(new QUdpSocket(this)) {
    clock_.start();
    identity_.name = pjlink::cutUtf8(projector_.config().name.toUtf8(), 64);
    identity_.serialNumber = config_.serialNumber;
    const QString version = QCoreApplication::applicationVersion();
    identity_.softwareVersion = pjlink::cutUtf8(
        (QStringLiteral("mv70-bridge ") + (version.isEmpty() ? QStringLiteral(MV70_VERSION) : version)).toUtf8(), 32);
    mac_ = macFor(config_.address, projector_.config().name);
    connect(tcp_, &QTcpServer::newConnection, this, &PjlinkServer::accept);
    connect(udp_, &QUdpSocket::readyRead, this, &PjlinkServer::readDatagrams);
    connect(&projector_, &Projector::stateChanged, this, &PjlinkServer::notify);
    gateTimer_.setSingleShot(true);
    gateTimer_.setTimerType(Qt::PreciseTimer);
    connect(&gateTimer_, &QTimer::timeout, this, &PjlinkServer::admitGuesses);
}

PjlinkServer::~PjlinkServer() {
    // The connections count themselves out of this server as they go: they
    // go while it is still whole.
    const QObjectList children = this->children();
    for (QObject *child : children)
        delete dynamic_cast<Client *>(child);
}

bool PjlinkServer::listen(QString *error) {
    if (!tcp_->listen(config_.address, config_.port)) {
        if (error)
            *error = QStringLiteral("PJLink: cannot listen on %1 port %2: %3")
                         .arg(config_.address.toString())
                         .arg(config_.port)
                         .arg(tcp_->errorString());
        return false;
    }
    if (!udp_->bind(config_.address, tcp_->serverPort()))
        qWarning("PJLink: no search answers: UDP port %u on %s: %s", unsigned(tcp_->serverPort()),
                 qPrintable(config_.address.toString()), qPrintable(udp_->errorString()));
    sendNotification("%2LKUP=" + mac_ + '\r');
    return true;
}

quint16 PjlinkServer::port() const { return tcp_->serverPort(); }

int PjlinkServer::clientCount() const { return clients_; }

void PjlinkServer::accept() {
    while (QTcpSocket *socket = tcp_->nextPendingConnection()) {
        const QString address = plainAddress(socket->peerAddress()).toString();
        if (clientCount() >= kMaxClients || clientsByAddress_.value(address) >= kMaxClientsPerAddress) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new Client(*this, socket, address);
    }
}

void PjlinkServer::admitGuesses() {
    const qint64 now = clock_.elapsed();
    while (const std::optional<LoginGate::Ticket> ticket = gate_.take(now))
        if (Client *client = guesses_.take(*ticket))
            client->guessTurn();
    if (const std::optional<qint64> at = gate_.nextAt(now))
        gateTimer_.start(int(std::max<qint64>(*at - now, 1)));
    else
        gateTimer_.stop();
}

void PjlinkServer::readDatagrams() {
    while (udp_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udp_->receiveDatagram(256);
        // A search is answered to its sender only, never to many.
        const QByteArray data = datagram.data();
        if ((data != "%2SRCH\r" && data != "%2SRCH") || datagram.senderAddress().isNull()
            || reachesMany(datagram.senderAddress()) || datagram.senderPort() <= 0)
            continue;
        // A few answers a second: more would make the bridge a reflector
        // for whoever forges a victim's address; a controller asks again.
        if (const qint64 now = clock_.elapsed(); now - searchWindowMs_ >= 1000) {
            searchWindowMs_ = now;
            searchAnswers_ = 0;
        }
        if (searchAnswers_ >= kSearchAnswersPerSecond)
            continue;
        ++searchAnswers_;
        udp_->writeDatagram("%2ACKN=" + mac_ + '\r', datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

void PjlinkServer::notify(const ProjectorState &previous, const ProjectorState &now) {
    if (const auto power = pjlink::settledPower(now); power && power != pjlink::settledPower(previous))
        sendNotification("%2POWR=" + *power + '\r');
    if (const auto input = pjlink::inputTerminal(now); input && input != pjlink::inputTerminal(previous))
        sendNotification("%2INPT=" + *input + '\r');
    if (const QByteArray errors = pjlink::errorStatus(now); errors != pjlink::errorStatus(previous))
        sendNotification("%2ERST=" + errors + '\r');
}

void PjlinkServer::sendNotification(const QByteArray &datagram) {
    if (!config_.notifyAddress)
        return;
    if (reachesMany(*config_.notifyAddress)) {
        qWarning("PJLink: no notifications to %s: a broadcast or multicast address",
                 qPrintable(config_.notifyAddress->toString()));
        return;
    }
    udp_->writeDatagram(datagram, *config_.notifyAddress, config_.notifyPort);
}

}  // namespace mv70::bridge
