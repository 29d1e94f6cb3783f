// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the bridge polls and how a reading becomes the fields of its state.
// A reading is the reply decoder's typed value (logic/reading.h); what a
// command changes and when the projector can do it is the operations table's
// (logic/operations.h). Widget-free; no line here.

#include <QStringView>

#include <array>

#include "logic/queries.h"
#include "logic/reply_decoder.h"
#include "projector/projector.h"

namespace mv70::bridge {

// The readings polled less often than the status, one at a time in this order.
inline constexpr std::array kSlowQueries = {
    Query::LampTime, Query::Temperatures, Query::Mute, Query::Input, Query::LampMode, Query::Reversal, Query::Pressure,
};

// True for a code the reply decoder reads.
bool isQuery(QStringView code);

// Writes what `reading` means into `state`; a reading that is no value of a
// query leaves it as it is.
void applyReading(const Reading &reading, ProjectorState &state);

}  // namespace mv70::bridge
