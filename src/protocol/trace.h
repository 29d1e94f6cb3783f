#pragma once
// The trace: how a command or reply is shown on the TXD and RXD lines.
// A blank, then one token per character.

#include <QString>
#include <QStringView>

namespace mv70 {

QString renderTrace(QStringView text);

}  // namespace mv70
