// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/port_exchange.h"

#include "ctl/port_words.h"
#include "logic/command_table.h"
#include "logic/controller_state.h"
#include "logic/exchange_log.h"

namespace mv70::ctl {
namespace {

const QString kStatusQuery = QStringLiteral("CR0");
constexpr QChar kAck = u'\x06';

}  // namespace

PortExchange::PortExchange(const QString &port, const Options &options, ExchangeLog *log, QObject *parent)
    : QObject(parent), options_(options), log_(log) {
    result_.port = port;
    result_.command = options.action.code;
    for (QTimer *timer : {&stepTimer_, &pollTimer_, &deadline_})
        timer->setTimerType(Qt::PreciseTimer);
    deadline_.setSingleShot(true);
    connect(&stepTimer_, &QTimer::timeout, this, &PortExchange::sendStep);
    connect(&pollTimer_, &QTimer::timeout, this, &PortExchange::poll);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(kNoReply, QStringLiteral("not \"%1\" within %2 s; last reading: \"%3\"")
                             .arg(options_.waitFor)
                             .arg(options_.timeoutMs / 1000.0)
                             .arg(result_.reading));
    });

    serial::bindExchange(comm_, exchange_);
    connect(&comm_, &serial::MSComm::OnComm, this, [this] {
        if (comm_.CommEvent() != serial::MSComm::comEvReceive || finished_ || failing_)
            return;
        if (const QString received = comm_.Input(); !received.isEmpty())
            (void)exchange_.receive(received);
    });
    connect(&exchange_, &Exchange::commandLeft, this, &PortExchange::onCommandLeft);
    connect(&exchange_, &Exchange::replied, this, &PortExchange::onReplied);
    connect(&exchange_, &Exchange::replyWindowEnded, this, &PortExchange::onReplyWindowEnded);
    // This tool's words, the port by the name it was given.
    comm_.setWording([](int, const serial::LineFailure &failure) { return describeFailure(failure); });
    connect(&comm_, &serial::MSComm::lineLost, this, &PortExchange::fail);
    // A network port connects after the opening has returned.
    connect(&comm_, &serial::MSComm::openFailed, this, &PortExchange::fail);
    connect(&comm_, &serial::MSComm::settingsNotCarried, this, [this](const serial::SettingsNotice &notice) {
        result_.notices << describeSettingsNotice(result_.port, notice);
    });
}

void PortExchange::start() {
    clock_.start();
    comm_.setDevice(result_.port);
    serial::CommOutcome outcome = comm_.setSettings(options_.settings);
    if (outcome)
        outcome = comm_.setPortOpen(true);
    if (!outcome) {
        if (outcome.lineFailure())
            fail(*outcome.lineFailure());
        else
            finish(kPortError, outcome.description());
        return;
    }
    if (!options_.waitFor.isEmpty())
        deadline_.start(options_.timeoutMs);
    stepsLeft_ = options_.steps;
    sendStep();
    if (!finished_ && !failing_ && stepsLeft_ > 0) {
        stepTimer_.setInterval(options_.action.repeatPeriod);
        stepTimer_.start();
    }
}

void PortExchange::send(const QString &code, int replyWindow) {
    inFlight_ = true;
    whole_ = false;
    // The reply window opens when the bytes have left for the line: for a
    // network port that is after the connection is made.
    if (const QString failure = exchange_.send(code, replyWindow); !failure.isEmpty())
        finish(kPortError, failure);
}

// Sent and logged once it has really left: a command that never reached the
// line is not reported as sent.
void PortExchange::onCommandLeft(const QString &text) {
    result_.sent += serial::MSComm::encodeOutput(text);
    if (log_)
        log_->add(result_.port, comm_.device(), ExchangeLog::Direction::Transmit, text);
}

void PortExchange::sendStep() {
    if (stepsLeft_ <= 0)
        return;
    --stepsLeft_;
    if (stepsLeft_ == 0)
        stepTimer_.stop();
    send(options_.action.code, options_.action.replyWindow);
}

void PortExchange::onReplied(const QString &input, const QString &trace, const Reading &reading) {
    result_.reply += input.toLatin1();
    if (result_.reply.size() > kRxBufferLimit)
        result_.reply.remove(0, result_.reply.size() - kRxBufferLimit);

    // The panel's own reading, less the STATUS line's leading blank.
    result_.trace = trace;
    if (reading.outcome != Reading::Outcome::NoMatch)
        result_.reading = reading.text.startsWith(u' ') ? reading.text.sliced(1) : reading.text;
    else if (exchange_.RxBuffer == kAck)
        result_.reading = QStringLiteral("acknowledged");
    else
        result_.reading = result_.trace.trimmed();
    if (log_)
        log_->add(result_.port, comm_.device(), ExchangeLog::Direction::Receive, input, reading.text);

    // A projector that sends its reply slowly has sent part of it when the
    // window ends: "8" of "80" is no reading.
    whole_ = exchange_.replyComplete() || isWholeReading(exchange_.LastCommand, exchange_.CommandPrefix, trace);
    if (inFlight_ && stepsLeft_ == 0 && exchange_.replyComplete())
        exchange_.endReplyWindow();
}

void PortExchange::onReplyWindowEnded(bool answered) {
    if (!inFlight_ || stepsLeft_ > 0 || finished_)
        return;  // more steps follow; the last one's window decides
    replyComplete(answered);
}

void PortExchange::replyComplete(bool arrived) {
    inFlight_ = false;
    const bool answered = arrived && whole_;
    if (!answered)
        result_.reading.clear();
    if (!waiting_) {
        if (options_.waitFor.isEmpty()) {
            if (answered)
                finish(kAnswered);
            else if (arrived)
                finish(kNoReply, QStringLiteral("no complete reply within %1 ms; received: %2")
                                     .arg(options_.action.replyWindow)
                                     .arg(result_.trace.trimmed()));
            else
                finish(kNoReply, QStringLiteral("no reply within %1 ms").arg(options_.action.replyWindow));
            return;
        }
        // The action is done, answered or not: a projector that is warming
        // up or cooling down may ignore it. Now the status, at a steady pace.
        waiting_ = true;
        if (answered && options_.action.code == kStatusQuery && result_.reading == options_.waitFor) {
            finish(kAnswered);
            return;
        }
        pollTimer_.start(kWaitPollMs);
        poll();
        return;
    }
    if (answered && result_.reading == options_.waitFor)
        finish(kAnswered);
}

void PortExchange::poll() {
    if (inFlight_ || finished_ || failing_)
        return;  // the last query is still awaited
    send(kStatusQuery, kStartTiming.replyWindow);
}

void PortExchange::fail(const serial::LineFailure &failure) {
    if (finished_ || failing_)
        return;
    failing_ = true;
    for (QTimer *timer : {&stepTimer_, &pollTimer_, &deadline_})
        timer->stop();
    exchange_.closeReplyWindow();
    (void)comm_.setPortOpen(false);  // this tool does not wait for a lost line
    serial::diagnoseInBackground(failure, this, [this](const serial::LineFailure &diagnosed) {
        finish(kPortError, describeFailure(diagnosed));
    });
}

void PortExchange::finish(int status, const QString &error) {
    if (finished_)
        return;
    finished_ = true;
    for (QTimer *timer : {&stepTimer_, &pollTimer_, &deadline_})
        timer->stop();
    exchange_.closeReplyWindow();
    (void)comm_.setPortOpen(false);
    result_.status = status;
    result_.error = error;
    result_.ms = clock_.isValid() ? clock_.elapsed() : 0;
    emit finished();
}

}  // namespace mv70::ctl
