// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's exchange log: every transmit and receive event of the window,
// appended to the file that MV70_LOG names. Without MV70_LOG nothing is
// logged and nothing else changes.

#include <cstdio>

#include "window/form1.h"

namespace mv70 {

void Form1::openExchangeLog() {
    const QString path = qEnvironmentVariable("MV70_LOG");
    if (path.isEmpty())
        return;
    exchangeLog_ = std::make_unique<ExchangeLog>(path);
    // Said once on the STATUS line; the window goes on without the log.
    connect(exchangeLog_.get(), &ExchangeLog::failed, this, &Form1::reportFailure);
}

void Form1::closeExchangeLog() {
    if (!exchangeLog_)
        return;
    // The window is gone by now, so what the file did not take in time is
    // said on standard error.
    if (const qint64 dropped = exchangeLog_->finish(); dropped > 0)
        std::fprintf(stderr, "mv70-control: %s\n",
                     qPrintable(ExchangeLog::droppedAtExit(exchangeLog_->path(), dropped)));
}

void Form1::logExchange(quint8 direction, const QString &text, const QString &reading) {
    if (!exchangeLog_)
        return;
    const QString port = QStringLiteral("COM%1").arg(MSComm1.CommPort());
    if (direction == kTransmit) {
        exchangeLog_->add(port, MSComm1.device(), ExchangeLog::Direction::Transmit, text);
        return;
    }
    // Only what this event brought: the rest of the buffer is logged already.
    const QString arrived = text.right(arrived_);
    exchangeLog_->add(port, MSComm1.device(), ExchangeLog::Direction::Receive, arrived, reading);
}

}  // namespace mv70
