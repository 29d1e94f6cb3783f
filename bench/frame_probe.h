// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Tells when a frame of a window has been painted and handed to the
// platform. Qt paints a window's widgets into its backing store and flushes
// that to the platform inside the handling of one event: the expose of the
// native window, or the update request that the repaint manager posts to the
// top-level widget. The probe runs that event's own handler itself, stamps
// the moment it returns, and reports which widgets were painted in it and
// with what text.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace bench {

class FrameProbe : public QObject {
public:
    struct Painted {
        QWidget *widget;
        QString text;  // the monitor line's text at the paint, or empty
    };
    struct Frame {
        std::int64_t doneNs = 0;  // CLOCK_MONOTONIC when the flush had returned
        QList<Painted> painted;
    };

    // Watches `window` (a top-level widget), or every window when it is
    // null, through an application-wide event filter.
    explicit FrameProbe(QWidget *window);
    ~FrameProbe() override;

    // Called after every frame of the window.
    std::function<void(const Frame &)> onFrame;
    std::uint64_t frames() const { return frames_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isFrameEvent(QObject *watched, const QEvent *event) const;

    QPointer<QWidget> window_;
    bool watchAll_;
    bool inFrame_ = false;
    Frame current_;
    std::uint64_t frames_ = 0;
};

}  // namespace bench
