// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/outside_end.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <utility>

#include <signal.h>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define MV70_HAVE_XCB 1
#endif

#include "process/signals.h"
#include "window/form1.h"

namespace mv70 {
namespace {

// SIGTERM, SIGINT and SIGHUP, read on the window's event loop. A child of
// the window: the handlers found before are put back with it. The first
// signal ends the program.
class EndSignals : public QObject {
public:
    explicit EndSignals(Form1 &form) : QObject(&form) {
        for (const int signo : {SIGTERM, SIGINT, SIGHUP})
            watch_.on(signo, [this, &form](int) {
                if (std::exchange(ended_, true))
                    return;
                form.Command16_Click();
            });
    }

private:
    process::SignalWatch watch_;
    bool ended_ = false;
};

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
    new EndSignals(form);
#ifdef MV70_HAVE_XCB
    new WindowDestroyedFilter(form);
#endif
}

}  // namespace mv70
