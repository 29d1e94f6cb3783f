// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Press-to-wire and reply-to-screen with the projector behind Debian's
// ser2net on loopback (RFC 2217 and raw TCP), beside the same figures on a
// local pseudo-terminal.

#include <QTextStream>

namespace bench {

// Writes its section as Markdown; false when a command or a reply went
// astray.
bool networkLatency(QTextStream &out, int samples);

}  // namespace bench
