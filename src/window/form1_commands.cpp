// The handlers of the buttons that send: one-shot clicks, press-and-hold
// repeat, and the typed command.

#include "window/form1.h"

namespace mv70 {
namespace {

QString commandText(const QString &prefix, std::u16string_view code) {
    QString text = prefix;
    text += QStringView(code);
    text += kCR;
    return text;
}

}  // namespace

bool Form1::issueCommand(std::u16string_view code) {
    LastCommand = commandText(CommandPrefix, code);
    return Hyouji(LastCommand, kTransmit);
}

void Form1::OneShot_Click(const OneShotButton &button) {
    switch (button.kind) {
    case OneShotKind::Plain:
        (void)issueCommand(button.code);
        break;
    case OneShotKind::Image:
        Timer2.setInterval(kImageTiming.replyWindow);
        Timer4.setInterval(kImageTiming.displayHold);
        (void)issueCommand(button.code);
        break;
    case OneShotKind::Signal:
        Timer2.setInterval(kSignalTiming.replyWindow);
        Timer4.setInterval(kSignalTiming.displayHold);
        (void)issueCommand(button.code);
        break;
    case OneShotKind::MenuEntry:
        if (!issueCommand(button.code))
            return;
        Timer1.setInterval(kMenuEntryRepeatPeriod);  // the arrows' repeat; Timer1 stays off
        ArrowSpeedMode = 1;
        break;
    }
}

void Form1::Hold_MouseDown(const HoldButton &button) {
    if (button.arrow) {
        if (const std::optional<ReplyTiming> timing = arrowTiming(ArrowSpeedMode)) {
            Timer2.setInterval(timing->replyWindow);
            Timer4.setInterval(timing->displayHold);
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
    Timer1.setInterval(button.repeatPeriod);
    Timer2.setInterval(button.timing.replyWindow);
    Timer4.setInterval(button.timing.displayHold);
    Timer1.start();
}

void Form1::Hold_MouseUp(const HoldButton &button) {
    RepeatCode = 0;
    Timer1.stop();
    Timer2.stop();  // no time-out mark for the last transmission
    Timer4.start();
    Label11->setText(QString());
    Label12->setText(QString());
    Timer2.setInterval(kStartTiming.replyWindow);
    Timer4.setInterval(kStartTiming.displayHold);
    RxBuffer.clear();
    if (button.dZoomRelease) {
        Timer1.setInterval(kDZoomReleaseRepeatPeriod);
        ArrowSpeedMode = kDZoomReleaseArrowSpeedMode;
    }
}

void Form1::Timer1_Timer() {
    const std::optional<std::u16string_view> code = repeatCodeText(RepeatCode);
    if (!code)
        return;
    LastCommand = commandText(CommandPrefix, *code);
    if (!Hyouji(LastCommand, kTransmit))
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
    LastCommand = CommandPrefix + ManualText + kCR;
    (void)Hyouji(LastCommand, kTransmit);
}

void Form1::Command96_Click() { Text1->setText(QString()); }

}  // namespace mv70
