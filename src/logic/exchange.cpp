// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/exchange.h"

#include "logic/controller_state.h"

namespace mv70 {

namespace {
constexpr QChar kAck = u'\x06';
}

Exchange::Exchange(QTimer *replyWindow, QObject *parent)
    : QObject(parent), window_(replyWindow ? replyWindow : &ownWindow_) {
    if (!replyWindow) {
        ownWindow_.setTimerType(Qt::PreciseTimer);
        ownWindow_.setSingleShot(true);
        connect(&ownWindow_, &QTimer::timeout, this, &Exchange::endReplyWindow);
    }
}

QString Exchange::commandText(QStringView code) const {
    QString text = CommandPrefix;
    text += code;
    text += kCR;
    return text;
}

QString Exchange::send(QStringView code, int replyWindowMs) {
    LastCommand = commandText(code);
    window_->setInterval(replyWindowMs);
    if (QString failure = write(LastCommand); !failure.isEmpty())
        return failure;
    emit traced(kTransmit, renderTrace(LastCommand));
    openReplyWindow();
    return {};
}

Reading Exchange::receive(QStringView input) {
    (void)append(input);
    const QString trace = traceReceived(RxBuffer);
    emit traced(kReceive, trace);
    Reading reading = read(trace);
    emit replied(input.toString(), trace, reading);
    return reading;
}

QString Exchange::write(const QString &text) {
    if (!writer_)
        return QStringLiteral("no line to write to");
    // Counted before the write: a local device says its bytes have left
    // before the writer returns.
    const qsizetype before = unsent_.size();
    if (!text.isEmpty())
        unsent_.append(text);
    if (QString failure = writer_(text); !failure.isEmpty()) {
        if (unsent_.size() > before)
            unsent_.removeLast();
        return failure;
    }
    RxBuffer.clear();
    return {};
}

void Exchange::openReplyWindow() {
    if (!unsent_.isEmpty()) {
        windowDue_ = true;
        return;
    }
    startWindow();
}

void Exchange::startWindow() {
    windowDue_ = false;
    window_->start();
    AwaitingReply = 1;
    emit replyWindowOpened();
}

void Exchange::closeReplyWindow() {
    windowDue_ = false;
    window_->stop();
}

qsizetype Exchange::append(QStringView input) {
    const qsizetype before = RxBuffer.size();
    RxBuffer += input;
    const qsizetype arrived = RxBuffer.size() - before;
    // Only the newest characters are kept: a line that never stops talking
    // cannot grow the buffer without end.
    if (RxBuffer.size() > kRxBufferLimit)
        RxBuffer.remove(0, RxBuffer.size() - kRxBufferLimit);
    AwaitingReply = 0;
    return arrived;
}

const QString &Exchange::traceReceived(const QString &text) { return rxTrace_.render(text); }

Reading Exchange::read(QStringView trace) { return decodeReply(LastCommand, CommandPrefix, trace, PressureValue); }

void Exchange::endReplyWindow() {
    const bool answered = AwaitingReply == 0;
    window_->stop();
    RxBuffer.clear();
    AwaitingReply = 0;
    emit replyWindowEnded(answered);
}

void Exchange::bytesLeft() {
    if (unsent_.isEmpty())
        return;  // a write of someone else's
    const QString text = unsent_.takeFirst();
    emit commandLeft(text);
    if (windowDue_ && unsent_.isEmpty())
        startWindow();
}

void Exchange::lineGone() {
    unsent_.clear();
    if (windowDue_)
        startWindow();
}

bool Exchange::isReplyComplete(QStringView received) { return received.contains(kCR) || received.contains(kAck); }

}  // namespace mv70
