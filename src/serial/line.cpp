// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line.h"

#include "logic/network_address.h"
#include "serial/device_line.h"
#include "serial/network_line.h"

namespace mv70::serial {

QString logText(const QString &device, const SettingsNotice &notice) {
    switch (notice.kind) {
    case SettingsNotice::Kind::NotCarried:
        return QStringLiteral("%1: raw TCP carries no line settings; the speed is the server's").arg(device);
    case SettingsNotice::Kind::OptionRefused:
        return QStringLiteral("%1: the server refused the COM port option, so it carries no line settings; the "
                              "speed is the server's")
            .arg(device);
    case SettingsNotice::Kind::OptionUnanswered:
        return QStringLiteral("%1: the server did not answer the COM port option, so it carries no line settings; "
                              "the speed is the server's")
            .arg(device);
    case SettingsNotice::Kind::OtherSpeed:
        return QStringLiteral("%1: %2 bps asked for, the server set its port to %3 bps")
            .arg(device)
            .arg(notice.asked)
            .arg(notice.confirmed);
    }
    return device;
}

std::unique_ptr<Line> makeLine(const QString &device, const LineOptions &options, QObject *parent) {
    if (isNetworkDevice(device))
        return std::make_unique<NetworkLine>(device, options.connectTimeLimitMs, parent);
    return std::make_unique<DeviceLine>(device, parent);
}

}  // namespace mv70::serial
