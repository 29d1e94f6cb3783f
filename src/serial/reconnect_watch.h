// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting for a lost line to come back. While waiting, the probe is asked at
// each interval whether the line is up again; the probe does the work (for a
// serial device: is the device there again, and does it open? for a network
// port: a quiet connection attempt), the watch only paces it. Costs one timer
// tick an interval and nothing in between.
//
// The interval is a second, and doubles, up to 30 s, each time the line is
// lost again before it has stayed up for kSettleMs: a line that comes back
// and fails at once is not tried once a second for ever. A line that has
// stayed up starts again at a second.
//
// A line that comes back in the background (a connection) may be announced
// only after kConfirmMs up: lost before that, it was never back, and the wait
// goes on without a new word to the operator.

#include <QObject>
#include <QTimer>

#include <functional>

namespace mv70::serial {

class ReconnectWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 1000;  // the first interval
    static constexpr int kLongestIntervalMs = 30000;
    static constexpr int kSettleMs = 30000;
    static constexpr int kConfirmMs = 1000;
    // True when the line is up again; the wait then ends and the line is
    // announced at once.
    using Probe = std::function<bool()>;

    explicit ReconnectWatch(Probe probe, QObject *parent = nullptr);

    void setProbe(Probe probe) { probe_ = std::move(probe); }
    // The line is lost: starts waiting (or goes on waiting); the first probe
    // comes after one interval. False when the line was never announced
    // back (lost while being confirmed): nothing new to tell.
    bool start();
    // Ends the wait and any confirmation; the operator's word.
    void stop();
    bool isWaiting() const { return timer_.isActive(); }
    // Probes once now; what the timer does every interval.
    void tick();
    // Probes made since the wait began.
    int attempts() const { return attempts_; }
    // The wait between probes now.
    int intervalMs() const { return interval_; }

    // The line came back by other means than a probe returning true (a
    // connection made). `confirmed`: announce it now; else after kConfirmMs.
    void lineUp(bool confirmed);
    bool isConfirming() const { return confirm_.isActive(); }
    // What the confirmation timer does: a line being confirmed is announced back.
    void confirm();
    // What the settle timer does: the line has stayed up.
    void settle();

signals:
    // The line is up again and announced; the wait has ended.
    void restored();

private:
    void announce();

    QTimer timer_;
    QTimer confirm_;
    QTimer settle_;
    Probe probe_;
    int attempts_ = 0;
    int interval_ = kIntervalMs;
};

}  // namespace mv70::serial
