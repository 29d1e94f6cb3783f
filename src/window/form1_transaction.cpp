// The transaction routine and the reply timers of the window.

#include "logic/reply_decoder.h"
#include "logic/trace.h"
#include "window/form1.h"

namespace mv70 {

bool Form1::Hyouji(const QString &text, quint8 direction) {
    if (direction == kTransmit) {
        // 1. The bytes go out before anything is shown.
        if (const serial::CommOutcome sent = MSComm1.setOutput(text); !sent) {
            // Nothing after the failed write happens: no trace, no timers, no flag.
            reportFailure(sent.description());
            return false;
        }
        // A transmit begins a new exchange: what the decoder reads, and what
        // the RXD line shows at the next receive, is what arrived since.
        // A reply or noise still in the buffer would otherwise be read as
        // the head of this command's reply.
        RxBuffer.clear();
        // 2, 3. The trace, then the reply window, the flag and the display hold.
        Label11->setText(renderTrace(text));
        logExchange(kTransmit, text);
        Timer2.start();
        AwaitingReply = 1;
        Timer4.start();
        return true;
    }

    // 2, 4. The trace of everything received, then the decoder reads it back.
    Label12->setText(rxTrace_.render(text));
    const Reading reading = decodeReply(LastCommand, CommandPrefix, Label12->text(), PressureValue);
    logExchange(kReceive, text, reading.text);
    switch (reading.outcome) {
    case Reading::Outcome::NoMatch:
        return true;
    case Reading::Outcome::Status:
        Label22->setText(reading.text);
        return true;
    case Reading::Outcome::OutOfRange:
        Label22->setText(reading.text);
        return false;
    }
    return true;
}

// End of the reply window.
void Form1::Timer2_Timer() {
    if (AwaitingReply == 1)
        Label12->setText(QStringLiteral(" X X X X"));
    Timer2.stop();
    RxBuffer.clear();
    AwaitingReply = 0;
}

// Port-panel auto-hide.
void Form1::Timer3_Timer() {
    Frame8->setVisible(false);
    Timer3.stop();
}

// End of the display hold.
void Form1::Timer4_Timer() {
    Label11->setText(QString());
    Label12->setText(QString());
    Label22->setText(QString());
    Timer4.stop();
}

}  // namespace mv70
