// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/outside_end.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define MV70_HAVE_XCB 1
#endif

#include "window/form1.h"

namespace mv70 {
namespace {

// The signal handler only writes the signal's number into this pipe; the
// window's thread reads it from its event loop.
int signalPipe[2] = {-1, -1};

extern "C" void onEndSignal(int signo) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void endOnSignals(Form1 &form) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("mv70-control: no pipe for the end signals: %s", strerror(errno));
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form, notifier] {
        unsigned char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        notifier->setEnabled(false);  // the first signal ends the program
        form.Command16_Click();
    });
    for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction previous {};
        if (::sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signo, &action, nullptr);
    }
}

#ifdef MV70_HAVE_XCB
// Watches the X events for the destruction of the window's own X window.
// A child of the window: it is removed from the application with it.
class WindowDestroyedFilter : public QObject, public QAbstractNativeEventFilter {
public:
    explicit WindowDestroyedFilter(Form1 &form) : QObject(&form), form_(form) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override {
        if (fired_ || eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY)
            return false;
        const auto *destroyed = static_cast<const xcb_destroy_notify_event_t *>(message);
        if (destroyed->window != form_.internalWinId())
            return false;
        fired_ = true;
        // Not from inside the platform's event handling: END closes the
        // window, which would talk to the X server about it.
        QMetaObject::invokeMethod(&form_, &Form1::Command16_Click, Qt::QueuedConnection);
        return false;
    }

private:
    Form1 &form_;
    bool fired_ = false;
};
#endif

}  // namespace

void endFromOutside(Form1 &form) {
    endOnSignals(form);
#ifdef MV70_HAVE_XCB
    new WindowDestroyedFilter(form);
#endif
}

}  // namespace mv70
