#pragma once
// Waiting for a lost line to come back. Once a second, while waiting, the
// probe is asked whether the line is up again; the probe does the work (for a
// serial device: is the device there again, and does it open?), the watch
// only paces it. Costs one timer tick a second and nothing in between.

#include <QObject>
#include <QTimer>

#include <functional>

namespace mv70::serial {

class ReconnectWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 1000;
    // True when the line is up again; the wait then ends.
    using Probe = std::function<bool()>;

    explicit ReconnectWatch(Probe probe, QObject *parent = nullptr);

    void setProbe(Probe probe) { probe_ = std::move(probe); }
    // Starts waiting (or goes on waiting); the first probe comes after one
    // interval.
    void start();
    void stop();
    bool isWaiting() const { return timer_.isActive(); }
    // Probes once now; what the timer does every interval.
    void tick();
    // Probes made since the wait began.
    int attempts() const { return attempts_; }

signals:
    // The probe found the line up; the wait has ended.
    void restored();

private:
    QTimer timer_;
    Probe probe_;
    int attempts_ = 0;
};

}  // namespace mv70::serial
