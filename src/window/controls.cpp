#include "window/controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace mv70::window {

MonitorLine::MonitorLine(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setTimerType(Qt::PreciseTimer);
    connect(&repaintTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void MonitorLine::setText(const QString &text) {
    if (text == text_)
        return;
    text_ = text;
    repaintSoon();
}

void MonitorLine::repaintSoon() {
    if (repaintTimer_.isActive())
        return;  // the held-back repaint will show this text too
    const qint64 since = sinceLastPaint_.isValid() ? sinceLastPaint_.elapsed() : kMinRepaintIntervalMs;
    if (since >= kMinRepaintIntervalMs)
        update();
    else
        repaintTimer_.start(static_cast<int>(kMinRepaintIntervalMs - since));
}

void MonitorLine::setTextColour(const QColor &colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
}

void MonitorLine::paintEvent(QPaintEvent *event) {
    sinceLastPaint_.start();
    QFrame::paintEvent(event);
    if (text_.isEmpty())
        return;
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(1, 0, -1, 0);
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::WindowText));
    // No glyph is narrower than a pixel, so this many characters always
    // fill the line; the rest lies beyond its right edge.
    const QString visible = text_.left(area.width() + 1);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, visible);
}

void CaptionButton::paintEvent(QPaintEvent *event) {
    const QRect textArea = rect().adjusted(3, 2, -3, -2);
    if (fontMetrics().horizontalAdvance(text()) <= textArea.width()) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text());
}

void HoldPushButton::mousePressEvent(QMouseEvent *event) {
    held_ |= event->button();
    setDown(true);
    event->accept();
    emit mouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void HoldPushButton::mouseReleaseEvent(QMouseEvent *event) {
    held_ &= ~event->button();
    if (!held_)
        setDown(false);
    event->accept();
    emit mouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

void HoldPushButton::mouseDoubleClickEvent(QMouseEvent *event) {
    // The second press of a double-click is a press like any other.
    mousePressEvent(event);
}

void HoldPushButton::mouseMoveEvent(QMouseEvent *event) {
    // The repeat follows the mouse button, not the pointer: stay down even
    // when the pointer leaves the button.
    event->accept();
}

void LogoImage::mouseDoubleClickEvent(QMouseEvent *event) {
    event->accept();
    emit doubleClicked();
}

}  // namespace mv70::window
