#include "window/controls.h"

#include <QKeyEvent>
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
    connect(&repaintTimer_, &QTimer::timeout, this, &MonitorLine::repaintNow);
}

void MonitorLine::setText(const QString &text) {
    // Only the part that fits is painted: a change beyond it, such as a
    // long receive trace growing at its end, needs no repaint.
    const bool seenChange = visiblePart(text) != visiblePart(text_);
    text_ = text;
    if (seenChange)
        repaintSoon();
}

QRect MonitorLine::textArea() const { return contentsRect().adjusted(1, 0, -1, 0); }

QStringView MonitorLine::visiblePart(const QString &text) const {
    // No glyph is narrower than a pixel, so this many characters always
    // fill the line; the rest lies beyond its right edge.
    return QStringView(text).left(textArea().width() + 1);
}

void MonitorLine::repaintSoon() {
    if (!sinceChange_.isValid() || sinceChange_.elapsed() >= kSteadyRepaintIntervalMs)
        changingFor_.start();  // after a quiet spell
    sinceChange_.start();
    if (repaintTimer_.isActive())
        return;  // the held-back repaint will show this text too
    const int interval = changingFor_.elapsed() >= kSteadyAfterMs ? kSteadyRepaintIntervalMs : kMinRepaintIntervalMs;
    const qint64 since = sinceRepaint_.isValid() ? sinceRepaint_.elapsed() : interval;
    if (since >= interval)
        repaintNow();
    else
        repaintTimer_.start(static_cast<int>(interval - since));
}

void MonitorLine::repaintNow() {
    sinceRepaint_.start();
    update();
}

void MonitorLine::setTextColour(const QColor &colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
}

void MonitorLine::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    if (text_.isEmpty())
        return;
    QPainter painter(this);
    const QRect area = textArea();
    painter.setClipRect(area);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, visiblePart(text_).toString());
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

void CaptionButton::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QPushButton::keyPressEvent(event);
        return;
    }
    // A key held down clicks once, as Space does: one command per press.
    if (!event->isAutoRepeat())
        click();
    event->accept();
}

void HoldPushButton::keyPressEvent(QKeyEvent *event) {
    // No click from the keyboard: the repeat follows the mouse only.
    QPushButton::keyPressEvent(event);
}

bool HoldPushButton::event(QEvent *event) {
    switch (event->type()) {
    case QEvent::WindowDeactivate:  // another window took the input
    case QEvent::Hide:              // the window minimised or hidden
    case QEvent::UngrabMouse:       // the mouse taken away
        if (isHeld())
            emit mouseLost();
        break;
    default:
        break;
    }
    return CaptionButton::event(event);
}

void HoldPushButton::endHold() {
    if (held_ == Qt::NoButton)
        return;
    held_ = Qt::NoButton;
    setDown(false);
    emit mouseUp(Qt::NoButton, Qt::NoModifier, QPoint());
}

void HoldPushButton::mousePressEvent(QMouseEvent *event) {
    held_ |= event->button();
    setDown(true);
    event->accept();
    emit mouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void HoldPushButton::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    if (!(held_ & event->button()))
        return;  // the hold has ended already: the mouse had been lost
    held_ &= ~event->button();
    if (!held_)
        setDown(false);
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
