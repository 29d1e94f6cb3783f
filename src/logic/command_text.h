// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The characters every command and reply is made of, and the two ways a
// text goes: out to the projector or in from it.

#include <QChar>
#include <QtGlobal>

namespace mv70 {

// The direction of a text: to the projector or from it.
inline constexpr quint8 kTransmit = 1;
inline constexpr quint8 kReceive = 2;

// Every command ends in one carriage return.
inline constexpr QChar kCR = u'\r';
// The projector acknowledges an operation with this one byte.
inline constexpr QChar kAck = u'\x06';

}  // namespace mv70
