// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The projector's end of the line: reads the panel's commands from the
// pseudo-terminal, has the model answer them, and writes the replies back
// after the delay, in pieces, with noise between them, as the options say.

#include <QByteArray>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <deque>

#include "sim/options.h"
#include "sim/projector.h"

namespace mv70::sim {

class Line {
public:
    // `master` is the projector's end, non-blocking; `slave` the panel's,
    // held open so that its speed can be read.
    Line(int master, int slave, const Options &options);

private:
    void log(const QByteArray &line) const;
    bool panelAtOurSpeed() const;
    void receive();
    void queueReply(const QByteArray &reply);
    void transmitDue();
    void makeNoise();
    void transmit(const QByteArray &bytes);

    struct Piece {
        qint64 due;
        QByteArray bytes;
    };

    int master_;
    int slave_;
    const Options &options_;
    QElapsedTimer clock_;
    Projector projector_;
    CommandReader reader_;
    QSocketNotifier notifier_;
    QTimer output_;
    QTimer noise_;
    std::deque<Piece> queue_;
    QRandomGenerator random_;
};

}  // namespace mv70::sim
