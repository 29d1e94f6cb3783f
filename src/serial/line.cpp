// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line.h"

#include "logic/network_address.h"
#include "serial/device_line.h"
#include "serial/network_line.h"

namespace mv70::serial {

std::unique_ptr<Line> makeLine(const QString &device, const LineOptions &options, QObject *parent) {
    if (isNetworkDevice(device))
        return std::make_unique<NetworkLine>(device, options.connectTimeLimitMs, parent);
    return std::make_unique<DeviceLine>(device, parent);
}

}  // namespace mv70::serial
