// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A held button's repeat, measured from the commands the peer stamped:
// shared by the repeat scenario and the cost of holding a button.

#include <QByteArray>
#include <QMetaObject>
#include <QTextStream>
#include <QTimer>

#include <cstddef>
#include <vector>

#include "panel.h"

namespace bench {

struct RepeatFigures {
    std::size_t commands = 0;
    std::size_t ticks = 0;  // delivered by the repeat timer while held
    std::size_t due = 0;    // whole periods in the time held
    double meanPeriod = 0;
    double meanErrorPercent = 0;
    double jitterP99 = 0;  // |interval - nominal|
    double jitterMax = 0;
    double drift10s = 0;  // (t_k - t_0) - k * period for the last command k within 10 s
    double driftEnd = 0;
    std::size_t missed = 0;  // the press or a tick that sent nothing
    std::size_t extra = 0;   // commands beyond one per press and tick
    std::size_t corrupt = 0;
};

RepeatFigures analyseRepeat(const std::vector<Panel::Command> &commands, const QByteArray &expected, double periodMs,
                            double heldMs, std::size_t ticks);

// Counts the ticks a timer delivers while it lives.
struct TickCounter {
    std::size_t ticks = 0;
    QMetaObject::Connection connection;
    explicit TickCounter(QTimer &timer) {
        connection = QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
    }
    ~TickCounter() { QObject::disconnect(connection); }
};

struct Hold {
    const char *label;
    const char *button;
    QByteArray command;
    int periodMs;
    const char *prepare;  // pressed and released first, or nullptr
};

void repeatTableHeader(QTextStream &s);
void repeatRow(QTextStream &s, const Hold &hold, const RepeatFigures &r);

// The hold buttons measured, the 5 ms arrow first.
extern const Hold kHolds[4];

}  // namespace bench
