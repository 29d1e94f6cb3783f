// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/port_exchange.h"

#include "ctl/port_words.h"
#include "logic/command_table.h"
#include "logic/exchange_log.h"
#include "logic/operations.h"

namespace mv70::ctl {
namespace {

const QString kStatusQuery = QStringView(queryCode(Query::Status)).toString();

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

    serial::bindExchange(port_, exchange_);
    connect(&port_, &serial::Port::received, this, [this] {
        if (finished_ || failing_)
            return;
        if (const QString received = port_.readAll(); !received.isEmpty())
            (void)exchange_.receive(received);
    });
    connect(&exchange_, &Exchange::commandLeft, this, &PortExchange::onCommandLeft);
    connect(&exchange_, &Exchange::replied, this, &PortExchange::onReplied);
    connect(&exchange_, &Exchange::replyWindowEnded, this, &PortExchange::onReplyWindowEnded);
    // This tool's words, the port by the name it was given.
    port_.setWording([](int, const serial::LineFailure &failure) { return describeFailure(failure); });
    connect(&port_, &serial::Port::lineLost, this, &PortExchange::fail);
    // A network port connects after the opening has returned.
    connect(&port_, &serial::Port::openFailed, this, &PortExchange::fail);
    connect(&port_, &serial::Port::settingsNotCarried, this, [this](const serial::SettingsNotice &notice) {
        result_.notices << describeSettingsNotice(result_.port, notice);
    });
}

void PortExchange::start() {
    clock_.start();
    port_.setDevice(result_.port);
    serial::CommOutcome outcome = port_.setSettings(options_.settings);
    if (outcome)
        outcome = port_.open();
    if (!outcome) {
        if (outcome.lineFailure())
            fail(*outcome.lineFailure());
        else
            finish(kPortError, outcome.description());
        return;
    }
    if (!options_.waitFor.isEmpty())
        deadline_.start(options_.timeoutMs);
    // An action that only some power states allow: the status first. No
    // answer, or one that is no status, leaves it to the projector.
    if (options_.action.kind != ActionKind::Send && operationNamed(options_.action.words.toStdString())) {
        checking_ = true;
        send(kStatusQuery, kStartTiming.replyWindow);
        return;
    }
    beginAction();
}

void PortExchange::beginAction() {
    stepsLeft_ = options_.steps;
    sendStep();
    if (!finished_ && !failing_ && stepsLeft_ > 0) {
        stepTimer_.setInterval(options_.action.repeatPeriod);
        stepTimer_.start();
    }
}

void PortExchange::checked(bool answered) {
    checking_ = false;
    inFlight_ = false;
    const OperationRow &operation = *operationNamed(options_.action.words.toStdString());
    const auto *status = std::get_if<OperatingStatus>(&result_.value);
    if (answered && whole_ && status && !possibleNow(operation, status->power)) {
        finish(kUsageError, QStringLiteral("%1 is not possible now: the projector is %2")
                                .arg(options_.action.words, powerWords(status->power)));
        return;
    }
    // What the action's reply says is its answer, not the status.
    result_.trace.clear();
    result_.reading.clear();
    result_.value = {};
    beginAction();
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
    result_.sent += serial::Port::encode(text);
    if (log_)
        log_->add(result_.port, port_.device(), ExchangeLog::Direction::Transmit, text);
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
    if (result_.reply.size() > kReceivedLimit)
        result_.reply.remove(0, result_.reply.size() - kReceivedLimit);

    // The panel's own reading, less the STATUS line's leading blank.
    result_.trace = trace;
    if (reading.outcome != Reading::Outcome::NoMatch)
        result_.reading = reading.text.startsWith(u' ') ? reading.text.sliced(1) : reading.text;
    else if (exchange_.acknowledged())
        result_.reading = QStringLiteral("acknowledged");
    else
        result_.reading = result_.trace.trimmed();
    result_.value = reading.whole ? reading.value : ReadingValue();
    if (log_)
        log_->add(result_.port, port_.device(), ExchangeLog::Direction::Receive, input, reading.text);

    // A projector that sends its reply slowly has sent part of it when the
    // window ends: "8" of "80" is no reading.
    whole_ = exchange_.replyComplete() || reading.whole;
    if (inFlight_ && stepsLeft_ == 0 && exchange_.replyComplete())
        exchange_.endReplyWindow();
}

void PortExchange::onReplyWindowEnded(bool answered) {
    if (!inFlight_ || stepsLeft_ > 0 || finished_)
        return;  // more steps follow; the last one's window decides
    if (checking_) {
        checked(answered);
        return;
    }
    replyComplete(answered);
}

void PortExchange::replyComplete(bool arrived) {
    inFlight_ = false;
    const bool answered = arrived && whole_;
    if (!answered) {
        result_.reading.clear();
        result_.value = {};
    }
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
    (void)port_.close();  // this tool does not wait for a lost line
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
    (void)port_.close();
    result_.status = status;
    result_.error = error;
    result_.ms = clock_.isValid() ? clock_.elapsed() : 0;
    emit finished();
}

}  // namespace mv70::ctl
