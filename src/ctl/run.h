// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An mv70-ctl run: every port's part at once on one event loop, then one
// line (or JSON object) per port in the order the ports were given.

#include <QTextStream>

#include "ctl/actions.h"
#include "ctl/port_exchange.h"

namespace mv70::ctl {

// Runs the action on every port and prints the answers to `out`, failures
// to `err`. Returns the worst exit status of the ports.
int run(const Options &options, QTextStream &out, QTextStream &err);

// The whole program after the program's name: usage errors and --help too.
int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err);

// One port's result as a JSON object on one line.
QByteArray toJson(const PortResult &result);

}  // namespace mv70::ctl
