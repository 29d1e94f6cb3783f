// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/exchange.h"

#include "logic/command_text.h"

namespace mv70 {

Exchange::Exchange(QTimer *replyWindow, QObject *parent)
    : QObject(parent), window_(replyWindow ? replyWindow : &ownWindow_) {
    if (!replyWindow) {
        ownWindow_.setTimerType(Qt::PreciseTimer);
        ownWindow_.setSingleShot(true);
        connect(&ownWindow_, &QTimer::timeout, this, &Exchange::endReplyWindow);
    }
}

void Exchange::setReceived(const QString &text) { received_ = text.right(kReceivedLimit); }

QString Exchange::commandText(QStringView code) const {
    QString text = prefix_;
    text += code;
    text += kCR;
    return text;
}

QString Exchange::send(QStringView code, int replyWindowMs) {
    lastCommand_ = commandText(code);
    window_->setInterval(replyWindowMs);
    if (QString failure = write(lastCommand_); !failure.isEmpty())
        return failure;
    emit traced(kTransmit, renderTrace(lastCommand_));
    openReplyWindow();
    return {};
}

Reading Exchange::receive(QStringView input) {
    (void)append(input);
    const QString trace = traceReceived(received_);
    emit traced(kReceive, trace);
    Reading reading = read(received_, trace);
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
    received_.clear();
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
    replyWait_ = ReplyWait::Awaited;
    emit replyWindowOpened();
}

void Exchange::closeReplyWindow() {
    windowDue_ = false;
    window_->stop();
}

qsizetype Exchange::append(QStringView input) {
    const qsizetype before = received_.size();
    received_ += input;
    const qsizetype arrived = received_.size() - before;
    // Only the newest characters are kept: a line that never stops talking
    // cannot grow the buffer without end.
    if (received_.size() > kReceivedLimit)
        received_.remove(0, received_.size() - kReceivedLimit);
    replyWait_ = ReplyWait::None;
    return arrived;
}

const QString &Exchange::traceReceived(const QString &text) { return rxTrace_.render(text); }

Reading Exchange::read(QStringView received, QStringView trace) {
    return decodeReply(lastCommand_, prefix_, received, trace, pressureValue_);
}

void Exchange::endReplyWindow() {
    const bool answered = replyWait_ == ReplyWait::None;
    window_->stop();
    received_.clear();
    replyWait_ = ReplyWait::None;
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

bool Exchange::acknowledged() const { return received_.size() == 1 && received_.front() == kAck; }

}  // namespace mv70
