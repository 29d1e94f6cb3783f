// SPDX-License-Identifier: GPL-3.0-or-later
// The handlers of the buttons that send: one-shot clicks, press-and-hold
// repeat, and the typed command.

#include "window/form1.h"

namespace mv70 {
bool Form1::issueCommand(std::u16string_view code) {
    setLastCommand(exchange.commandText(code));
    return Hyouji(LastCommand(), kTransmit);
}

void Form1::OneShot_Click(const OneShotButton &button) {
    const ButtonTimings timings = buttonTimings(button);
    // The picture-mode and signal buttons: their reply window and display
    // hold, before the send.
    if (timings.timing) {
        Timer2.setInterval(timings.timing->replyWindow);
        Timer4.setInterval(timings.timing->displayHold);
    }
    if (!issueCommand(button.code))
        return;
    if (button.kind == OneShotKind::MenuEntry) {
        Timer1.setInterval(*timings.repeatPeriod);  // the arrows' repeat; Timer1 stays off
        ArrowSpeedMode = 1;
    }
}

void Form1::Hold_MouseDown(const HoldButton &button) {
    const ButtonTimings timings = buttonTimings(button, ArrowSpeedMode);
    if (button.arrow) {
        if (timings.timing) {
            Timer2.setInterval(timings.timing->replyWindow);
            Timer4.setInterval(timings.timing->displayHold);
        }
        RepeatCode = button.repeatCode;
        if (!issueCommand(button.code()))
            return;
        Timer1.start();  // at whatever period the last writer left
        return;
    }
    RepeatCode = button.repeatCode;
    if (!issueCommand(button.code()))
        return;
    // After the send: the running reply window and display hold take the
    // new intervals from now.
    Timer1.setInterval(*timings.repeatPeriod);
    Timer2.setInterval(timings.timing->replyWindow);
    Timer4.setInterval(timings.timing->displayHold);
    Timer1.start();
}

void Form1::Hold_MouseUp(const HoldButton &button) {
    RepeatCode = 0;
    Timer1.stop();
    exchange.closeReplyWindow();  // Timer2 off: no time-out mark for the last transmission
    Timer4.start();
    Label11->setText(QString());
    Label12->setText(QString());
    Timer2.setInterval(kStartTiming.replyWindow);
    Timer4.setInterval(kStartTiming.displayHold);
    setRxBuffer(QString());
    if (button.dZoomRelease) {
        Timer1.setInterval(kDZoomReleaseRepeatPeriod);
        ArrowSpeedMode = kDZoomReleaseArrowSpeedMode;
    }
}

void Form1::Timer1_Timer() {
    const std::optional<std::u16string_view> code = repeatCodeText(RepeatCode);
    if (!code)
        return;
    setLastCommand(exchange.commandText(*code));
    if (!Hyouji(LastCommand(), kTransmit))
        return;
    // Switch the repeat on again. It is still running, and restarting it
    // would shift every later tick by this tick's own run time, so it keeps
    // its period from tick to tick.
    if (!Timer1.isActive())
        Timer1.start();
}

void Form1::Command95_Click() {
    Timer2.setInterval(kImageTiming.replyWindow);
    Timer4.setInterval(kImageTiming.displayHold);
    ManualText = Text1->text();
    setLastCommand(CommandPrefix() + ManualText + kCR);
    (void)Hyouji(LastCommand(), kTransmit);
}

void Form1::Command96_Click() { Text1->setText(QString()); }

}  // namespace mv70
