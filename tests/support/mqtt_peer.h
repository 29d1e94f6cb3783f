// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An MQTT client nobody here wrote, for one test: python3-paho-mqtt (under
// Debian's own python3, MV70_PYTHON) in a
// process of its own (support/mqtt_peer.py), told what to subscribe and
// publish, and every message it receives kept in order.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <functional>

class MqttPeer {
public:
    struct Message {
        QString topic;
        QString payload;
        bool retained = false;
    };

    MqttPeer(quint16 port, const QString &user, const QString &password) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { read(); });
        process_.start(QStringLiteral(MV70_PYTHON),
                       {QStringLiteral(MV70_MQTT_PEER), QString::number(port), user, password});
    }
    ~MqttPeer() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
    }
    MqttPeer(const MqttPeer &) = delete;
    MqttPeer &operator=(const MqttPeer &) = delete;

    bool waitConnected() {
        return waitUntil([this] { return connected_; }, 10000);
    }
    // Subscribes and waits for the broker's acknowledgement.
    bool subscribe(const QString &filter) {
        const int before = subscribed_;
        send({{"sub", filter}});
        return waitUntil([&] { return subscribed_ > before; }, 10000);
    }
    // With `count`, that many at once (QoS 0); with `size`, a payload of that many bytes instead.
    bool publish(const QString &topic, const QString &payload, bool retained = false, int count = 1, int size = 0) {
        const int before = published_;
        send({{"pub", topic}, {"payload", payload}, {"retain", retained}, {"count", count}, {"size", size}});
        return waitUntil([&] { return published_ > before; }, 30000);
    }

    const QList<Message> &messages() const { return messages_; }
    // The payloads received on `topic`, in order.
    QStringList payloads(const QString &topic) const {
        QStringList found;
        for (const Message &message : messages_)
            if (message.topic == topic)
                found << message.payload;
        return found;
    }
    QString last(const QString &topic) const { return payloads(topic).value(payloads(topic).size() - 1); }
    // Waits until the last message on `topic` says `payload`.
    bool waitFor(const QString &topic, const QString &payload, int timeoutMs = 20000) {
        return waitUntil([&] { return last(topic) == payload; }, timeoutMs);
    }
    void clear() { messages_.clear(); }

    // Runs the event loop until `condition` holds or `timeoutMs` have passed.
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
        return QTest::qWaitFor(condition, timeoutMs);
    }

private:
    void send(const QJsonObject &command) {
        process_.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    }
    void read() {
        while (process_.canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(process_.readLine()).object();
            if (line.contains(u"connected"))
                connected_ = line[u"connected"].toInt(-1) == 0;
            else if (line.contains(u"subscribed"))
                ++subscribed_;
            else if (line.contains(u"published"))
                ++published_;
            else if (line.contains(u"topic"))
                messages_.append({line[u"topic"].toString(), line[u"payload"].toString(), line[u"retain"].toBool()});
        }
    }

    QProcess process_;
    bool connected_ = false;
    int subscribed_ = 0;
    int published_ = 0;
    QList<Message> messages_;
};
