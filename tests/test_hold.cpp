// SPDX-License-Identifier: GPL-3.0-or-later
// Press-and-hold repeat: real mouse events on the buttons, ticks of the
// repeat timer driven by the test.

#include <QtTest>

#include "form_fixture.h"

using namespace mv70;

namespace {

struct Held {
    FormOnPty f;
    Held() {
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    }
    QWidget *button(const char *name) { return f->control(name); }
    // Presses a button and takes every timer into the test's hands: their
    // ticks come only when the test calls them. True when the repeat started.
    bool press(const char *name, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mousePress(button(name), b);
        const bool repeating = f->Timer1.isActive();
        f->Timer1.stop();
        f->Timer2.stop();
        f->Timer4.stop();
        return repeating;
    }
    void release(const char *name, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseRelease(button(name), b); }
};

// What a release leaves: the repeat off, the reply window closed, the
// display hold running at the start intervals, and the lines and buffer clear.
void checkReleased(FormOnPty &f) {
    QVERIFY(!f->Timer1.isActive());
    QVERIFY(!f->Timer2.isActive());
    QVERIFY(f->Timer4.isActive());
    QCOMPARE(f->Timer2.interval(), 500);
    QCOMPARE(f->Timer4.interval(), 1000);
    QVERIFY(f->Label11->text().isEmpty());
    QVERIFY(f->Label12->text().isEmpty());
    QVERIFY(f->RxBuffer().isEmpty());
}

}  // namespace

class TestHold : public QObject {
    Q_OBJECT

private slots:
    void pressAndReleaseBeforeTheFirstTickSendsOne();
    void holdingVolRepeatsUntilTheRelease();
    void anyMouseButtonRepeats_data();
    void anyMouseButtonRepeats();
    void keyboardActivationSendsNothing();
    void arrowSpeedFollowsTheLastModeSetter();
    void selectRepeatsEvery500();
    void everyRepeatCodeSendsItsRow_data();
    void everyRepeatCodeSendsItsRow();
    void releaseKeepsAnOutstandingReplyFlag();
    void lostMouseEndsTheHoldAsTheReleaseDoes_data();
    void lostMouseEndsTheHoldAsTheReleaseDoes();
};

void TestHold::pressAndReleaseBeforeTheFirstTickSendsOne() {
    Held h;
    QTest::mouseClick(h.button("Command2"), Qt::LeftButton);  // "-" of VOL, no event between
    QVERIFY(!h.f->Timer1.isActive());
    QCOMPARE(h.f.sendMarkerAndRead(h.f.com1), QByteArray("C0A\rMARK\r"));
}

void TestHold::holdingVolRepeatsUntilTheRelease() {
    Held h;
    auto &f = h.f;
    QVERIFY(h.press("Command1"));
    QCOMPARE(f.com1.read(4), QByteArray("C09\r"));
    QCOMPARE(f->RepeatCode, quint8(1));
    QCOMPARE(f->Timer1.interval(), 250);
    QCOMPARE(f->Timer2.interval(), 200);
    QCOMPARE(f->Timer4.interval(), 245);

    f->Timer1_Timer();
    f->Timer1_Timer();
    QCOMPARE(f.com1.read(8), QByteArray("C09\rC09\r"));
    QVERIFY(f->Timer2.isActive() && f->Timer4.isActive());  // every repeat opens them again
    QCOMPARE(f->Timer2.interval(), 200);                    // and the tick does not retime them

    f->setRxBuffer(QStringLiteral("x"));
    f->Timer1.start();
    f->Timer2.start();
    h.release("Command1");
    QCOMPARE(f->RepeatCode, quint8(0));
    checkReleased(f);
    if (QTest::currentTestFailed())
        return;
    f->Timer1_Timer();  // a tick already on its way finds nothing to repeat
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestHold::anyMouseButtonRepeats_data() {
    QTest::addColumn<int>("button");
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestHold::anyMouseButtonRepeats() {
    QFETCH(int, button);
    Held h;
    QVERIFY(h.press("Command15", Qt::MouseButton(button)));  // "+" of Brightness
    QCOMPARE(h.f.com1.read(4), QByteArray("C20\r"));
    QCOMPARE(h.f->Timer1.interval(), 50);
    QCOMPARE(h.f->Timer2.interval(), 25);
    h.f->Timer1_Timer();
    QCOMPARE(h.f.com1.read(4), QByteArray("C20\r"));
    h.f->Timer1.start();
    h.release("Command15", Qt::MouseButton(button));
    QVERIFY(!h.f->Timer1.isActive());
    QCOMPARE(h.f->RepeatCode, quint8(0));
}

void TestHold::keyboardActivationSendsNothing() {
    Held h;
    QWidget *plus = h.button("Command50");  // "+" of Keystone
    plus->setFocus();
    QTest::keyClick(plus, Qt::Key_Space);
    QTest::keyClick(plus, Qt::Key_Return);
    QVERIFY(!h.f->Timer1.isActive());
    QCOMPARE(h.f.sendMarkerAndRead(h.f.com1), QByteArray("MARK\r"));
}

void TestHold::arrowSpeedFollowsTheLastModeSetter() {
    Held h;
    auto &f = h.f;
    // Right after start-up: Timer1's stored 200 ms, reply timers untouched.
    QVERIFY(h.press("Command5"));  // up
    QCOMPARE(f.com1.read(4), QByteArray("C3C\r"));
    QCOMPARE(f->Timer1.interval(), 200);
    QCOMPARE(f->Timer2.interval(), 500);
    QCOMPARE(f->Timer4.interval(), 1000);
    h.release("Command5");

    qobject_cast<QPushButton *>(f->control("Command23"))->click();  // MENU ON
    f.com1.read(4);
    h.press("Command7");  // down
    QCOMPARE(f.com1.read(4), QByteArray("C3D\r"));
    QCOMPARE(f->Timer1.interval(), 200);
    QCOMPARE(f->Timer2.interval(), 150);
    QCOMPARE(f->Timer4.interval(), 190);
    h.release("Command7");

    h.press("Command48");  // "+" of D.Zoom
    h.release("Command48");
    QCOMPARE(f.com1.read(4), QByteArray("C30\r"));
    QCOMPARE(f->ArrowSpeedMode, quint8(3));
    QCOMPARE(f->Timer1.interval(), 5);
    QVERIFY(h.press("Command9"));  // left
    QCOMPARE(f.com1.read(4), QByteArray("C3B\r"));
    QCOMPARE(f->Timer1.interval(), 5);
    QCOMPARE(f->Timer2.interval(), 5);
    QCOMPARE(f->Timer4.interval(), 5);
    h.release("Command9");

    h.press("Command1");  // VOL "+" in between: the period changes, the mode stays
    h.release("Command1");
    h.press("Command8");  // right
    QCOMPARE(f.com1.read(8), QByteArray("C09\rC3A\r"));
    QCOMPARE(f->Timer1.interval(), 250);
    QCOMPARE(f->Timer2.interval(), 5);
    h.release("Command8");

    qobject_cast<QPushButton *>(f->control("Command24"))->click();  // MENU OFF changes nothing
    QCOMPARE(f->ArrowSpeedMode, quint8(3));
    qobject_cast<QPushButton *>(f->control("Command23"))->click();  // MENU ON sets it back to 1
    QCOMPARE(f->ArrowSpeedMode, quint8(1));
}

void TestHold::selectRepeatsEvery500() {
    Held h;
    QVERIFY(h.press("Command6"));
    QCOMPARE(h.f->Timer1.interval(), 500);
    h.f->Timer1_Timer();
    QCOMPARE(h.f.com1.read(8), QByteArray("C3F\rC3F\r"));
    h.release("Command6");
}

void TestHold::everyRepeatCodeSendsItsRow_data() {
    QTest::addColumn<int>("repeatCode");
    QTest::addColumn<QByteArray>("bytes");
    const char *codes[] = {"C09", "C0A", "C3C", "C3D", "C3B", "C3A", "C20", "C21", "C4B", "C4A", "C5D", "C5E",
                           "C3F", "C3E", "C20", "C21", "C30", "C31", "C8E", "C8F", "C5D", "C5E", "C5F", "C60"};
    for (int i = 0; i < 24; ++i)
        QTest::addRow("%d", i + 1) << i + 1 << QByteArray(codes[i]) + '\r';
}

void TestHold::everyRepeatCodeSendsItsRow() {
    QFETCH(int, repeatCode);
    QFETCH(QByteArray, bytes);
    FormOnPty f;
    f->RepeatCode = quint8(repeatCode);
    f->Timer1_Timer();
    QCOMPARE(f.com1.read(bytes.size()), bytes);
    QCOMPARE(f->LastCommand(), QString::fromLatin1(bytes));
}

void TestHold::releaseKeepsAnOutstandingReplyFlag() {
    Held h;
    h.press("Command51");
    QCOMPARE(h.f->AwaitingReply(), quint8(1));
    h.release("Command51");
    QCOMPARE(h.f->AwaitingReply(), quint8(1));
    QCOMPARE(h.f->LastCommand(), QStringLiteral("C8F\r"));
}

// The release of a held button goes elsewhere when the window is
// deactivated, minimised or hidden while the mouse button is down: the hold
// ends there, with the steps of the release, once.
enum class Loss { Deactivated, Minimised, Hidden, MouseTaken };

void TestHold::lostMouseEndsTheHoldAsTheReleaseDoes_data() {
    QTest::addColumn<int>("lossRow");
    QTest::newRow("another window activated") << int(Loss::Deactivated);
    QTest::newRow("minimised") << int(Loss::Minimised);
    QTest::newRow("hidden") << int(Loss::Hidden);
    QTest::newRow("mouse taken") << int(Loss::MouseTaken);
}

void TestHold::lostMouseEndsTheHoldAsTheReleaseDoes() {
    QFETCH(int, lossRow);
    const auto loss = Loss(lossRow);
    Held h;
    auto &f = h.f;
    f->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QWidget other;
    auto *plus = qobject_cast<QPushButton *>(h.button("Command1"));  // "+" of VOL

    QVERIFY(h.press("Command1"));
    QCOMPARE(f.com1.read(4), QByteArray("C09\r"));
    f->setRxBuffer(QStringLiteral("x"));
    f->Timer1.start();
    f->Timer2.start();
    const auto lose = [&] {
        switch (loss) {
        case Loss::Deactivated:
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            break;
        case Loss::Minimised:
            f->showMinimized();
            break;
        case Loss::Hidden:
            f->hide();
            break;
        case Loss::MouseTaken: {
            QEvent ungrab(QEvent::UngrabMouse);
            QCoreApplication::sendEvent(plus, &ungrab);
            break;
        }
        }
    };
    lose();
    QTRY_COMPARE_WITH_TIMEOUT(f->RepeatCode, quint8(0), 5000);
    checkReleased(f);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!plus->isDown());

    // Once: neither a second loss nor the release that comes late runs the
    // release's steps again.
    f->Timer4.stop();
    f->Label11->setText(QStringLiteral(" later"));
    lose();
    QTest::mouseRelease(plus, Qt::LeftButton);
    QVERIFY(!f->Timer4.isActive());
    QCOMPARE(f->Label11->text(), QStringLiteral(" later"));
    f->Timer1_Timer();  // a tick already on its way sends nothing
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));

    // Back on screen, the button holds again.
    f->showNormal();
    f->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QVERIFY(h.press("Command1"));
    h.release("Command1");
    QCOMPARE(f.com1.read(4), QByteArray("C09\r"));
}

QTEST_MAIN(TestHold)
#include "test_hold.moc"
