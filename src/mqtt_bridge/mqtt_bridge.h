// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The MQTT face of one projector: its readings on retained state topics, its
// commands from command topics, and Home Assistant's discovery document, on a
// connection of its own to the site's broker.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

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
    // What the bridge takes from the broker and how often it answers it:
    // - packets of 4 KiB at most (asked of the broker at every connect; a
    //   command is a short word on a short topic);
    static constexpr quint32 kMaxIncomingPacket = 4096;
    // - commands of one topic waiting for the line: a burst of presses is
    //   cut to what the line carries in a moment, and never queues minutes;
    static constexpr int kMaxWaitingPerKey = 4;
    // - discovery again at most once in this time, however often Home
    //   Assistant says it is back (the last time it says so is answered);
    static constexpr int kDiscoveryGapMs = 5000;
    // - refused commands said in the log: this many lines in this time, then
    //   how many more were refused;
    static constexpr int kRefusalLinesPerGap = 5;
    static constexpr int kRefusalGapMs = 5000;
    // - the line's availability is published once the projector has been
    //   heard from, or when it has not been within this time.
    static constexpr int kLineVerdictMs = 5000;

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
    void homeAssistantBack();
    void publishState(const ProjectorState &state);
    void publishRetained(const QString &topic, const QByteArray &payload);
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void refused(const QString &line);

    Projector &projector_;
    MqttConfig config_;
    mqtt::Topics topics_;
    MqttClient *client_ = nullptr;
    QHash<QString, QByteArray> published_;  // what each retained topic says now, on this connection
    QHash<QString, int> waiting_;           // commands sent to the queue and not ended, by topic key
    QElapsedTimer discoveredAt_;            // when discovery was last published
    QTimer discoveryTimer_;                 // Home Assistant came back too soon after: discovery then
    QTimer refusalTimer_;                   // while running, refusals are counted rather than said
    int refusalLines_ = 0;
    int refusedQuietly_ = 0;
    bool lineKnown_ = false;  // the projector has been heard from, or the verdict time is over
    QTimer lineVerdictTimer_;
};

}  // namespace mv70::bridge
