// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// mv70-ctl's words for what the serial line reports. Its user names a port
// by its device (--port), and runs the tool again to try again: no port
// numbers, no waiting, no port panel.

#include <QString>

#include "serial/line.h"
#include "serial/line_failure.h"

namespace mv70::ctl {

QString describeFailure(const serial::LineFailure &failure);

// The speed asked for did not take effect at `device` (a network port).
QString describeSettingsNotice(const QString &device, const serial::SettingsNotice &notice);

}  // namespace mv70::ctl
