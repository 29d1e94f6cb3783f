// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/reading_json.h"

#include <QJsonArray>

namespace mv70::ctl {
namespace {

QString powerName(Power power) {
    switch (power) {
    case Power::Standby:
        return QStringLiteral("standby");
    case Power::WarmingUp:
        return QStringLiteral("warming up");
    case Power::On:
        return QStringLiteral("on");
    case Power::CoolingDown:
        return QStringLiteral("cooling down");
    case Power::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString inputName(Source input) {
    switch (input) {
    case Source::Computer1:
        return QStringLiteral("pc1");
    case Source::Computer2:
        return QStringLiteral("pc2");
    case Source::Video:
        return QStringLiteral("video");
    case Source::Input4:
        return QStringLiteral("input4");
    case Source::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString lampsName(LampMode::Use use) {
    switch (use) {
    case LampMode::Use::Both:
        return QStringLiteral("both");
    case LampMode::Use::Lamp1:
        return QStringLiteral("lamp1");
    case LampMode::Use::Lamp2:
        return QStringLiteral("lamp2");
    }
    return {};
}

template <typename T>
QJsonValue orNull(const std::optional<T> &value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// A field the reply says nothing of is left out.
void insertKnown(QJsonObject &object, const QString &key, const std::optional<bool> &value) {
    if (value)
        object.insert(key, *value);
}

}  // namespace

QJsonObject readingJson(const ReadingValue &value) {
    return std::visit(
        Overloaded{
            [](std::monostate) { return QJsonObject(); },
            [](const OperatingStatus &status) {
                return QJsonObject{
                    {QStringLiteral("power"), powerName(status.power)},
                    {QStringLiteral("temperature_warning"), status.temperatureWarning},
                    {QStringLiteral("lamp_failure"), status.lampFailure},
                    {QStringLiteral("power_failure"), status.powerFailure},
                    {QStringLiteral("power_management"), status.powerManagement},
                    {QStringLiteral("key_input_off"), status.keyInputOff},
                };
            },
            [](Source input) {
                return QJsonObject{{QStringLiteral("input"), inputName(input)}};
            },
            [](Reversal reversal) {
                return QJsonObject{
                    {QStringLiteral("top_bottom"), reversal == Reversal::TopBottom || reversal == Reversal::Both},
                    {QStringLiteral("left_right"), reversal == Reversal::LeftRight || reversal == Reversal::Both},
                };
            },
            [](const LampTime &time) {
                return QJsonObject{{QStringLiteral("hours"), orNull(time.hours)}};
            },
            [](const Temperatures &temperatures) {
                QJsonArray celsius;
                for (const std::optional<double> &sensor : temperatures.celsius)
                    celsius.append(orNull(sensor));
                return QJsonObject{{QStringLiteral("celsius"), celsius}};
            },
            [](const MuteStatus &mute) {
                QJsonObject object;
                insertKnown(object, QStringLiteral("picture_mute"), mute.picture);
                insertKnown(object, QStringLiteral("sound_mute"), mute.sound);
                insertKnown(object, QStringLiteral("no_signal"), mute.noSignal);
                if (object.isEmpty())  // in standby the projector says nothing of them
                    object.insert(QStringLiteral("standby"), true);
                return object;
            },
            [](const Info &info) {
                return QJsonObject{{QStringLiteral("info"), info.text}};
            },
            [](const Pressure &pressure) {
                return QJsonObject{{QStringLiteral("hpa"), orNull(pressure.hectopascals)}};
            },
            [](const LampMode &mode) {
                return QJsonObject{
                    {QStringLiteral("lamps"), lampsName(mode.use)},
                    {QStringLiteral("lamp1_on"), mode.lamp1On},
                    {QStringLiteral("lamp2_on"), mode.lamp2On},
                };
            },
        },
        value);
}

}  // namespace mv70::ctl
