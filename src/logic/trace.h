// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trace: how a command or reply is shown on the TXD and RXD lines.
// A blank, then one token per character.

#include <QString>
#include <QStringView>

namespace mv70 {

QString renderTrace(QStringView text);

// The trace of a text that changes by losing characters at its start and
// gaining characters at its end, as the receive buffer does while a line
// keeps talking: only the characters that are new since the last call are
// rendered. A trace is one token per character, so the trace of the kept
// part followed by the tokens of the new characters is the trace of the
// whole; any other change is rendered afresh. render() always returns
// exactly renderTrace(text).
class IncrementalTrace {
public:
    const QString &render(const QString &text);

private:
    QString text_;                         // the text last rendered
    QString trace_ = QStringLiteral(" ");  // its trace
    QString spare_;                        // the trace before it, written over next
};

}  // namespace mv70
