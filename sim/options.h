// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// mv70-sim's options: how the model starts and how and when the line
// answers. docs/simulator.md describes each.

#include <QCoreApplication>
#include <QString>

#include <optional>

#include "sim/projector.h"

namespace mv70::sim {

struct Options {
    ProjectorSettings model;
    int baud = 19200;
    int delayMs = 0;
    int split = 0;  // bytes per piece; 0: a reply goes out whole
    int gapMs = 50;
    bool silent = false;
    bool noise = false;
    int noisePeriodMs = 250;
    std::optional<quint32> seed;
    QString link;
    bool verbose = false;
};

// The options on the command line, or nothing when one is wrong (said on
// standard error).
std::optional<Options> parseOptions(const QCoreApplication &app);

// A message on standard error, in the program's name.
void complain(const QString &message);

}  // namespace mv70::sim
