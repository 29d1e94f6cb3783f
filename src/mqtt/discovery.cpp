// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace mv70::mqtt {
namespace {

enum Reads : unsigned { None = 0, State = 1, Command = 2, OnOff = 4 };

// One entity of the device: its key (also its topics'), platform, name, and
// what Home Assistant needs beyond the topics.
struct Entity {
    const char *key;
    const char *platform;
    const char *name;
    unsigned topics;
    const char *deviceClass;  // "" for none
    const char *unit;         // "" for none
    const char *stateClass;   // "" for none
    bool diagnostic;
};

// clang-format off
constexpr std::array kEntities = {
    Entity{"power",               "switch",        "Power",               State | Command | OnOff, "",            "",    "",                 false},
    Entity{"input",               "select",        "Input",               State | Command,         "",            "",    "",                 false},
    Entity{"picture_mute",        "switch",        "Picture mute",        State | Command | OnOff, "",            "",    "",                 false},
    Entity{"sound_mute",          "switch",        "Sound mute",          State | Command | OnOff, "",            "",    "",                 false},
    Entity{"freeze",              "switch",        "Freeze",              State | Command | OnOff, "",            "",    "",                 false},
    Entity{"volume_up",           "button",        "Volume up",           Command,                 "",            "",    "",                 false},
    Entity{"volume_down",         "button",        "Volume down",         Command,                 "",            "",    "",                 false},
    Entity{"power_state",         "sensor",        "Power state",         State,                   "enum",        "",    "",                 false},
    Entity{"status",              "sensor",        "Status",              State,                   "",            "",    "",                 false},
    Entity{"lamp_hours",          "sensor",        "Lamp hours",          State,                   "duration",    "h",   "total_increasing", true},
    Entity{"temperature_1",       "sensor",        "Temperature S1",      State,                   "temperature", "°C",  "measurement",      true},
    Entity{"temperature_2",       "sensor",        "Temperature S2",      State,                   "temperature", "°C",  "measurement",      true},
    Entity{"temperature_3",       "sensor",        "Temperature S3",      State,                   "temperature", "°C",  "measurement",      true},
    Entity{"lamp_failure",        "binary_sensor", "Lamp failure",        State | OnOff,           "problem",     "",    "",                 true},
    Entity{"temperature_warning", "binary_sensor", "Temperature warning", State | OnOff,           "problem",     "",    "",                 true},
    Entity{"lamp_mode",           "sensor",        "Lamp mode",           State,                   "",            "",    "",                 true},
    Entity{"reversal",            "sensor",        "Picture reversal",    State,                   "",            "",    "",                 true},
    Entity{"pressure",            "sensor",        "Air pressure",        State,                   "atmospheric_pressure", "hPa", "measurement", true},
};
// clang-format on

// The power state sensor's values, as the state topic carries them.
const QStringList kPowerStates = {QStringLiteral("off"), QStringLiteral("warming up"), QStringLiteral("on"),
                                  QStringLiteral("cooling down")};

QString fromTable(const char *text) { return QString::fromUtf8(text); }

QJsonObject availability(const QString &topic) {
    return {{QStringLiteral("topic"), topic},
            {QStringLiteral("payload_available"), QString::fromLatin1(kOnline)},
            {QStringLiteral("payload_not_available"), QString::fromLatin1(kOffline)}};
}

}  // namespace

QString discoveryTopic(const QString &discoveryPrefix, const Topics &topics) {
    return discoveryPrefix + QStringLiteral("/device/mv70_") + topics.name() + QStringLiteral("/config");
}

QByteArray discoveryDocument(const Topics &topics, const DeviceInfo &device) {
    const QString id = QStringLiteral("mv70_") + topics.name();

    QJsonObject components;
    for (const Entity &entity : kEntities) {
        const QString key = fromTable(entity.key);
        QJsonObject component{
            {QStringLiteral("p"), fromTable(entity.platform)},
            {QStringLiteral("name"), fromTable(entity.name)},
            {QStringLiteral("unique_id"), id + u'_' + key},
            {QStringLiteral("object_id"), id + u'_' + key},
        };
        if (entity.topics & State)
            component[QStringLiteral("state_topic")] = topics.state(key);
        if (entity.topics & Command)
            component[QStringLiteral("command_topic")] = topics.command(key);
        if (entity.topics & OnOff) {
            component[QStringLiteral("payload_on")] = QStringLiteral("ON");
            component[QStringLiteral("payload_off")] = QStringLiteral("OFF");
        }
        if (*entity.deviceClass)
            component[QStringLiteral("device_class")] = fromTable(entity.deviceClass);
        if (*entity.unit)
            component[QStringLiteral("unit_of_measurement")] = fromTable(entity.unit);
        if (*entity.stateClass)
            component[QStringLiteral("state_class")] = fromTable(entity.stateClass);
        if (entity.diagnostic)
            component[QStringLiteral("entity_category")] = QStringLiteral("diagnostic");
        if (QString(entity.platform) == u"button")
            component[QStringLiteral("payload_press")] = acceptedPayloads(key).value(0);
        if (QString(entity.platform) == u"select")
            component[QStringLiteral("options")] = QJsonArray::fromStringList(acceptedPayloads(key));
        if (key == u"power_state")
            component[QStringLiteral("options")] = QJsonArray::fromStringList(kPowerStates);
        if (entity.topics & Command)
            component[QStringLiteral("retain")] = false;
        components[key] = component;
    }

    const QJsonObject document{
        {QStringLiteral("dev"),
         QJsonObject{
             {QStringLiteral("identifiers"), QJsonArray{id}},
             {QStringLiteral("name"), device.name.isEmpty() ? topics.name() : device.name},
             {QStringLiteral("model"), QStringLiteral("MV70")},
             {QStringLiteral("manufacturer"), QStringLiteral("OLVA")},
             {QStringLiteral("sw_version"), device.version},
         }},
        {QStringLiteral("o"),
         QJsonObject{
             {QStringLiteral("name"), QStringLiteral("mv70-bridge")},
             {QStringLiteral("sw_version"), device.version},
         }},
        {QStringLiteral("availability"),
         QJsonArray{
             availability(topics.bridgeAvailability()),
             availability(topics.lineAvailability()),
         }},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("cmps"), components},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

}  // namespace mv70::mqtt
