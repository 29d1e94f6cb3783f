// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A reading's value as JSON, for `mv70-ctl --json`: the power state, the
// input, the hours, ... as JSON values, never the STATUS line's text.

#include <QJsonObject>

#include "logic/reading.h"

namespace mv70::ctl {

// Empty for no reading.
QJsonObject readingJson(const ReadingValue &value);

}  // namespace mv70::ctl
