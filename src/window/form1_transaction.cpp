// SPDX-License-Identifier: GPL-3.0-or-later
// The transaction routine and the reply timers of the window.

#include "logic/trace.h"
#include "window/form1.h"

namespace mv70 {

bool Form1::Hyouji(const QString &text, quint8 direction) {
    if (direction == kTransmit) {
        // 1. The bytes go out before anything is shown. A transmit begins a
        // new exchange: what the decoder reads, and what the RXD line shows
        // at the next receive, is what arrived since (the exchange empties
        // RxBuffer once the write has succeeded). A reply or noise still in
        // the buffer would otherwise be read as the head of this command's
        // reply.
        if (const QString failure = exchange.write(text); !failure.isEmpty()) {
            // Nothing after the failed write happens: no trace, no timers, no flag.
            reportFailure(failure);
            return false;
        }
        // 2, 3. The trace, then the reply window (Timer2 on, AwaitingReply 1)
        // and the display hold (Timer4 on, at replyWindowOpened). Both wait
        // until the bytes have left for the line: at once for a local
        // device, after the connection is made for a network port.
        Label11->setText(renderTrace(text));
        lineStateShown_ = false;  // this command's display hold ends it
        if (!Timer1.isActive())   // the operator's command, not the repeat of a held button
            announcedSinceCommand_.clear();
        logExchange(kTransmit, text);
        exchange.openReplyWindow();
        return true;
    }

    // 2, 4. The trace of everything received, then the decoder reads it back.
    Label12->setText(exchange.traceReceived(text));
    const Reading reading = exchange.read(text, Label12->text());
    logExchange(kReceive, text, reading.text);
    switch (reading.outcome) {
    case Reading::Outcome::NoMatch:
        return true;
    case Reading::Outcome::Status:
        lineStateShown_ = false;
        Label22->setText(reading.text);
        announceOnce(reading.text);
        return true;
    case Reading::Outcome::OutOfRange:
        lineStateShown_ = false;
        Label22->setText(reading.text);
        announceOnce(reading.text);
        return false;
    }
    return true;
}

// A screen reader hears a reading or no answer once for each command of the
// operator's: not again at each later piece of the reply that decodes to the
// same reading, nor at each repeat of a held button.
void Form1::announceOnce(const QString &message) {
    if (message == announcedSinceCommand_)
        return;
    announcedSinceCommand_ = message;
    announce(message);
}

// End of the reply window.
void Form1::Timer2_Timer() {
    if (AwaitingReply() == 1) {
        Label12->setText(QStringLiteral(" X X X X"));
        announceOnce(QStringLiteral("No answer"));
    }
    exchange.endReplyWindow();  // Timer2 off, RxBuffer emptied, AwaitingReply 0
}

// Port-panel auto-hide.
void Form1::Timer3_Timer() {
    Frame8->setVisible(false);
    Timer3.stop();
}

// End of the display hold. What the line is doing stays on the STATUS line
// until the next command: a line lost during the hold is still lost after it.
void Form1::Timer4_Timer() {
    Label11->setText(QString());
    Label12->setText(QString());
    if (!lineStateShown_)
        Label22->setText(QString());
    Timer4.stop();
}

}  // namespace mv70
