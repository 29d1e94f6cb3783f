// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_bridge/mqtt_bridge.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>

#include <utility>

#include "mqtt/discovery.h"
#include "mqtt_client/mqtt_client.h"

namespace mv70::bridge {
namespace {

QString outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return QStringLiteral("done");
    case Outcome::Unavailable:
        return QStringLiteral("not sent: the projector cannot do it now");
    case Outcome::LineLost:
        return QStringLiteral("not done: the line to the projector is lost");
    case Outcome::Busy:
        return QStringLiteral("not queued: as many commands from MQTT as may wait for the line already");
    }
    return {};
}

}  // namespace

MqttBridge::MqttBridge(Projector &projector, const MqttConfig &config, QObject *parent)
    : QObject(parent), projector_(projector), config_(config), topics_(config.prefix, projector.config().name) {
    connect(this, &MqttBridge::logLine, this, [](const QString &line) { qInfo().noquote() << line; });
    discoveryTimer_.setSingleShot(true);
    connect(&discoveryTimer_, &QTimer::timeout, this, &MqttBridge::homeAssistantBack);
    refusalTimer_.setSingleShot(true);
    connect(&refusalTimer_, &QTimer::timeout, this, [this] {
        refusalLines_ = 0;
        if (refusedQuietly_ == 0)
            return;
        emit logLine(QStringLiteral("mqtt %1: %2 more commands refused in %3 s")
                         .arg(topics_.name())
                         .arg(std::exchange(refusedQuietly_, 0))
                         .arg(kRefusalGapMs / 1000));
        refusalTimer_.start(kRefusalGapMs);
    });
    lineVerdictTimer_.setSingleShot(true);
    connect(&lineVerdictTimer_, &QTimer::timeout, this, [this] {
        lineKnown_ = true;
        publishState(projector_.state());
    });
}

MqttBridge::~MqttBridge() {
    projector_.dropPending(this);
    if (client_ && client_->isConnected())
        client_->publish(topics_.bridgeAvailability(), mqtt::kOffline, true);
    delete client_;  // sends what is queued and leaves cleanly
}

void MqttBridge::start() {
    if (client_)
        return;
    const auto address = mqtt::parseBrokerUrl(config_.url);
    if (const QString *error = std::get_if<QString>(&address)) {
        emit logLine(QStringLiteral("mqtt %1: %2; MQTT is off").arg(topics_.name(), *error));
        return;
    }
    const auto &broker = std::get<mqtt::BrokerAddress>(address);
    MqttClient::Options options;
    options.host = broker.host;
    options.port = broker.port;
    options.tls = broker.tls;
    options.caFile = config_.caFile;
    options.user = config_.user;
    options.password = config_.password;
    options.clientId = QStringLiteral("mv70-bridge-%1-%2").arg(topics_.name()).arg(QCoreApplication::applicationPid());
    options.willTopic = topics_.bridgeAvailability();
    options.willPayload = mqtt::kOffline;
    options.logName = QStringLiteral("mqtt %1").arg(topics_.name());
    options.maxIncomingPacket = kMaxIncomingPacket;
    client_ = new MqttClient(options);
    lineVerdictTimer_.start(kLineVerdictMs);

    connect(client_, &MqttClient::logLine, this, &MqttBridge::logLine);
    connect(client_, &MqttClient::connected, this, [this] {
        client_->subscribe(topics_.commandFilter());
        client_->subscribe(config_.discoveryPrefix + QStringLiteral("/status"));
        publishAll();
        emit logLine(
            QStringLiteral("mqtt %1: discovery and state published under %2").arg(topics_.name(), topics_.base()));
    });
    connect(client_, &MqttClient::messageReceived, this, &MqttBridge::onMessage);
    connect(&projector_, &Projector::stateChanged, this,
            [this](const ProjectorState &, const ProjectorState &now) { publishState(now); });
    client_->start();
}

void MqttBridge::publishAll() {
    // The bridge is there before anything it says about the projector.
    discoveredAt_.start();
    discoveryTimer_.stop();
    published_.clear();
    publishRetained(topics_.bridgeAvailability(), mqtt::kOnline);
    const mqtt::DeviceInfo device{projector_.config().name, QStringLiteral(MV70_VERSION)};
    client_->publish(mqtt::discoveryTopic(config_.discoveryPrefix, topics_), mqtt::discoveryDocument(topics_, device),
                     true);
    publishState(projector_.state());
}

void MqttBridge::publishState(const ProjectorState &state) {
    if (!client_ || !client_->isConnected())
        return;
    // The line's availability first: a reading that arrives with the line
    // back finds its entity available already. Not before the projector
    // has had time to answer: "offline" for a moment at every start would
    // make every entity unavailable for that moment.
    lineKnown_ = lineKnown_ || state.lineUp;
    if (lineKnown_)
        publishRetained(topics_.lineAvailability(), mqtt::lineAvailability(state));
    for (const mqtt::StatePayload &reading : mqtt::statePayloads(state))
        publishRetained(topics_.state(reading.key), reading.payload);
}

void MqttBridge::publishRetained(const QString &topic, const QByteArray &payload) {
    const auto it = published_.constFind(topic);
    if (it != published_.cend() && *it == payload)
        return;
    if (client_->publish(topic, payload, true))
        published_.insert(topic, payload);
}

void MqttBridge::onMessage(const QString &topic, const QByteArray &payload, bool retained) {
    if (topic == config_.discoveryPrefix + QStringLiteral("/status")) {
        if (!retained && payload == "online")
            homeAssistantBack();
        return;
    }
    const QString key = topics_.commandKey(topic);
    if (key.isEmpty())
        return;
    if (retained) {
        // Left behind by some client that published with the retain flag:
        // a stale "power on" must not switch the lamp on at every connect.
        emit logLine(QStringLiteral("mqtt %1: ignored a retained command on %2 (\"%3\"); commands are never "
                                    "retained")
                         .arg(topics_.name(), mqtt::printable(topic.toUtf8(), 120), mqtt::printable(payload)));
        return;
    }
    // Refused here, as PJLink refuses it, when the projector cannot do it
    // now: nothing is queued and the state stays as it is.
    const mqtt::CommandRequest request = mqtt::commandFor(key, payload, projector_.state());
    if (const auto *refusal = std::get_if<mqtt::Refusal>(&request)) {
        refused(QStringLiteral("mqtt %1: refused: %2").arg(topics_.name(), refusal->reason));
        return;
    }
    const QString code = std::get<QString>(request);
    if (waiting_.value(key) >= kMaxWaitingPerKey) {
        refused(QStringLiteral("mqtt %1: %2/set (%3): refused: %4 of them wait for the line already")
                    .arg(topics_.name(), key, code)
                    .arg(kMaxWaitingPerKey));
        return;
    }
    ++waiting_[key];
    QPointer<MqttBridge> self(this);
    projector_.perform(
        code,
        [self, key, code](Outcome outcome) {
            if (!self)
                return;
            if (--self->waiting_[key] <= 0)
                self->waiting_.remove(key);
            if (outcome != Outcome::Done)
                self->refused(QStringLiteral("mqtt %1: %2/set (%3): %4")
                                  .arg(self->topics_.name(), key, code, outcomeText(outcome)));
        },
        this);
}

void MqttBridge::homeAssistantBack() {
    if (!client_ || !client_->isConnected())
        return;  // a connection publishes everything anyway
    if (discoveredAt_.isValid() && discoveredAt_.elapsed() < kDiscoveryGapMs) {
        if (!discoveryTimer_.isActive())
            discoveryTimer_.start(int(kDiscoveryGapMs - discoveredAt_.elapsed()));
        return;
    }
    emit logLine(
        QStringLiteral("mqtt %1: Home Assistant is back; discovery and state published again").arg(topics_.name()));
    publishAll();
}

// A flood of bad or excess commands must not flood the log as well.
void MqttBridge::refused(const QString &line) {
    if (refusalLines_ >= kRefusalLinesPerGap) {
        ++refusedQuietly_;
        return;
    }
    ++refusalLines_;
    emit logLine(line);
    if (!refusalTimer_.isActive())
        refusalTimer_.start(kRefusalGapMs);
}

}  // namespace mv70::bridge
