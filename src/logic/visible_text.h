// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text that comes from another program or a device (a lock file's program
// name, a process's command line, a USB adapter's maker and product) made
// safe to show anywhere: on a terminal, in a message box, in a log. Control
// characters would otherwise act on the terminal (set its title, clear the
// screen) or reorder what the operator reads.

#include <QString>
#include <QStringView>

namespace mv70 {

// `text` with every control character shown as an escape: C0 controls, DEL
// and C1 controls as "\x1b", the bidirectional embeddings, overrides and
// isolates (U+202A-202E, U+2066-2069) as "\u202e", and the backslash itself
// as "\\", so that every escape reads back one way. Everything else is kept.
QString visibleText(QStringView text);

}  // namespace mv70
