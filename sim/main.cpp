// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-sim: a simulated MV70 projector on a pseudo-terminal. It prints the
// device the panel should open and answers the panel's commands as the
// model in projector.h does; the options (options.h) change how and when
// the line (line.h) answers. docs/simulator.md describes it all.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "pty/raw_pty.h"
#include "sim/line.h"
#include "sim/options.h"

using namespace mv70::sim;

namespace {

// A symlink at `link` to `device`. An old symlink there is replaced; any
// other file is left alone.
bool makeLink(const QString &link, const QString &device) {
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        QFile::remove(link);
    } else if (existing.exists()) {
        complain(QStringLiteral("%1 exists and is not a symlink; left alone").arg(link));
        return false;
    }
    if (::symlink(device.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0) {
        complain(QStringLiteral("cannot make the symlink %1: %2").arg(link, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    // Stopped by a signal, it still removes its symlink: the signals are
    // taken as events of the loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int stopSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, stopSignal);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    // It ends with the program that started it (a test, run.sh).
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mv70-sim"));
    const std::optional<Options> options = parseOptions(app);
    if (!options)
        return 2;

    mv70::pty::RawPty pty;
    if (!pty.open()) {
        complain(QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    // The panel sets its end raw when it opens it; until then, and after it
    // closes it again, the line stays raw too (no echo, no CR to LF). The
    // panel's end is held open so the line stays up across its openings.
    if (!mv70::pty::makeRaw(pty.slave(), options->baud) || !mv70::pty::makeRaw(pty.master(), options->baud)) {
        complain(QStringLiteral("cannot set the line raw: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    const QString device = QString::fromStdString(pty.path());
    if (!options->link.isEmpty() && !makeLink(options->link, device))
        return 1;

    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    QSocketNotifier stop(signalFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    Line line(pty.master(), pty.slave(), *options);
    std::printf("%s\n", pty.path().c_str());
    std::fflush(stdout);

    const int result = QCoreApplication::exec();
    if (!options->link.isEmpty())
        QFile::remove(options->link);
    return result;
}
