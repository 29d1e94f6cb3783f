// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Signals from outside, handled on the event loop. The handler only writes
// the signal's number into a pipe (saving errno around it); the pipe's
// reading end is watched on the event loop of the thread that made the
// watch, which calls the callback of each signal that came. A signal that
// was ignored when the program started (nohup, a background job) stays
// ignored. When the watch is destroyed, the handlers found before are put
// back. One watch at a time in a program.

#include <QString>

#include <functional>
#include <memory>

namespace mv70::process {

class SignalWatch {
public:
    using Callback = std::function<void(int signo)>;

    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch &) = delete;
    SignalWatch &operator=(const SignalWatch &) = delete;

    // False when no pipe could be made (or another watch is alive): no
    // signal is watched then, and `on` does nothing.
    bool isValid() const;

    // Calls `callback` on the event loop for each `signo` that comes; once
    // for several that come before the loop reads them. False when the
    // signal was ignored at start (it stays so) or cannot be caught. The
    // callback may not destroy the watch.
    bool on(int signo, Callback callback);

    // The name of a signal: "SIGTERM", or "signal 40".
    static QString name(int signo);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace mv70::process
