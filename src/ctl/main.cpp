// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-ctl: the projector from a script. See `mv70-ctl --help` and
// docs/automation.md.

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "ctl/run.h"

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mv70-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MV70_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return mv70::ctl::runCommandLine(QCoreApplication::arguments().sliced(1), out, err);
}
