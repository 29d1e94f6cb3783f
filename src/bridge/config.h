// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What mv70-bridge is told to do: one section per projector, from the
// command line (one projector) or a configuration file (several).

#include <QString>

#include <optional>

#include "mqtt_bridge/mqtt_bridge.h"
#include "pjlink_server/pjlink_server.h"
#include "projector/projector.h"

namespace mv70::bridge {

struct BridgeSection {
    ProjectorConfig projector;
    std::optional<PjlinkConfig> pjlink;  // none: no PJLink face
    std::optional<MqttConfig> mqtt;      // none: no MQTT face
    QString logPath;                     // the exchange log; empty: none
};

}  // namespace mv70::bridge
