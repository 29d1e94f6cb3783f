// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel's words for what the serial line reports: why a port would not
// open, why it went away, that it is back. The operator chooses ports by
// number (COM1, COM2) and points them at devices with --comN or MV70_COMN.

#include <QString>

#include "serial/line.h"
#include "serial/line_failure.h"

namespace mv70::window {

// A failure on COM`port`: an opening refused, or a line lost (which the
// panel waits for).
QString describeFailure(int port, const serial::LineFailure &failure);

// The lost line's device is back but would not open; tried again every
// `intervalMs`.
QString describeStillAway(int port, const serial::LineFailure &failure, int intervalMs);

QString describeRestored(int port, const QString &device);

// The speed chosen did not take effect as asked.
QString describeSettingsNotCarried(int port, const QString &device, const serial::SettingsNotice &notice);

}  // namespace mv70::window
