// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What mv70-bridge is told to do: one section per projector, from the
// command line (one projector) or a configuration file (several).

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

#include "bridge/projector.h"

namespace mv70::bridge {

struct PjlinkConfig {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 4352;
    QByteArray password;  // read from the owner-only password file; empty: no authentication
    // Where Class 2 status notifications go (host and UDP port); none when unset.
    std::optional<QHostAddress> notifyAddress;
    quint16 notifyPort = 4352;
};

struct MqttConfig {
    QString url;  // mqtt://HOST:PORT or mqtts://HOST:PORT
    QString caFile;
    QString user;
    QByteArray password;  // read from the owner-only password file
    QString prefix = QStringLiteral("mv70");
    QString discoveryPrefix = QStringLiteral("homeassistant");
};

struct BridgeSection {
    ProjectorConfig projector;
    std::optional<PjlinkConfig> pjlink;  // none: no PJLink face
    std::optional<MqttConfig> mqtt;      // none: no MQTT face
    QString logPath;                     // the exchange log; empty: none
};

}  // namespace mv70::bridge
