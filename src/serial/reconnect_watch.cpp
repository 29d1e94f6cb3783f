#include "serial/reconnect_watch.h"

namespace mv70::serial {

ReconnectWatch::ReconnectWatch(Probe probe, QObject *parent) : QObject(parent), probe_(std::move(probe)) {
    timer_.setInterval(kIntervalMs);
    // Never early: at most one probe a second.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReconnectWatch::tick);
}

void ReconnectWatch::start() {
    if (timer_.isActive())
        return;
    attempts_ = 0;
    timer_.start();
}

void ReconnectWatch::stop() { timer_.stop(); }

void ReconnectWatch::tick() {
    if (!timer_.isActive() || !probe_)
        return;
    ++attempts_;
    if (!probe_())
        return;
    timer_.stop();
    emit restored();
}

}  // namespace mv70::serial
