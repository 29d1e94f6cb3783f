// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/reconnect_watch.h"

#include <algorithm>

namespace mv70::serial {

ReconnectWatch::ReconnectWatch(Probe probe, QObject *parent) : QObject(parent), probe_(std::move(probe)) {
    // Never early: at most one probe an interval.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReconnectWatch::tick);
    confirm_.setSingleShot(true);
    confirm_.setInterval(kConfirmMs);
    connect(&confirm_, &QTimer::timeout, this, &ReconnectWatch::announce);
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &ReconnectWatch::settle);
}

bool ReconnectWatch::start() {
    const bool wasAnnounced = !confirm_.isActive();
    confirm_.stop();
    if (timer_.isActive())
        return wasAnnounced;
    // Back again and lost before it settled: wait longer this time.
    const bool unsettled = settle_.isActive() || !wasAnnounced;
    settle_.stop();
    interval_ = unsettled ? std::min(2 * interval_, kLongestIntervalMs) : kIntervalMs;
    attempts_ = 0;
    timer_.start(interval_);
    return wasAnnounced;
}

void ReconnectWatch::stop() {
    timer_.stop();
    confirm_.stop();
}

void ReconnectWatch::tick() {
    if (!timer_.isActive() || !probe_)
        return;
    ++attempts_;
    if (probe_())
        lineUp(true);
}

void ReconnectWatch::lineUp(bool confirmed) {
    timer_.stop();
    if (confirmed)
        announce();
    else
        confirm_.start();
}

void ReconnectWatch::confirm() {
    if (!confirm_.isActive())
        return;
    confirm_.stop();
    announce();
}

void ReconnectWatch::announce() {
    settle_.start();
    emit restored();
}

void ReconnectWatch::settle() {
    settle_.stop();
    interval_ = kIntervalMs;
}

}  // namespace mv70::serial
