// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_client/mqtt_client.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include "mqtt/topics.h"

namespace mv70::bridge {
namespace {

// libmosquitto's global set-up, once per process, before the first client.
void initLibrary() {
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

// A libmosquitto return code, or an MQTT 5 reason code (128 and up) where
// the library passes the broker's on, in words. The library has no words of
// its own for some of its codes ("Unknown error." for a keepalive that ran
// out, say).
QString errorText(int rc) {
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(strerror(errno));
    case MOSQ_ERR_TLS:
        return QStringLiteral("the TLS handshake failed: is the broker's certificate signed by the authority given "
                              "with --mqtt-ca, and made out to the host named?");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("the broker did not answer within the keepalive time");
    case MOSQ_ERR_LOOKUP:
        return QStringLiteral("the broker's name could not be looked up");
    case MOSQ_ERR_MALFORMED_PACKET:
        return QStringLiteral("the broker sent a malformed packet");
    case MOSQ_ERR_OVERSIZE_PACKET:
        return QStringLiteral("a packet larger than the broker takes");
    case MOSQ_ERR_TIMEOUT:
        return QStringLiteral("timed out");
    case MOSQ_ERR_ADMINISTRATIVE_ACTION:
        return QStringLiteral("the broker's administrator ended the connection");
    default:
        break;
    }
    if (rc >= 128)
        return QString::fromUtf8(mosquitto_reason_string(rc));
    const QString text = QString::fromUtf8(mosquitto_strerror(rc));
    return text == u"Unknown error." ? QStringLiteral("libmosquitto error %1").arg(rc) : text;
}

// CONNACK's answer in MQTT 3.1.1's words, which say more to an operator
// than MQTT 5's reason codes ("not authorised" for a wrong password).
int connackOf(int reason) {
    if (reason >= CONNACK_REFUSED_PROTOCOL_VERSION && reason <= CONNACK_REFUSED_NOT_AUTHORIZED)
        return reason;  // a broker that answered in MQTT 3.1.1
    switch (reason) {
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return CONNACK_REFUSED_PROTOCOL_VERSION;
    case MQTT_RC_CLIENTID_NOT_VALID:
        return CONNACK_REFUSED_IDENTIFIER_REJECTED;
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
        return CONNACK_REFUSED_SERVER_UNAVAILABLE;
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return CONNACK_REFUSED_BAD_USERNAME_PASSWORD;
    case MQTT_RC_NOT_AUTHORIZED:
        return CONNACK_REFUSED_NOT_AUTHORIZED;
    default:
        return -1;
    }
}

}  // namespace

class MqttClient::Notifiers {
public:
    Notifiers(int socket, MqttClient *client)
        : read(socket, QSocketNotifier::Read), write(socket, QSocketNotifier::Write) {
        QObject::connect(&read, &QSocketNotifier::activated, client,
                         [client] { client->afterLoop(mosquitto_loop_read(client->mosq_, 1), "read"); });
        QObject::connect(&write, &QSocketNotifier::activated, client, [client] {
            // While a TLS handshake is under way only the read step moves it
            // on; once it is done a read finds nothing and returns.
            if (client->options_.tls && !client->connected_) {
                client->afterLoop(mosquitto_loop_read(client->mosq_, 1), "handshake");
                if (!client->notifiers_)
                    return;
            }
            client->afterLoop(mosquitto_loop_write(client->mosq_, 1), "write");
        });
    }
    QSocketNotifier read;
    QSocketNotifier write;
};

MqttClient::MqttClient(Options options, QObject *parent) : QObject(parent), options_(std::move(options)) {
    initLibrary();
    misc_ = new QTimer(this);
    misc_->setInterval(1000);
    connect(misc_, &QTimer::timeout, this, [this] {
        if (socket_ < 0)
            return;
        afterLoop(mosquitto_loop_misc(mosq_), "keepalive");
    });
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &MqttClient::connectNow);
}

MqttClient::~MqttClient() {
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
    if (mosq_) {
        unwatchSocket();
        if (connected_) {
            mosquitto_disconnect(mosq_);
            mosquitto_loop_write(mosq_, 1);
        }
        mosquitto_destroy(mosq_);
    }
}

void MqttClient::start() {
    if (mosq_)
        return;
    const QByteArray clientId = options_.clientId.toUtf8();
    mosq_ = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
    if (!mosq_) {
        say(QStringLiteral("cannot make an MQTT client: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (options_.maxIncomingPacket > 0) {
        // The CONNECT properties reach the library only through
        // mosquitto_connect_bind_v5, whose connect blocks; libmosquitto
        // 2.0.11 keeps them on the client before it looks at its arguments,
        // and every later connect and reconnect sends them. So they are
        // handed over with an impossible port, which connects nowhere, and
        // the connects below stay asynchronous. Debian's broker drops for
        // this client what is larger ("Dropping too large outgoing
        // PUBLISH"); the tests check it.
        mosquitto_property *properties = nullptr;
        mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, options_.maxIncomingPacket);
        const int rc =
            mosquitto_connect_bind_v5(mosq_, "127.0.0.1", -1, options_.keepaliveSeconds, nullptr, properties);
        mosquitto_property_free_all(&properties);
        if (rc != MOSQ_ERR_INVAL)
            say(QStringLiteral("cannot ask the broker for packets of %1 bytes at most: %2")
                    .arg(options_.maxIncomingPacket)
                    .arg(errorText(rc)));
    }
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::onMessage);
    if (!options_.user.isEmpty()) {
        const QByteArray user = options_.user.toUtf8();
        const QByteArray password = options_.password;
        mosquitto_username_pw_set(mosq_, user.constData(), password.isEmpty() ? nullptr : password.constData());
    }
    if (!options_.willTopic.isEmpty()) {
        const QByteArray topic = options_.willTopic.toUtf8();
        mosquitto_will_set(mosq_, topic.constData(), static_cast<int>(options_.willPayload.size()),
                           options_.willPayload.constData(), 1, true);
    }
    if (options_.tls) {
        const QByteArray caFile = options_.caFile.toLocal8Bit();
        const int rc = caFile.isEmpty()
                         ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                         : mosquitto_tls_set(mosq_, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            say(QStringLiteral("cannot use TLS with the authority %1: %2")
                    .arg(options_.caFile.isEmpty() ? QStringLiteral("/etc/ssl/certs") : options_.caFile,
                         errorText(rc)));
            return;
        }
    }
    misc_->start();
    connectNow();
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, bool retained, int qos) {
    if (!connected_)
        return false;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(mosq_, nullptr, name.constData(), static_cast<int>(payload.size()),
                                     payload.constData(), qos, retained);
    if (rc != MOSQ_ERR_SUCCESS) {
        afterLoop(rc, "publish");
        return false;
    }
    ++published_;
    updateWriteWatch();
    return true;
}

bool MqttClient::subscribe(const QString &filter, int qos) {
    if (!connected_)
        return false;
    const QByteArray name = filter.toUtf8();
    const int rc = mosquitto_subscribe(mosq_, nullptr, name.constData(), qos);
    if (rc != MOSQ_ERR_SUCCESS) {
        afterLoop(rc, "subscribe");
        return false;
    }
    updateWriteWatch();
    return true;
}

void MqttClient::connectNow() {
    unwatchSocket();
    if (lookupId_ >= 0 || !mosq_)
        return;
    // libmosquitto looks a name up with a blocking getaddrinfo, which would
    // hold every projector's reply window for as long as the resolver takes:
    // the name is looked up here first, off the event loop.
    if (!QHostAddress(options_.host).isNull()) {
        connectTo(options_.host);
        return;
    }
    // A name with several addresses (IPv6 and IPv4, say): each retry takes
    // the next, and a new lookup follows the last.
    if (!addresses_.isEmpty()) {
        connectTo(addresses_.takeFirst());
        return;
    }
    lookupId_ = QHostInfo::lookupHost(options_.host, this, [this](const QHostInfo &info) {
        lookupId_ = -1;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            lost(QStringLiteral("cannot look up the MQTT broker's name %1: %2").arg(options_.host, info.errorString()));
            return;
        }
        if (options_.tls) {
            // With TLS the library checks the broker's certificate against the
            // host it was given (and sends it as the TLS server name), and has
            // no way to be given the name apart from the address: it keeps the
            // name, and looks it up again itself. The lookup above still keeps
            // a name that does not resolve from blocking here, and a resolver
            // that has just answered usually answers again at once.
            connectTo(options_.host);
            return;
        }
        for (const QHostAddress &address : info.addresses())
            addresses_ << address.toString();
        connectTo(addresses_.takeFirst());
    });
}

void MqttClient::connectTo(const QString &host) {
    const QByteArray address = host.toUtf8();
    const int rc = mosquitto_connect_async(mosq_, address.constData(), options_.port, options_.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_CONN_PENDING) {
        lost(QStringLiteral("cannot reach the MQTT broker at %1:%2: %3")
                 .arg(options_.host)
                 .arg(options_.port)
                 .arg(errorText(rc)));
        return;
    }
    watchSocket();
}

void MqttClient::watchSocket() {
    const int socket = mosquitto_socket(mosq_);
    if (socket == socket_ && notifiers_)
        return;
    unwatchSocket();
    socket_ = socket;
    if (socket_ < 0)
        return;
    notifiers_ = std::make_unique<Notifiers>(socket_, this);
    updateWriteWatch();
}

void MqttClient::unwatchSocket() {
    notifiers_.reset();
    socket_ = -1;
}

void MqttClient::updateWriteWatch() {
    if (notifiers_)
        notifiers_->write.setEnabled(mosquitto_want_write(mosq_) || (options_.tls && !connected_));
}

// After every call into the library: a lost connection ends here, a new
// socket (after a reconnect inside the library) gets new notifiers, and the
// write notifier follows what is left to send.
void MqttClient::afterLoop(int rc, const char *step) {
    if (!mosq_)
        return;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_CONN_PENDING) {
        if (socket_ >= 0 || connected_)
            lost(QStringLiteral("the connection to the MQTT broker at %1:%2 is lost (%3: %4)")
                     .arg(options_.host)
                     .arg(options_.port)
                     .arg(QString::fromLatin1(step), errorText(rc)));
        return;
    }
    if (mosquitto_socket(mosq_) != socket_) {
        if (mosquitto_socket(mosq_) < 0) {
            lost(
                QStringLiteral("the MQTT broker at %1:%2 closed the connection").arg(options_.host).arg(options_.port));
            return;
        }
        watchSocket();
    }
    updateWriteWatch();
}

void MqttClient::lost(const QString &why) {
    // What is left of the socket the library closes at the next connect.
    unwatchSocket();
    const bool wasUp = connected_;
    connected_ = false;
    if (wasUp) {
        lostAt_ = QDateTime::currentMSecsSinceEpoch();
        retryMs_ = 0;
    }
    if (wasUp || !refused_)
        say(why);
    if (!retry_->isActive())
        scheduleRetry();
    if (wasUp)
        emit disconnected();
}

void MqttClient::scheduleRetry() {
    retryMs_ = retryMs_ == 0 ? options_.firstRetryMs : qMin(options_.maxRetryMs, retryMs_ * 2);
    if (!refused_)
        say(QStringLiteral("trying the MQTT broker again in %1 s").arg(retryMs_ / 1000.0, 0, 'f', 1));
    retry_->start(retryMs_);
}

void MqttClient::say(const QString &line) {
    emit logLine(options_.logName.isEmpty() ? line : options_.logName + QStringLiteral(": ") + line);
}

void MqttClient::onConnect(mosquitto *, void *self, int rc) {
    auto *client = static_cast<MqttClient *>(self);
    if (rc != 0) {
        // CONNACK refused: the broker says why; a retry follows, at the
        // longest pause, since it will not change by itself.
        const int connack = connackOf(rc);
        if (connack == CONNACK_REFUSED_PROTOCOL_VERSION && !client->v311_) {
            // An old broker: MQTT 3.1.1 then, without the packet limit.
            client->say(QStringLiteral("the MQTT broker at %1:%2 does not speak MQTT 5; using MQTT 3.1.1, whose "
                                       "clients cannot ask for a largest packet: set max_packet_size on the broker")
                            .arg(client->options_.host)
                            .arg(client->options_.port));
            client->v311_ = true;
            mosquitto_int_option(client->mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            QTimer::singleShot(0, client, [client] {
                if (client->socket_ >= 0)
                    client->connectNow();
            });
            return;
        }
        QString reason = connack >= 0 ? QString::fromUtf8(mosquitto_connack_string(connack)) : errorText(rc);
        if (connack == CONNACK_REFUSED_BAD_USERNAME_PASSWORD || connack == CONNACK_REFUSED_NOT_AUTHORIZED)
            reason += QStringLiteral(" (check the MQTT user and password file)");
        if (!client->refused_)
            client->say(QStringLiteral("the MQTT broker at %1:%2 refused the connection: %3; trying again every "
                                       "%4 s")
                            .arg(client->options_.host)
                            .arg(client->options_.port)
                            .arg(reason)
                            .arg(client->options_.maxRetryMs / 1000.0, 0, 'f', 1));
        client->refused_ = true;
        client->retryMs_ = client->options_.maxRetryMs / 2;
        QTimer::singleShot(0, client, [client] {
            if (client->socket_ >= 0)
                client->lost(QString());
        });
        return;
    }
    const bool again = client->wasConnected_ || client->refused_;
    client->addresses_.clear();  // a later connect looks the name up afresh
    client->connected_ = true;
    client->wasConnected_ = true;
    client->refused_ = false;
    client->retryMs_ = 0;
    if (client->lostAt_ > 0)
        client->say(
            QStringLiteral("connected to the MQTT broker at %1:%2 again after %3 s")
                .arg(client->options_.host)
                .arg(client->options_.port)
                .arg(static_cast<double>(QDateTime::currentMSecsSinceEpoch() - client->lostAt_) / 1000.0, 0, 'f', 1));
    else
        client->say(QStringLiteral("connected to the MQTT broker at %1:%2%3")
                        .arg(client->options_.host)
                        .arg(client->options_.port)
                        .arg(again ? QStringLiteral(" at last") : QString()));
    client->lostAt_ = 0;
    emit client->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc) {
    auto *client = static_cast<MqttClient *>(self);
    if (!client->connected_)
        return;  // our own disconnect, or a refusal already said
    // Called from inside the library: the socket is dealt with after it returns.
    QTimer::singleShot(0, client, [client, rc] {
        if (client->connected_)
            client->lost(QStringLiteral("the connection to the MQTT broker at %1:%2 is lost (%3)")
                             .arg(client->options_.host)
                             .arg(client->options_.port)
                             .arg(errorText(rc)));
    });
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message) {
    auto *client = static_cast<MqttClient *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    emit client->messageReceived(topic, payload, message->retain);
}

}  // namespace mv70::bridge
