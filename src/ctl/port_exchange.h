// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One port's part of an mv70-ctl run: opens the port, sends the action (at
// its repeat period for several steps) through the exchange the panel uses,
// and, when asked, queries the status until it reads what was waited for.
// What it adds to the exchange: a reply is complete at its carriage return
// or acknowledge byte (or, at the window's end, when its reading is whole),
// and the polling. A reply cut short is no answer. An action the projector
// can do only in some power states (logic/operations.h) is preceded by a
// status query, and not sent when the status says it is not possible now.
// Everything runs on the caller's event loop: many ports, one thread.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "ctl/actions.h"
#include "logic/exchange.h"
#include "logic/reading.h"
#include "serial/port.h"

namespace mv70 {
class ExchangeLog;
}

namespace mv70::ctl {

// Ended by signal N (SIGTERM, SIGINT, SIGHUP): kEndedBySignal + N.
enum ExitStatus { kAnswered = 0, kNoReply = 1, kUsageError = 2, kPortError = 3, kEndedBySignal = 128 };

struct PortResult {
    QString port;
    QString command;     // the action's code
    QByteArray sent;     // every byte sent
    QByteArray reply;    // every byte received (the newest kReceivedLimit)
    QString trace;       // the receive trace of the last reply, as the RXD line shows it
    QString reading;     // the answer printed: the STATUS line's text trimmed, "acknowledged", or the trace
    ReadingValue value;  // what the reading means, when it is a whole reading
    qint64 ms = 0;       // from the start of this port's part to its end
    int status = kNoReply;
    QString error;        // why, when status is not kAnswered
    QStringList notices;  // what the line said about its speed
};

class PortExchange : public QObject {
    Q_OBJECT

public:
    PortExchange(const QString &port, const Options &options, ExchangeLog *log, QObject *parent = nullptr);

    void start();
    // Ends it now, unless it has ended: the port closed, `status` and `error`
    // its result.
    void end(int status, const QString &error) { finish(status, error); }
    const PortResult &result() const { return result_; }
    bool isFinished() const { return finished_; }

    // The timers, for tests that drive the ticks themselves.
    QTimer &stepTimer() { return stepTimer_; }
    QTimer &replyTimer() { return exchange_.replyWindow(); }

signals:
    void finished();

private:
    void send(const QString &code, int replyWindow);
    // Sends the action, after the status query when it has one.
    void beginAction();
    // The status query before the action has ended.
    void checked(bool answered);
    void sendStep();
    void onCommandLeft(const QString &text);
    void onReplied(const QString &input, const QString &trace, const Reading &reading);
    void onReplyWindowEnded(bool answered);
    // `arrived`: anything came within the window.
    void replyComplete(bool arrived);
    void poll();
    void finish(int status, const QString &error = {});
    // Ends the exchange for a port error, in this tool's words once the
    // failure's facts are looked up (off this thread).
    void fail(const serial::LineFailure &failure);

    const Options &options_;
    ExchangeLog *log_;
    serial::Port port_;
    Exchange exchange_;  // its own timer is the reply window of the last send
    QElapsedTimer clock_;
    QTimer stepTimer_;  // the repeat of a press-and-hold action
    QTimer pollTimer_;  // the pace of the status queries while waiting
    QTimer deadline_;   // the end of the wait
    int stepsLeft_ = 0;
    bool inFlight_ = false;  // a send whose reply is still awaited
    bool waiting_ = false;   // the action is done; querying the status
    bool finished_ = false;
    bool failing_ = false;   // a port error being looked into
    bool checking_ = false;  // the status query before the action is out
    bool whole_ = false;     // the reply of the last send has all its reading needs
    PortResult result_;
};

}  // namespace mv70::ctl
