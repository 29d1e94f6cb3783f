// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller state of the window: the module variables that every
// handler shares. There is one thread, so nothing here needs a lock. The
// state of the exchange itself (the last command, what was received, the
// pressure's work value) belongs to the Exchange (logic/exchange.h); Form1
// reaches it by its own names.

#include <QString>
#include <QtGlobal>

namespace mv70 {

struct ControllerState {
    quint8 RepeatCode = 0;      // row of the repeat table that the repeat sends; 0 = none
    quint8 ArrowSpeedMode = 0;  // 1 after a menu entry, 3 after a D.Zoom release
    qint16 DataPanelArmed = 0;  // 1 after Ctrl+J: the logo double-click opens the service band
    QString ManualText;         // the typed command at the last SEND
    QString PortSettings;       // the line settings last chosen
};

}  // namespace mv70
