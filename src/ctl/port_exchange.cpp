#include "ctl/port_exchange.h"

#include "ctl/port_words.h"
#include "logic/command_table.h"
#include "logic/controller_state.h"
#include "logic/exchange_log.h"
#include "logic/line_settings.h"
#include "logic/reply_decoder.h"
#include "serial/mscomm.h"

namespace mv70::ctl {
namespace {

constexpr QChar kAck = u'\x06';
const QString kStatusQuery = QStringLiteral("CR0");

// A reply is complete at its carriage return, or as the acknowledge byte.
bool complete(const QString &received) { return received.contains(kCR) || received.contains(kAck); }

}  // namespace

PortExchange::PortExchange(const QString &port, const Options &options, ExchangeLog *log, QObject *parent)
    : QObject(parent), options_(options), log_(log) {
    result_.port = port;
    result_.command = options.action.code;
    for (QTimer *timer : {&stepTimer_, &replyTimer_, &pollTimer_, &deadline_})
        timer->setTimerType(Qt::PreciseTimer);
    replyTimer_.setSingleShot(true);
    deadline_.setSingleShot(true);
    connect(&stepTimer_, &QTimer::timeout, this, &PortExchange::sendStep);
    connect(&replyTimer_, &QTimer::timeout, this, &PortExchange::replyWindowOver);
    connect(&pollTimer_, &QTimer::timeout, this, &PortExchange::poll);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(kNoReply, QStringLiteral("not \"%1\" within %2 s; last reading: \"%3\"")
                             .arg(options_.waitFor)
                             .arg(options_.timeoutMs / 1000.0)
                             .arg(result_.reading));
    });
    line_ = serial::makeLine(port);
    connect(line_.get(), &serial::Line::dataReady, this, &PortExchange::onReceive);
    connect(line_.get(), &serial::Line::lost, this, &PortExchange::fail);
    // A network port connects after the opening has returned.
    connect(line_.get(), &serial::Line::failed, this, &PortExchange::fail);
}

void PortExchange::fail(const serial::LineFailure &failure) {
    if (finished_ || failing_)
        return;
    failing_ = true;
    for (QTimer *timer : {&stepTimer_, &replyTimer_, &pollTimer_, &deadline_})
        timer->stop();
    line_->close();
    serial::diagnoseInBackground(failure, this, [this](const serial::LineFailure &diagnosed) {
        finish(kPortError, describeFailure(diagnosed));
    });
}

void PortExchange::start() {
    clock_.start();
    const auto settings = serial::parseLineSettings(options_.settings);
    if (const QString *why = std::get_if<QString>(&settings)) {
        finish(kUsageError, *why);
        return;
    }
    if (const std::optional<serial::LineFailure> failure = line_->open(std::get<serial::LineSettings>(settings))) {
        fail(*failure);
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
    lastCommand_ = code + kCR;
    sinceSend_.clear();
    inFlight_ = true;
    if (const std::optional<serial::LineFailure> failure = line_->write(serial::MSComm::encodeOutput(lastCommand_))) {
        fail(*failure);
        return;
    }
    result_.sent += serial::MSComm::encodeOutput(lastCommand_);
    if (log_)
        log_->add(result_.port, result_.port, ExchangeLog::Direction::Transmit, lastCommand_);
    replyTimer_.start(replyWindow);
}

void PortExchange::sendStep() {
    if (stepsLeft_ <= 0)
        return;
    --stepsLeft_;
    if (stepsLeft_ == 0)
        stepTimer_.stop();
    send(options_.action.code, options_.action.replyWindow);
}

void PortExchange::onReceive() {
    const QString received = serial::MSComm::decodeInput(line_->readAll());
    if (received.isEmpty() || finished_ || failing_)
        return;
    result_.reply += received.toLatin1();
    if (result_.reply.size() > kReplyLimit)
        result_.reply.remove(0, result_.reply.size() - kReplyLimit);
    sinceSend_ += received;
    if (sinceSend_.size() > kReplyLimit)
        sinceSend_.remove(0, sinceSend_.size() - kReplyLimit);

    // The panel's own reading: the decoder on the receive trace.
    result_.trace = rxTrace_.render(sinceSend_);
    const Reading reading = decodeReply(lastCommand_, QString(), result_.trace, pressureValue_);
    if (reading.outcome != Reading::Outcome::NoMatch)
        result_.reading = reading.text.startsWith(u' ') ? reading.text.sliced(1) : reading.text;
    else if (sinceSend_ == kAck)
        result_.reading = QStringLiteral("acknowledged");
    else
        result_.reading = result_.trace.trimmed();
    if (log_)
        log_->add(result_.port, result_.port, ExchangeLog::Direction::Receive, received, reading.text);

    if (inFlight_ && stepsLeft_ == 0 && complete(sinceSend_)) {
        replyTimer_.stop();
        replyComplete(true);
    }
}

void PortExchange::replyWindowOver() {
    if (!inFlight_ || stepsLeft_ > 0)
        return;  // more steps follow; the last one's window decides
    replyComplete(!sinceSend_.isEmpty());
}

void PortExchange::replyComplete(bool answered) {
    inFlight_ = false;
    if (!answered)
        result_.reading.clear();
    if (!waiting_) {
        if (options_.waitFor.isEmpty()) {
            if (answered)
                finish(kAnswered);
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

void PortExchange::finish(int status, const QString &error) {
    if (finished_)
        return;
    finished_ = true;
    for (QTimer *timer : {&stepTimer_, &replyTimer_, &pollTimer_, &deadline_})
        timer->stop();
    line_->close();
    result_.status = status;
    result_.error = error;
    result_.ms = clock_.isValid() ? clock_.elapsed() : 0;
    emit finished();
}

}  // namespace mv70::ctl
