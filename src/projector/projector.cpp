// SPDX-License-Identifier: GPL-3.0-or-later
#include "projector/projector.h"

#include "logic/command_text.h"
#include "logic/exchange.h"
#include "logic/exchange_log.h"
#include "logic/line_settings.h"
#include "logic/operations.h"
#include "logic/reply_decoder.h"
#include "projector/readings.h"
#include "serial/port.h"

#include <QTimer>

#include <algorithm>
#include <deque>
#include <iterator>
#include <utility>
#include <vector>

namespace mv70::bridge {
namespace {

// A line that could not be opened is tried again after this, doubling up
// to the longest wait while it keeps failing.
constexpr int kFirstRetryMs = 1000;
constexpr int kLongestRetryMs = 30000;
// Queries in a row without an answer before the projector counts as gone.
constexpr int kSilentQueriesForLoss = 2;

// A reply is taken only once the line has stayed silent a moment after its
// carriage return (or acknowledge byte): a burst of several replies (a
// projector that held its answers) is then seen whole, even when the serial
// driver hands it over in two reads. The next reply of a burst follows at
// the line's speed, and a driver passes received bytes on after about four
// character times of silence (a UART's receive time-out); the floor is for
// the event loop between two reads. At 19200 and 9600 bit/s this is the
// floor: a few milliseconds on each reply, nothing on the way to the wire.
constexpr int kSettleCharacters = 4;
constexpr int kSettleFloorMs = 5;
// After a reply window that brought no single whole reply, the line must be
// quiet for as long as a reply window before the next command goes: a reply
// coming up to twice the window after its command is dropped, never taken
// for the next command's. A line that keeps talking (noise, a projector
// that will not stop) ends the guard after this many guard times, at most
// kLongestGuardMs.
constexpr int kGuardBoundTimes = 5;
constexpr int kLongestGuardMs = 30000;
// Bytes dropped are told in the bridge's log at most once a minute.
constexpr int kDropReportMs = 60000;

// What a reply window has received, by its terminators (carriage returns
// and acknowledge bytes).
enum class Shape {
    Partial,  // none yet
    One,      // one, at the end: one whole reply
    More,     // more than one, or bytes after one: no reply to credit
};

Shape shapeOf(QStringView received) {
    const qsizetype ends = received.count(kCR) + received.count(kAck);
    if (ends == 0)
        return Shape::Partial;
    return ends == 1 && (received.back() == kCR || received.back() == kAck) ? Shape::One : Shape::More;
}

// Four character times at the line's speed, or the floor.
int settleMs(const QString &settings) {
    const auto parsed = serial::parseLineSettings(settings);
    const auto *line = std::get_if<serial::LineSettings>(&parsed);
    if (!line || line->baudRate <= 0)
        return kSettleFloorMs;
    const int bits = 1 + line->dataBits + (line->parity == serial::LineSettings::Parity::None ? 0 : 1)
                   + (line->stopBits == serial::LineSettings::StopBits::One ? 1 : 2);
    return std::max(kSettleFloorMs, (kSettleCharacters * bits * 1000 + line->baudRate - 1) / line->baudRate);
}

const QString kDroppedNote = QStringLiteral("(dropped: no command's reply)");
const QString kNotTakenNote = QStringLiteral("(dropped: more than one reply)");

QString codeText(Query query) { return QStringView(queryCode(query)).toString(); }
const QString kStatusQuery = codeText(Query::Status);

}  // namespace

class Projector::Private : public QObject {
public:
    struct Job {
        QString code;
        std::function<void(Outcome)> done;  // empty for a poll
        // Called when a poll ends, however: the commands it follows are
        // done once their reading is in the state.
        std::vector<std::function<void()>> then;
        Owner owner = nullptr;  // a caller's; none for a poll
    };
    // One owner's commands, in the order given.
    struct Lane {
        Owner owner;
        std::deque<Job> jobs;
    };

    Private(Projector *q, ProjectorConfig config) : q_(q), config_(std::move(config)) {
        port_.setDevice(config_.device);
        for (QTimer *timer : {&statusTimer_, &slowTimer_, &retryTimer_, &settleTimer_, &quietTimer_, &boundTimer_})
            timer->setTimerType(Qt::PreciseTimer);
        for (QTimer *timer : {&retryTimer_, &settleTimer_, &quietTimer_, &boundTimer_, &dropTimer_})
            timer->setSingleShot(true);
        const int windowMs = std::max(1, config_.replyWindowMs);
        settleTimer_.setInterval(settleMs(config_.settings));
        quietTimer_.setInterval(windowMs);
        boundTimer_.setInterval(std::min(kGuardBoundTimes * windowMs, kLongestGuardMs));
        dropTimer_.setInterval(kDropReportMs);
        // The shared exchange writes to the line and reads the replies; its
        // reply window runs from when the bytes have left.
        serial::bindExchange(port_, exchange_);
        connect(&exchange_, &Exchange::replyWindowEnded, this, [this] {
            if (phase_ == Phase::Waiting)
                finishCommand(false);
        });
        connect(&settleTimer_, &QTimer::timeout, this, &Private::settled);
        connect(&quietTimer_, &QTimer::timeout, this, [this] { endGuard(false); });
        connect(&boundTimer_, &QTimer::timeout, this, [this] { endGuard(true); });
        connect(&dropTimer_, &QTimer::timeout, this, &Private::reportDropped);
        connect(&statusTimer_, &QTimer::timeout, this, &Private::statusTick);
        connect(&slowTimer_, &QTimer::timeout, this, &Private::slowTick);
        connect(&retryTimer_, &QTimer::timeout, this, &Private::open);
        connect(&port_, &serial::Port::received, this, &Private::onReceive);
        // The line's failures in the log's words (serial::logText, also
        // what the component's own descriptions are worded with).
        connect(&port_, &serial::Port::lineLost, this,
                [this](const serial::LineFailure &failure) { lineGone(serial::logText(failure), false); });
        connect(&port_, &serial::Port::openFailed, this,
                [this](const serial::LineFailure &failure) { lineGone(serial::logText(failure), true); });
        connect(&port_, &serial::Port::lineStillAway, this,
                [this](const serial::LineFailure &failure) { emit q_->lineReport(serial::logText(failure)); });
        connect(&port_, &serial::Port::settingsNotCarried, this, [this](const serial::SettingsNotice &notice) {
            emit q_->lineReport(serial::logText(config_.device, notice));
        });
        connect(&port_, &serial::Port::lineRestored, this, [this] {
            emit q_->lineReport(QStringLiteral("%1 is back").arg(config_.device));
            lineOpened();
        });
    }

    void start() {
        open();
        statusTimer_.start(std::max(1, config_.statusPollMs));
        // The slow readings one at a time, spread over their period.
        slowTimer_.start(std::max(1, config_.slowPollMs / int(kSlowQueries.size())));
    }

    void open() {
        if (port_.isOpen())
            return;
        serial::CommOutcome outcome = port_.setSettings(config_.settings);
        if (outcome)
            outcome = port_.open();
        if (!outcome) {
            lineGone(outcome.description(), true);
            return;
        }
        lineOpened();
    }

    // The port is open (a network port may still be connecting): read
    // everything once, status first. What waits on the line, and what comes
    // before the line has been quiet for a while, answers a command of
    // before (of a bridge that ended, say): it is dropped.
    void lineOpened() {
        retryMs_ = kFirstRetryMs;
        silentQueries_ = 0;
        startGuard();
        if (const QString stale = port_.readAll(); !stale.isEmpty())
            drop(stale, kDroppedNote);
        queuePoll(kStatusQuery);
        for (const Query query : kSlowQueries)
            queuePoll(codeText(query));
    }

    // The line is lost or would not open: everything waiting fails, and the
    // port is tried again unless the port itself waits for the line.
    void lineGone(const QString &why, bool retry) {
        // A line that keeps failing the same way is reported once.
        if (why != lastReport_)
            emit q_->lineReport(why);
        lastReport_ = why;
        exchange_.lineGone();
        exchange_.closeReplyWindow();
        for (QTimer *timer : {&settleTimer_, &quietTimer_, &boundTimer_})
            timer->stop();
        failAll(Outcome::LineLost);
        setLineUp(false);
        if (retry && !port_.isWaitingForLine()) {
            (void)port_.close();
            retryTimer_.start(retryMs_);
            retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
        }
    }

    void failAll(Outcome outcome) {
        std::deque<Job> jobs;
        if (inFlight())
            jobs.push_back(std::move(current_));
        phase_ = Phase::Free;
        for (Lane &lane : std::exchange(lanes_, {}))
            std::move(lane.jobs.begin(), lane.jobs.end(), std::back_inserter(jobs));
        for (Job &poll : std::exchange(polls_, {}))
            jobs.push_back(std::move(poll));
        for (Job &job : jobs) {
            if (job.done)
                job.done(outcome);
            for (const auto &then : job.then)
                then();
        }
    }

    void perform(const QString &code, std::function<void(Outcome)> done, Owner owner) {
        if (!done)
            done = [](Outcome) {};
        if (!port_.isOpen()) {
            done(Outcome::LineLost);
            return;
        }
        auto lane = std::find_if(lanes_.begin(), lanes_.end(), [owner](const Lane &l) { return l.owner == owner; });
        const qsizetype mine = lane == lanes_.end() ? 0 : qsizetype(lane->jobs.size());
        if (mine >= Projector::kMaxWaitingPerOwner || (mine > 0 && waitingCount() >= Projector::kMaxWaiting)) {
            done(Outcome::Busy);
            return;
        }
        // A controller's command goes ahead of the polls that wait, in its
        // owner's turn among the other controllers.
        if (lane == lanes_.end())
            lane = lanes_.insert(lanes_.end(), Lane{owner, {}});
        lane->jobs.push_back(Job{code, std::move(done), {}, owner});
        next();
    }

    void dropPending(Owner owner) {
        // Not called back: the owner is going, perhaps from inside its own
        // destructor.
        std::erase_if(lanes_, [owner](const Lane &lane) { return lane.owner == owner; });
    }

    int waitingCount() const {
        qsizetype count = 0;
        for (const Lane &lane : lanes_)
            count += qsizetype(lane.jobs.size());
        return int(count);
    }

    // A poll is queued once: one already waiting covers it. `first` puts it
    // ahead of the other polls.
    void queuePoll(const QString &query, bool first = false) {
        if (!port_.isOpen())
            return;
        auto waiting = std::find_if(polls_.begin(), polls_.end(), [&](const Job &job) { return job.code == query; });
        if (waiting != polls_.end() && !first)
            return;
        Job poll{query, {}, {}, nullptr};
        if (waiting != polls_.end()) {
            poll = std::move(*waiting);
            polls_.erase(waiting);
        }
        if (first)
            polls_.push_front(std::move(poll));
        else
            polls_.push_back(std::move(poll));
        next();
    }

    void statusTick() {
        // A status read since the last tick (after a power command, say) is fresh enough.
        if (statusReadAt_.isValid()
            && statusReadAt_.msecsTo(QDateTime::currentDateTimeUtc()) < config_.statusPollMs / 2)
            return;
        queuePoll(kStatusQuery);
    }

    void slowTick() {
        const Query query = kSlowQueries[slowNext_];
        slowNext_ = (slowNext_ + 1) % kSlowQueries.size();
        queuePoll(codeText(query));
    }

    // Sends the next job when the line is free.
    void next() {
        while (phase_ == Phase::Free && (!lanes_.empty() || !polls_.empty())) {
            // Callers go ahead of the polls, but a poll that waits goes
            // next after each of their commands: a stream of commands never
            // starves the cache.
            Job job;
            if (!polls_.empty() && (lastWasCaller_ || lanes_.empty())) {
                job = std::move(polls_.front());
                polls_.pop_front();
            } else {
                // The first owner in turn sends one command and, with more
                // waiting, goes to the back of the turn.
                Lane lane = std::move(lanes_.front());
                lanes_.pop_front();
                job = std::move(lane.jobs.front());
                lane.jobs.pop_front();
                if (!lane.jobs.empty())
                    lanes_.push_back(std::move(lane));
            }
            lastWasCaller_ = job.done || !job.then.empty();  // a poll after a command is part of its turn
            const OperationRow *operation = operationWithCode(job.code);
            if (job.done && operation && !possibleNow(*operation, state_.power)) {
                job.done(Outcome::Unavailable);
                continue;
            }
            send(std::move(job));
        }
    }

    void send(Job job) {
        current_ = std::move(job);
        phase_ = Phase::Waiting;
        heard_ = false;
        if (const QString why = exchange_.send(current_.code, std::max(1, config_.replyWindowMs)); !why.isEmpty()) {
            lineGone(why, true);
            return;
        }
        if (log_)
            log_->add(config_.name, port_.device(), ExchangeLog::Direction::Transmit, exchange_.lastCommand());
    }

    bool inFlight() const { return phase_ == Phase::Waiting || phase_ == Phase::Settling; }

    // A reply is credited only to the command that asked for it: what comes
    // while no command waits for its reply (before its bytes have left, in
    // the guard, with no command on the line) is dropped, and so is a reply
    // window that brings more than one reply.
    void onReceive() {
        const QString text = port_.readAll();
        if (text.isEmpty())
            return;
        if (!inFlight() || exchange_.bytesPending()) {
            drop(text, kDroppedNote);
            return;
        }
        heard_ = true;
        const Reading reading = exchange_.receive(text);
        const Shape shape = shapeOf(exchange_.received());
        if (log_)
            log_->add(config_.name, port_.device(), ExchangeLog::Direction::Receive, text,
                      shape == Shape::More ? kNotTakenNote : reading.text);
        if (shape == Shape::More) {
            countDropped(exchange_.received().size());
            finishCommand(false);
        } else if (shape == Shape::One) {
            // Complete: taken once nothing more has come for a moment.
            reading_ = reading;
            exchange_.closeReplyWindow();
            phase_ = Phase::Settling;
            settleTimer_.start();
        }
    }

    // The line stayed silent after one whole reply: it is credited when it
    // is a reply to the command on the line. A query's is its reading, whole
    // and ended by its carriage return; a command's is the acknowledge byte.
    // Anything else (an acknowledge for a query, a reply no reading of the
    // query, text for a command) may be a late reply to another command:
    // nothing is credited, and the guard waits for whatever is still to come.
    void settled() {
        if (phase_ != Phase::Settling)
            return;
        const QString &received = exchange_.received();
        const bool query = isQuery(current_.code);
        const bool fits = query
                            ? reading_.outcome != Reading::Outcome::NoMatch && reading_.whole && received.back() == kCR
                            : received == QStringView(&kAck, 1);
        if (!fits)
            countDropped(received.size());
        else if (query) {
            ProjectorState now = state_;
            now.lineUp = true;
            applyReading(reading_, now);
            if (std::holds_alternative<OperatingStatus>(reading_.value))
                statusReadAt_ = QDateTime::currentDateTimeUtc();
            update(now);
        }
        finishCommand(fits);
    }

    // The command on the line is done with: its reply credited, or not (the
    // window ended, or brought something else), and then the guard runs
    // before the next command goes.
    void finishCommand(bool credited) {
        if (!inFlight())
            return;
        exchange_.closeReplyWindow();
        settleTimer_.stop();
        Job job = std::move(current_);
        if (credited) {
            phase_ = Phase::Free;
            guardBoundTold_ = false;
        } else {
            startGuard();
        }
        const bool answered = std::exchange(heard_, false);
        const bool query = isQuery(job.code);
        if (answered) {
            silentQueries_ = 0;
            lastReport_.clear();
            setLineUp(true);
        } else if (query && ++silentQueries_ >= kSilentQueriesForLoss && state_.lineUp) {
            emit q_->lineReport(QStringLiteral("the projector does not answer on %1").arg(port_.device()));
            setLineUp(false);
        }
        if (job.done) {
            // Unanswered: a query always counts as lost, a command only once
            // the projector has stopped answering (many answer commands with
            // nothing at all).
            const bool lost = !answered && (query || !state_.lineUp);
            if (lost || !afterCommand(job))
                job.done(lost ? Outcome::LineLost : Outcome::Done);
        }
        for (const auto &then : job.then)
            then();
        next();
    }

    void startGuard() {
        phase_ = Phase::Guard;
        quietTimer_.start();
        boundTimer_.start();
    }

    // The line has been quiet for the guard time, or has talked for the
    // bound: the next command may go.
    void endGuard(bool bound) {
        if (phase_ != Phase::Guard)
            return;
        quietTimer_.stop();
        boundTimer_.stop();
        phase_ = Phase::Free;
        if (bound && !std::exchange(guardBoundTold_, true))
            emit q_->lineReport(QStringLiteral("%1 has not been quiet for %2 ms since a command went without a "
                                               "reply; sending the next one all the same")
                                    .arg(port_.device())
                                    .arg(boundTimer_.interval()));
        next();
    }

    // Bytes that answer no command on the line: in the exchange log with
    // a note, counted for the bridge's log; in the guard, the quiet starts
    // again.
    void drop(const QString &text, const QString &note) {
        if (phase_ == Phase::Guard)
            quietTimer_.start();
        if (log_)
            log_->add(config_.name, port_.device(), ExchangeLog::Direction::Receive, text, note);
        countDropped(text.size());
    }

    void countDropped(qsizetype bytes) {
        dropped_ += bytes;
        if (!dropTimer_.isActive())
            reportDropped();
    }

    // Told at once, then what was dropped since, once a minute at most.
    void reportDropped() {
        if (dropped_ == 0)
            return;
        emit q_->lineReport(QStringLiteral("dropped %1 bytes from %2 that answered no command on the line "
                                           "(late or stale replies, or more than one reply at once)")
                                .arg(dropped_)
                                .arg(port_.device()));
        dropped_ = 0;
        dropTimer_.start();
    }

    // What a controller's command changes: the freeze as commanded, and a
    // poll of the reading it changes, sent next. True when the command's
    // caller hears of it after that poll, so that what the caller reads
    // then is the new reading.
    bool afterCommand(Job &job) {
        const OperationRow *operation = operationWithCode(job.code);
        if (!operation)
            return false;
        if (operation->freeze && state_.freeze != operation->freeze) {
            ProjectorState now = state_;
            now.freeze = operation->freeze;
            update(now);
        }
        if (!operation->followedBy)
            return false;
        const QString query = codeText(*operation->followedBy);
        auto waiting =
            std::find_if(polls_.begin(), polls_.end(), [&](const Job &other) { return other.code == query; });
        Job poll{query, {}, {}, nullptr};
        if (waiting != polls_.end()) {
            poll = std::move(*waiting);
            polls_.erase(waiting);
        }
        poll.then.push_back([done = std::move(job.done)] { done(Outcome::Done); });
        polls_.push_front(std::move(poll));
        return true;
    }

    void setLineUp(bool up) {
        if (state_.lineUp == up)
            return;
        ProjectorState now = state_;
        now.lineUp = up;
        update(now);
    }

    void update(const ProjectorState &now) {
        if (now == state_)
            return;
        const ProjectorState previous = state_;
        state_ = now;
        emit q_->stateChanged(previous, state_);
        // Power on: the input and the mutes are read next, not at their
        // turn among the slow readings.
        if (state_.power == Power::On && previous.power != Power::On) {
            queuePoll(codeText(Query::Mute), true);
            queuePoll(codeText(Query::Input), true);
        }
    }

    Projector *q_;
    ProjectorConfig config_;
    ProjectorState state_;
    QDateTime statusReadAt_;
    ExchangeLog *log_ = nullptr;
    serial::Port port_;
    Exchange exchange_;
    QTimer statusTimer_, slowTimer_, retryTimer_;
    QTimer settleTimer_;      // a complete reply is taken when it ends
    QTimer quietTimer_;       // the guard ends when the line has been quiet this long
    QTimer boundTimer_;       // ... or at this, however the line talks
    QTimer dropTimer_;        // dropped bytes are told again when it ends
    std::deque<Lane> lanes_;  // owners with commands waiting, in turn
    std::deque<Job> polls_;   // the poller's queries and the polls that follow commands
    Job current_;             // the command on the line, while waiting or settling
    // Free: the line takes the next command. Waiting: for current_'s reply,
    // in its window. Settling: a complete reply came, more must not. Guard:
    // no reply was credited; the line must be quiet before the next command.
    enum class Phase { Free, Waiting, Settling, Guard };
    Phase phase_ = Phase::Free;
    bool heard_ = false;           // anything came in current_'s window
    Reading reading_;              // the reading of the complete reply, while settling
    qsizetype dropped_ = 0;        // bytes dropped since the bridge's log was last told
    bool guardBoundTold_ = false;  // the bound of the guard told since a reply was last credited
    bool lastWasCaller_ = false;   // the last command sent was a caller's
    size_t slowNext_ = 0;
    int retryMs_ = kFirstRetryMs;
    int silentQueries_ = 0;
    QString lastReport_;  // the line's failure last reported
};

Projector::Projector(ProjectorConfig config, QObject *parent)
    : QObject(parent), d(new Private(this, std::move(config))) {}

Projector::~Projector() { delete d; }

const ProjectorConfig &Projector::config() const { return d->config_; }
const ProjectorState &Projector::state() const { return d->state_; }
QDateTime Projector::statusReadAt() const { return d->statusReadAt_; }
void Projector::start() { d->start(); }
void Projector::perform(const QString &code, std::function<void(Outcome)> done, Owner owner) {
    d->perform(code, std::move(done), owner);
}
void Projector::dropPending(Owner owner) { d->dropPending(owner); }
int Projector::waitingCount() const { return d->waitingCount(); }
void Projector::setExchangeLog(ExchangeLog *log) { d->log_ = log; }

}  // namespace mv70::bridge
