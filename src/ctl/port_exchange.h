#pragma once
// One port's part of an mv70-ctl run: opens the port, sends the action (at
// its repeat period for several steps), reads the reply as the panel does
// and, when asked, queries the status until it reads what was waited for.
// Everything runs on the caller's event loop: many ports, one thread.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "ctl/actions.h"
#include "logic/trace.h"
#include "serial/line.h"

#include <memory>

namespace mv70 {
class ExchangeLog;
}

namespace mv70::ctl {

enum ExitStatus { kAnswered = 0, kNoReply = 1, kUsageError = 2, kPortError = 3 };

struct PortResult {
    QString port;
    QString command;   // the action's code
    QByteArray sent;   // every byte sent
    QByteArray reply;  // every byte received (the newest kReplyLimit)
    QString trace;     // the receive trace of the last reply, as the RXD line shows it
    QString reading;   // the answer printed: the STATUS line's text trimmed, "acknowledged", or the trace
    qint64 ms = 0;     // from the start of this port's part to its end
    int status = kNoReply;
    QString error;  // why, when status is not kAnswered
};

class PortExchange : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kReplyLimit = 32767;

    PortExchange(const QString &port, const Options &options, ExchangeLog *log, QObject *parent = nullptr);

    void start();
    const PortResult &result() const { return result_; }
    bool isFinished() const { return finished_; }

    // The timers, for tests that drive the ticks themselves.
    QTimer &stepTimer() { return stepTimer_; }
    QTimer &replyTimer() { return replyTimer_; }

signals:
    void finished();

private:
    void send(const QString &code, int replyWindow);
    void sendStep();
    void onReceive();
    void replyWindowOver();
    void replyComplete(bool answered);
    void poll();
    void finish(int status, const QString &error = {});
    // Ends the exchange for a port error, in this tool's words once the
    // failure's facts are looked up.
    void fail(const serial::LineFailure &failure);

    const Options &options_;
    ExchangeLog *log_;
    std::unique_ptr<serial::Line> line_;
    bool failing_ = false;  // a port error being looked into
    QElapsedTimer clock_;
    QTimer stepTimer_;     // the repeat of a press-and-hold action
    QTimer replyTimer_;    // the reply window of the last send
    QTimer pollTimer_;     // the pace of the status queries while waiting
    QTimer deadline_;      // the end of the wait
    QString lastCommand_;  // the whole text of the last send, CR included
    QString sinceSend_;    // received since the last send
    IncrementalTrace rxTrace_;
    int stepsLeft_ = 0;
    bool inFlight_ = false;  // a send whose reply is still awaited
    bool waiting_ = false;   // the action is done; querying the status
    bool finished_ = false;
    qint16 pressureValue_ = 0;
    PortResult result_;
};

}  // namespace mv70::ctl
