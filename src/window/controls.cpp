// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/controls.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextLayout>

#include <vector>

namespace mv70::window {

MonitorLine::MonitorLine(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setTimerType(Qt::PreciseTimer);
    connect(&repaintTimer_, &QTimer::timeout, this, &MonitorLine::repaintNow);
    announceTimer_.setSingleShot(true);
    connect(&announceTimer_, &QTimer::timeout, this, &MonitorLine::announceNow);
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
    // Assistive technology hears of the change with the repaint that shows
    // it; while nothing listens, not even the event is built.
    if (QAccessible::isActive())
        announceSoon();
}

void MonitorLine::announceSoon() {
    if (announceTimer_.isActive())
        return;  // the held-back announcement will carry this text too
    const bool steady = changingFor_.isValid() && changingFor_.elapsed() >= kSteadyAfterMs;
    const qint64 since = sinceAnnounced_.isValid() ? sinceAnnounced_.elapsed() : kSteadyAnnounceIntervalMs;
    if (!steady || since >= kSteadyAnnounceIntervalMs)
        announceNow();
    else
        announceTimer_.start(static_cast<int>(kSteadyAnnounceIntervalMs - since));
}

void MonitorLine::announceNow() {
    if (!QAccessible::isActive())
        return;
    sinceAnnounced_.start();
    ++nameChangesRaised_;
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
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

Announcer::Announcer(QWidget *window) : QWidget(window) {
    setObjectName(QStringLiteral("Announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    hide();
}

void Announcer::announce(const QString &message) {
    message_ = message.trimmed();
    ++announced_;
    // The new name first, so that a screen reader that keeps names does not
    // speak the one before.
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

namespace {

// The announcer as assistive technology sees it: a notification whose name
// is the message.
class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer *announcer) : QAccessibleWidget(announcer, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return static_cast<const Announcer *>(widget())->message();
        return QAccessibleWidget::text(t);
    }
};

// A monitor line as assistive technology sees it: a label whose name is the
// text the line paints. A receive trace may run to tens of thousands of
// characters, of which the line shows the first few dozen: a screen reader
// gets what is on screen, and the name stays small however long the trace.
// The caption beside it (TXD, RXD, STATUS) is its buddy, which Qt reports as
// the line's label relation.
class MonitorLineAccessible : public QAccessibleWidget {
public:
    explicit MonitorLineAccessible(MonitorLine *line) : QAccessibleWidget(line, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return static_cast<const MonitorLine *>(widget())->shownText();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *windowControlsFactory(const QString &className, QObject *object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String(MonitorLine::staticMetaObject.className()))
        return new MonitorLineAccessible(static_cast<MonitorLine *>(widget));
    if (className == QLatin1String(Announcer::staticMetaObject.className()))
        return new AnnouncerAccessible(static_cast<Announcer *>(widget));
    // A plain frame groups the controls in it; its accessible name is the
    // group's caption.
    if (object->metaObject() == &QFrame::staticMetaObject)
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    return nullptr;
}

}  // namespace

void installAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(windowControlsFactory);
        return true;
    }();
    Q_UNUSED(installed);
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

    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    if (fontMetrics().boundingRect(textArea, flags, text()).height() <= textArea.height()) {
        painter.drawText(textArea, flags, text());
        return;
    }
    // Taller than the button, as the two lines of a Japanese caption are:
    // the lines are stacked by their glyphs, one pixel apart, and the font
    // is made a pixel smaller at a time until they fit inside the border.
    const QRectF inner = QRectF(rect()).adjusted(3, 1, -3, -1);
    QFont smaller = font();
    int pixels = QFontInfo(font()).pixelSize();
    smaller.setPixelSize(pixels);
    while (pixels > 5 && !drawStacked(painter, smaller, inner, false))
        smaller.setPixelSize(--pixels);
    drawStacked(painter, smaller, inner, true);
}

bool CaptionButton::drawStacked(QPainter &painter, const QFont &font, const QRectF &inner, bool draw) const {
    QTextLayout layout(text(), font, const_cast<CaptionButton *>(this));
    QTextOption wrap(Qt::AlignHCenter);
    wrap.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(wrap);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(inner.width());
    layout.endLayout();
    const QFontMetricsF metrics(font, const_cast<CaptionButton *>(this));
    std::vector<QRectF> ink;
    qreal height = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        ink.push_back(metrics.tightBoundingRect(text().mid(line.textStart(), line.textLength())));
        height += ink.back().height() + (i ? 1 : 0);
    }
    if (height > inner.height())
        return false;
    if (draw) {
        painter.setFont(font);
        qreal top = inner.top() + (inner.height() - height) / 2;
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            // Baseline where the glyphs' top comes at `top`.
            line.draw(&painter, QPointF(inner.left(), top - ink[i].top() - line.ascent() - line.y()));
            top += ink[i].height() + 1;
        }
    }
    return true;
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
