// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Home Assistant's MQTT discovery for one projector: one device document with
// all its entities, published retained at
// <discovery prefix>/device/<id>/config.

#include <QByteArray>
#include <QString>

#include "mqtt/topics.h"

namespace mv70::mqtt {

struct DeviceInfo {
    QString name;     // as the operator named the projector
    QString version;  // the bridge's
};

// The topic of the device document.
QString discoveryTopic(const QString &discoveryPrefix, const Topics &topics);

// The device document, compact JSON.
QByteArray discoveryDocument(const Topics &topics, const DeviceInfo &device);

}  // namespace mv70::mqtt
