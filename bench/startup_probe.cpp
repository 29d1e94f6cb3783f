// SPDX-License-Identifier: GPL-3.0-or-later
// Built together with the program's own main.cpp into mv70-startup-probe.
// A start-up routine that QCoreApplication runs when the application object
// is constructed prints that moment, then watches the windows' frames; after
// the first frame in which the main window itself was painted it prints that
// moment and the peak resident size, and ends the program the ordinary way.

#include <QApplication>
#include <QWidget>

#include <cstdio>

#include "frame_probe.h"
#include "stamping_peer.h"
#include "stats.h"

namespace {

void watchFirstFrame() {
    std::printf("app %lld\n", static_cast<long long>(bench::nowNs()));
    auto *probe = new bench::FrameProbe(nullptr);  // every window
    probe->setParent(QCoreApplication::instance());
    probe->onFrame = [probe](const bench::FrameProbe::Frame &frame) {
        for (const auto &painted : frame.painted) {
            if (painted.widget->objectName() != QLatin1String("Form1"))
                continue;
            std::printf("frame %lld\npeak-kb %ld\n", static_cast<long long>(frame.doneNs), bench::statusKb("VmHWM"));
            std::fflush(stdout);
            probe->onFrame = nullptr;
            QCoreApplication::exit(0);
            return;
        }
    };
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchFirstFrame)
