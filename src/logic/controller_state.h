#pragma once
// The controller state of the window: the module variables that every
// handler shares. There is one thread, so nothing here needs a lock.

#include <QString>
#include <QtGlobal>

namespace mv70 {

struct ControllerState {
    quint8 RepeatCode = 0;      // row of the repeat table that Timer1 sends; 0 = none
    quint8 AwaitingReply = 0;   // 1 from a transmit until something is received
    quint8 ArrowSpeedMode = 0;  // 1 after a menu entry, 3 after a D.Zoom release
    QString LastCommand;        // the whole text of the last command, CR included
    QString RxBuffer;           // everything received since it was last emptied
    qint16 PressureValue = 0;   // work value of the pressure reading
    qint16 DataPanelArmed = 0;  // 1 after Ctrl+J: the logo double-click opens the service band
    QString ManualText;         // the typed command at the last SEND
    QString PortSettings;       // the line settings last chosen
    QString CommandPrefix;      // put before every code; always empty
};

// Direction argument of the transaction routine.
inline constexpr quint8 kTransmit = 1;
inline constexpr quint8 kReceive = 2;

// Every command ends in one carriage return.
inline constexpr QChar kCR = u'\r';

}  // namespace mv70
