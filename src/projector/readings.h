// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the bridge knows about the projector's commands and readings: which
// queries the poller sends, what a command changes and when the projector
// can do it, and how a reading (the STATUS line's text, from the reply
// decoder) becomes the fields of the state. Widget-free; no line here.

#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <string_view>

#include "logic/reply_decoder.h"
#include "projector/projector.h"

namespace mv70::bridge {

// The operating status, read every status period.
inline const QString kStatusQuery = QStringLiteral("CR0");

// The readings polled less often, one at a time in this order.
inline constexpr std::array<std::u16string_view, 7> kSlowQueries = {
    u"CR3", u"CR6", u"CRA", u"CR1", u"CR7", u"CR4", u"CR PRESSURE",
};

// True for a code the reply decoder reads.
bool isQuery(QStringView code);

// False when the projector cannot do `code` in the power state `power`
// (an input or mute change outside power on, power on while cooling down).
// An unknown power state allows everything.
bool possibleNow(QStringView code, Power power);

// The query whose reading `code` changes (power, input, mute), if any.
std::optional<QString> queryAfter(QStringView code);

// The freeze `code` sets, if it is a freeze command.
std::optional<bool> freezeSetBy(QStringView code);

// Writes the reading of `query` into `state`.
void applyReading(QStringView query, const Reading &reading, ProjectorState &state);

// The code of the command table's row named `action` (mv70-ctl's words,
// "power on"); empty when there is none.
QString codeOf(std::string_view action);

}  // namespace mv70::bridge
