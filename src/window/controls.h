// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The few controls that Qt's own widgets do not cover as the window needs.

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QTimer>

namespace mv70::window {

// A monitor line (TXD, RXD, STATUS): one line of plain text in a sunken box.
// It keeps the whole text it is given, however long, and lays out only the
// part that fits, so that a long receive trace costs no more to show than a
// short one.
//
// Repaints are bundled, since a line can change far more often than a
// screen shows: the RXD line changes at every receive event, up to some two
// thousand times a second while the projector talks without pause. A change
// after a quiet spell is painted at once; the changes that follow within
// kMinRepaintIntervalMs of a repaint are painted together when it is over,
// so that a reply arriving in pieces is complete on screen a few ms after
// its last piece. A line that has kept changing for kSteadyAfterMs is
// repainted once every kSteadyRepaintIntervalMs, a screen's frame. The text
// itself is always the newest, and a change beyond the part that fits asks
// for no repaint at all.
//
// To assistive technology (screen readers) a line is static text whose name
// is the text it paints: all of a reading or a short trace, the start of a
// long one. A repaint tells them that the name changed, so that they hear of
// every change, no more often than the screen shows one, and not at all
// while none of them listens. A line that keeps changing tells them at most
// once every kSteadyAnnounceIntervalMs, and once more with its last text.
class MonitorLine : public QFrame {
    Q_OBJECT

public:
    static constexpr int kMinRepaintIntervalMs = 4;
    static constexpr int kSteadyAfterMs = 100;
    static constexpr int kSteadyRepaintIntervalMs = 16;
    static constexpr int kSteadyAnnounceIntervalMs = 100;

    explicit MonitorLine(QWidget *parent = nullptr);

    void setText(const QString &text);
    const QString &text() const { return text_; }
    // The part of the text that the line paints (clipped at its right edge).
    QString shownText() const { return visiblePart(text_).toString(); }
    void setTextColour(const QColor &colour);

    // How often this line has told assistive technology of a new name.
    quint64 nameChangesRaised() const { return nameChangesRaised_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textArea() const;
    QStringView visiblePart(const QString &text) const;
    void repaintSoon();
    void repaintNow();
    void announceSoon();
    void announceNow();

    QString text_;
    quint64 nameChangesRaised_ = 0;
    QElapsedTimer sinceAnnounced_;  // since assistive technology was last told
    QTimer announceTimer_;          // a name change held back until the interval is over
    QElapsedTimer sinceRepaint_;    // since the last repaint was asked for
    QElapsedTimer sinceChange_;     // since the last change of what fits
    QElapsedTimer changingFor_;     // since the changes began without a quiet spell
    QTimer repaintTimer_;           // a repaint held back until the interval is over
};

// A push button whose caption wraps onto more lines when it does not fit on
// one, as "DISPLAY CLEAR" must in its narrow button.
class CaptionButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Return and Enter click the button, as Space does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The wrapped caption's lines stacked inside `inner`: false when they do
    // not fit in this font. Draws them only when `draw` is set.
    bool drawStacked(QPainter &painter, const QFont &font, const QRectF &inner, bool draw) const;
};

// A press-and-hold button: reports the press and the release of any mouse
// button and sends nothing when activated from the keyboard.
//
// A release can go astray: when the window is minimised, hidden, moved to
// another desktop or loses its activation while a mouse button is down, the
// release goes to some other window. The button reports mouseLost, and the
// window ends the hold with endHold(), which reports it as the release, once.
class HoldPushButton : public CaptionButton {
    Q_OBJECT

public:
    using CaptionButton::CaptionButton;

    // A mouse button pressed on this button has not been released yet.
    bool isHeld() const { return held_ != Qt::NoButton; }
    // Ends a hold whose release will not come: mouseUp for the buttons
    // still held, as one release. Nothing when none is held.
    void endHold();

signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    // Held, and the release will not come here: the window was deactivated
    // or hidden, or the mouse taken away.
    void mouseLost();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    Qt::MouseButtons held_;
};

// Says a short message to a screen reader without moving the focus: the
// reading that arrived, no answer, a line lost or back. Screen readers speak
// by themselves only the focused control and notifications that appear, so
// the message is given as a notification that appears: an invisible child of
// the window, of no size, whose accessible name is the message, tells
// assistive technology each time that it is now showing. It is never shown
// or painted.
//
// The window makes one only once a screen reader listens, and has it speak
// only while the window is active, as a screen reader speaks only for the
// active window.
class Announcer : public QWidget {
    Q_OBJECT

public:
    explicit Announcer(QWidget *window);

    // Tells assistive technology that `message` appeared.
    void announce(const QString &message);
    const QString &message() const { return message_; }
    // How many messages this announcer has told of.
    quint64 announced() const { return announced_; }

private:
    QString message_;
    quint64 announced_ = 0;
};

// Makes the window's own kinds of control known to assistive technology:
// the monitor lines as static text, plain frames as named groups, the
// announcer as a notification. Called
// once before the first window is built; later calls do nothing.
void installAccessibleInterfaces();

// The logo: a picture at its natural size that reports a double-click.
class LogoImage : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

}  // namespace mv70::window
