// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What each PJLink request means for this projector: the one table from
// PJLink command and parameter to the projector's command codes (for a set)
// or to the reading of the bridge's state (for a query). docs/pjlink.md
// shows the same table.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#include "logic/projector_state.h"
#include "pjlink/protocol.h"

namespace mv70::pjlink {

// What NAME, INF1, INF2, INFO, SVER and SNUM say: fixed for a projector.
struct Identity {
    QByteArray name;  // UTF-8; cut to 64 bytes
    QByteArray softwareVersion;
    QByteArray serialNumber = {};  // as configured; empty when not given
};

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
QByteArray cutUtf8(QByteArray text, qsizetype bytes);

struct Plan {
    QByteArray reply;      // the answer now, when `codes` is empty
    QList<QString> codes;  // otherwise: the projector's commands, in order, then setReply
};

Plan plan(const Request &request, const bridge::ProjectorState &state, const Identity &identity);

// The answer to a set once its commands have ended; the worst outcome counts.
QByteArray setReply(const Request &request, bridge::Outcome outcome);

// The bodies a query would answer, for the status notifications; nothing
// while the state does not tell. Power is told only once it has settled.
std::optional<QByteArray> settledPower(const bridge::ProjectorState &state);
std::optional<QByteArray> inputTerminal(const bridge::ProjectorState &state);
QByteArray errorStatus(const bridge::ProjectorState &state);

}  // namespace mv70::pjlink
