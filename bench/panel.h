// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window on a stamping peer, started as the program starts it and
// driven by mouse and key events through Qt's platform path; and the event
// loop run for a while.

#include <QByteArray>
#include <QPoint>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "form_fixture.h"
#include "stamping_peer.h"
#include "window/form1.h"

namespace bench {

// Runs the event loop for `ms` milliseconds and nothing else.
void runFor(int ms);
// Runs the event loop until `done` holds, checking every millisecond.
bool runUntil(const std::function<bool()> &done, int timeoutMs);

// The peer comes first, so that it is open before the window starts and
// still open when it has gone.
struct StampedLine {
    StampingPeer com1;
};

// The window on a stamping peer, started as the program starts it (as the
// tests start theirs), shown, and with its first frames painted.
struct Panel : StampedLine, FormOnPorts {
    Panel();

    QWidget *control(const char *name) const { return form->control(name); }
    QWindow *window() const { return form->windowHandle(); }
    QPoint centreOf(const char *name) const;
    // Mouse events enter through the platform path, as the window system's do.
    void press(const char *name);
    void release(const char *name);
    void click(const char *name);
    // Ctrl+J: the data band with the monitor lines comes into view.
    void openDataBand();

    // The commands that arrived from index `from` on, with the stamp of each
    // one's first byte.
    struct Command {
        QByteArray bytes;
        std::int64_t firstNs;
        std::int64_t lastNs;
    };
    std::vector<Command> commandsFrom(std::size_t from) const;
};

}  // namespace bench
