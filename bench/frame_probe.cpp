// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame_probe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include "stamping_peer.h"
#include "window/controls.h"

namespace bench {

FrameProbe::FrameProbe(QWidget *window) : window_(window), watchAll_(window == nullptr) {
    QCoreApplication::instance()->installEventFilter(this);
}

FrameProbe::~FrameProbe() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool FrameProbe::isFrameEvent(QObject *watched, const QEvent *event) const {
    const QEvent::Type type = event->type();
    if (type != QEvent::Expose && type != QEvent::UpdateRequest)
        return false;
    if (!watchAll_)
        return window_ && (watched == window_.data() || watched == window_->windowHandle());
    return watched->isWindowType() || (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow());
}

bool FrameProbe::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Paint && inFrame_ && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (watchAll_ || (window_ && (widget == window_.data() || window_->isAncestorOf(widget)))) {
            const auto *line = qobject_cast<const mv70::window::MonitorLine *>(widget);
            current_.painted.append({widget, line ? line->text() : QString()});
        }
        return false;
    }
    if (inFrame_ || !isFrameEvent(watched, event))
        return false;

    // Run the event's own handler now: the paint and the flush happen in it.
    inFrame_ = true;
    current_.painted.clear();
    watched->event(event);
    current_.doneNs = nowNs();
    inFrame_ = false;
    if (!current_.painted.isEmpty()) {
        ++frames_;
        if (onFrame)
            onFrame(current_);
    }
    return true;  // handled
}

}  // namespace bench
