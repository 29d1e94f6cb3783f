// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An MQTT 5 connection on libmosquitto, driven by the Qt event loop: its
// socket under socket notifiers (read always, write only while the library
// has something to send), its housekeeping (keepalive, retries) on a one-
// second timer, the broker's name looked up without blocking (QHostInfo).
// No thread of its own. A lost or refused connection is tried again after a
// growing pause; every change is said in the log.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QTimer;

struct mosquitto;
struct mosquitto_message;

namespace mv70::bridge {

class MqttClient : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString host;
        quint16 port = 1883;
        bool tls = false;
        QString caFile;  // for TLS: the authority that signed the broker's certificate; empty: the system's
        QString user;
        QByteArray password;
        QString clientId;
        QString willTopic;  // empty: no last will
        QByteArray willPayload;
        int keepaliveSeconds = 30;
        int firstRetryMs = 1000;  // the pause before the first retry; doubled up to maxRetryMs
        int maxRetryMs = 30000;
        // The largest packet the broker may send us (MQTT 5's Maximum Packet
        // Size): a broker that honours it drops larger messages for this
        // client instead of sending them. 0: no limit asked.
        quint32 maxIncomingPacket = 0;
        QString logName;  // how the log names this connection
    };

    explicit MqttClient(Options options, QObject *parent = nullptr);
    // Leaves the broker cleanly: the last will is not sent.
    ~MqttClient() override;

    // Connects, and keeps connecting until it is destroyed.
    void start();

    bool isConnected() const { return connected_; }

    // Queues a message; false when not connected (nothing is kept for later:
    // a connection publishes the whole state afresh).
    bool publish(const QString &topic, const QByteArray &payload, bool retained, int qos = 1);
    bool subscribe(const QString &filter, int qos = 1);

    // Messages sent and not yet acknowledged by the broker are the library's;
    // this is how many publishes the library accepted since start.
    quint64 published() const { return published_; }

signals:
    void connected();
    // The connection ended (or never began); a retry is scheduled.
    void disconnected();
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);
    // What happened, in words for the bridge's log.
    void logLine(const QString &line);

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);

    void connectNow();
    void connectTo(const QString &host);
    void watchSocket();
    void unwatchSocket();
    void afterLoop(int rc, const char *step);
    void lost(const QString &why);
    void scheduleRetry();
    void updateWriteWatch();
    void say(const QString &line);

    Options options_;
    mosquitto *mosq_ = nullptr;
    class Notifiers;
    std::unique_ptr<Notifiers> notifiers_;
    QTimer *misc_ = nullptr;
    QTimer *retry_ = nullptr;
    int retryMs_ = 0;
    int lookupId_ = -1;      // the broker's name being looked up
    QStringList addresses_;  // what it was found at, tried one after the other
    bool connected_ = false;
    bool wasConnected_ = false;
    bool refused_ = false;
    bool v311_ = false;  // the broker speaks MQTT 3.1.1 only  // the broker refused the last attempt: said once, not at
                         // every retry
    int socket_ = -1;
    quint64 published_ = 0;
    qint64 lostAt_ = 0;
};

}  // namespace mv70::bridge
