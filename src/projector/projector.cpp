// SPDX-License-Identifier: GPL-3.0-or-later
#include "projector/projector.h"

#include "logic/exchange.h"
#include "logic/exchange_log.h"
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
        for (QTimer *timer : {&statusTimer_, &slowTimer_, &retryTimer_})
            timer->setTimerType(Qt::PreciseTimer);
        retryTimer_.setSingleShot(true);
        // The shared exchange writes to the line and reads the replies; its
        // reply window runs from when the bytes have left.
        serial::bindExchange(port_, exchange_);
        connect(&exchange_, &Exchange::replyWindowEnded, this, &Private::endWindow);
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
    // everything once, status first.
    void lineOpened() {
        retryMs_ = kFirstRetryMs;
        silentQueries_ = 0;
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
        if (inFlight_) {
            jobs.push_back(std::move(current_));
            inFlight_ = false;
        }
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

    // A poll is queued once: one already waiting covers it.
    void queuePoll(const QString &query) {
        if (!port_.isOpen())
            return;
        if (std::any_of(polls_.begin(), polls_.end(), [&](const Job &job) { return job.code == query; }))
            return;
        polls_.push_back(Job{query, {}, {}, nullptr});
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
        while (!inFlight_ && (!lanes_.empty() || !polls_.empty())) {
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
        inFlight_ = true;
        if (const QString why = exchange_.send(current_.code, std::max(1, config_.replyWindowMs)); !why.isEmpty()) {
            lineGone(why, true);
            return;
        }
        if (log_)
            log_->add(config_.name, port_.device(), ExchangeLog::Direction::Transmit, exchange_.lastCommand());
    }

    void onReceive() {
        const QString text = port_.readAll();
        if (text.isEmpty())
            return;
        // The panel's own reading of what has come since the command; the
        // state takes it once it is whole, never a part of a number.
        const Reading reading = exchange_.receive(text);
        if (log_)
            log_->add(config_.name, port_.device(), ExchangeLog::Direction::Receive, text, reading.text);
        if (reading.outcome != Reading::Outcome::NoMatch && reading.whole) {
            ProjectorState now = state_;
            now.lineUp = true;
            applyReading(reading, now);
            if (std::holds_alternative<OperatingStatus>(reading.value))
                statusReadAt_ = QDateTime::currentDateTimeUtc();
            update(now);
        }
        if (inFlight_ && exchange_.replyComplete())
            exchange_.endReplyWindow();
    }

    // The reply window of the command in flight has ended.
    void endWindow(bool answered) {
        if (!inFlight_)
            return;
        inFlight_ = false;
        Job job = std::move(current_);
        const bool query = isQuery(job.code);
        if (answered) {
            silentQueries_ = 0;
            lastReport_.clear();
            if (!state_.lineUp) {
                ProjectorState now = state_;
                now.lineUp = true;
                update(now);
            }
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
    }

    Projector *q_;
    ProjectorConfig config_;
    ProjectorState state_;
    QDateTime statusReadAt_;
    ExchangeLog *log_ = nullptr;
    serial::Port port_;
    Exchange exchange_;
    QTimer statusTimer_, slowTimer_, retryTimer_;
    std::deque<Lane> lanes_;  // owners with commands waiting, in turn
    std::deque<Job> polls_;   // the poller's queries and the polls that follow commands
    Job current_;
    bool inFlight_ = false;
    bool lastWasCaller_ = false;  // the last command sent was a caller's
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
