// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The MQTT face of one projector: its readings on retained state topics, its
// commands from command topics, and Home Assistant's discovery document, on a
// connection of its own to the site's broker.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include "mqtt/topics.h"
#include "projector/projector.h"

namespace mv70::bridge {

class MqttClient;

// The broker, the credentials and the topic prefixes of the MQTT face.
struct MqttConfig {
    QString url;  // mqtt://HOST:PORT or mqtts://HOST:PORT
    QString caFile;
    QString user;
    QByteArray password;  // read from the owner-only password file
    QString prefix = QStringLiteral("mv70");
    QString discoveryPrefix = QStringLiteral("homeassistant");
};

class MqttBridge : public QObject {
    Q_OBJECT

public:
    MqttBridge(Projector &projector, const MqttConfig &config, QObject *parent = nullptr);
    // Says "offline" on the bridge's topic and leaves the broker.
    ~MqttBridge() override;

    // Connects to the broker (and keeps doing so). A broker address that
    // cannot be used is said in the log and nothing more happens.
    void start();

signals:
    // What happened, in words for the bridge's log; each line is written to
    // the program's messages (standard error, the journal) as well.
    void logLine(const QString &line);

private:
    void publishAll();
    void publishState(const ProjectorState &state);
    void publishRetained(const QString &topic, const QByteArray &payload);
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);

    Projector &projector_;
    MqttConfig config_;
    mqtt::Topics topics_;
    MqttClient *client_ = nullptr;
    QHash<QString, QByteArray> published_;  // what each retained topic says now, on this connection
};

}  // namespace mv70::bridge
