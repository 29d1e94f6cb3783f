// SPDX-License-Identifier: GPL-3.0-or-later
// Issuing commands: the bytes on the line, the trace, the timers and the
// order of the steps around the send.

#include <QtTest>

#include "form_fixture.h"
#include "logic/trace.h"
#include "window/layout.h"

using namespace mv70;

class TestSend : public QObject {
    Q_OBJECT

private slots:
    void everyOneShotButtonSendsItsCode_data();
    void everyOneShotButtonSendsItsCode();
    void imageAndSignalRetimeBeforeTheSend();
    void menuEntryPreparesTheArrowsAfterTheSend();
    void failedWriteStopsTheRoutineAndIsShown();
    void emptyTextSendsNothingAndShowsABlank();
    void twoTransmitsThenOneReceive();
    void returnClicksTheFocusedButton();
};

void TestSend::everyOneShotButtonSendsItsCode_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < kOneShotButtons.size(); ++i)
        QTest::newRow(kOneShotButtons[i].control.data()) << int(i);
}

void TestSend::everyOneShotButtonSendsItsCode() {
    QFETCH(int, row);
    const OneShotButton &button = kOneShotButtons[std::size_t(row)];
    FormOnPty f;
    auto *widget = qobject_cast<QPushButton *>(f->control(button.control));
    QVERIFY(widget);
    QCOMPARE(widget->text(), QString::fromUtf8(window::findControl(button.control)->caption));

    widget->click();

    const QByteArray expected = QStringView(button.code).toLatin1() + '\r';
    QCOMPARE(f.com1.read(expected.size()), expected);
    QCOMPARE(f->LastCommand(), QString::fromLatin1(expected));
    QCOMPARE(f->Label11->text(), renderTrace(f->LastCommand()));
    QCOMPARE(f->AwaitingReply(), quint8(1));
    QVERIFY(f->Timer2.isActive());
    QVERIFY(f->Timer4.isActive());
    QVERIFY(!f->Timer1.isActive());  // a menu entry does not start the repeat
    // Nothing else went out with it.
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

// The image and signal kinds set the reply window and display hold before
// the send: they change even when the send itself fails.
void TestSend::imageAndSignalRetimeBeforeTheSend() {
    FormOnPty f;
    qobject_cast<QPushButton *>(f->control("Command10"))->click();
    QCOMPARE(f.com1.read(4), QByteArray("C12\r"));
    QCOMPARE(f->Timer2.interval(), 2000);
    QCOMPARE(f->Timer4.interval(), 2500);
    QVERIFY(f->Timer2.isActive());

    // A plain button that follows runs with what REAL left.
    qobject_cast<QPushButton *>(f->control("Command17"))->click();
    QCOMPARE(f.com1.read(4), QByteArray("C00\r"));
    QCOMPARE(f->Timer2.interval(), 2000);
    QCOMPARE(f->Timer4.interval(), 2500);

    QVERIFY(f->MSComm1.setPortOpen(false));
    qobject_cast<QPushButton *>(f->control("Command66"))->click();  // Component: signal kind
    QCOMPARE(f->Timer2.interval(), 5000);
    QCOMPARE(f->Timer4.interval(), 5500);
    QCOMPARE(f->LastCommand(), QStringLiteral("C54\r"));
}

// A menu entry sets Timer1 and ArrowSpeedMode after the send: a failed send
// leaves them as they were.
void TestSend::menuEntryPreparesTheArrowsAfterTheSend() {
    FormOnPty f;
    f->Timer1.setInterval(5);
    f->ArrowSpeedMode = 3;
    QVERIFY(f->MSComm1.setPortOpen(false));
    qobject_cast<QPushButton *>(f->control("Command13"))->click();  // A-IMAGE
    QCOMPARE(f->Timer1.interval(), 5);
    QCOMPARE(f->ArrowSpeedMode, quint8(3));
    QCOMPARE(f->LastCommand(), QStringLiteral("C89\r"));

    QVERIFY(f->MSComm1.setPortOpen(true));
    qobject_cast<QPushButton *>(f->control("Command23"))->click();  // MENU ON
    QCOMPARE(f.com1.read(4), QByteArray("C1C\r"));
    QCOMPARE(f->Timer1.interval(), 200);
    QCOMPARE(f->ArrowSpeedMode, quint8(1));
    QVERIFY(!f->Timer1.isActive());

    qobject_cast<QPushButton *>(f->control("Command24"))->click();  // MENU OFF undoes nothing
    QCOMPARE(f->ArrowSpeedMode, quint8(1));
}

void TestSend::failedWriteStopsTheRoutineAndIsShown() {
    FormOnPty f;
    f->Label11->setText(QStringLiteral(" before"));
    f->setAwaitingReply(0);
    QVERIFY(f->MSComm1.setPortOpen(false));

    qobject_cast<QPushButton *>(f->control("Command44"))->click();  // STATUS

    QCOMPARE(f->LastCommand(), QStringLiteral("CR0\r"));      // stored before the send
    QCOMPARE(f->Label11->text(), QStringLiteral(" before"));  // no trace
    QVERIFY(!f->Timer2.isActive());
    QVERIFY(!f->Timer4.isActive());
    QCOMPARE(f->AwaitingReply(), quint8(0));
    QVERIFY2(f->Label22->text().contains("not open"), qPrintable(f->Label22->text()));
    QVERIFY(f->Label22->text().contains(f.com1.path()));
    QVERIFY(f.warnings.isEmpty());  // the STATUS line tells; no box

    // The program goes on: the next command on an open port works.
    QVERIFY(f->MSComm1.setPortOpen(true));
    qobject_cast<QPushButton *>(f->control("Command17"))->click();
    QCOMPARE(f.com1.read(4), QByteArray("C00\r"));
    QCOMPARE(f->Label11->text(), QStringLiteral(" C 0 0 CR "));
}

void TestSend::emptyTextSendsNothingAndShowsABlank() {
    FormOnPty f;
    f->setLastCommand(QString());
    QVERIFY(f->Hyouji(f->LastCommand(), kTransmit));
    QCOMPARE(f->Label11->text(), QStringLiteral(" "));
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestSend::twoTransmitsThenOneReceive() {
    FormOnPty f;
    f->Label12->setText(QStringLiteral(" kept"));
    f->Label22->setText(QStringLiteral(" kept too"));
    qobject_cast<QPushButton *>(f->control("Command44"))->click();
    qobject_cast<QPushButton *>(f->control("Command44"))->click();  // again at once: no waiting
    QCOMPARE(f.com1.read(8), QByteArray("CR0\rCR0\r"));
    QCOMPARE(f->AwaitingReply(), quint8(1));
    // A transmit changes only the TXD line.
    QCOMPARE(f->Label12->text(), QStringLiteral(" kept"));
    QCOMPARE(f->Label22->text(), QStringLiteral(" kept too"));
    f.com1.write("00\r");
    QTRY_COMPARE_WITH_TIMEOUT(f->AwaitingReply(), quint8(0), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(f->Label22->text(), QStringLiteral(" Power ON"), 5000);
    QCOMPARE(f->Label11->text(), QStringLiteral(" C R 0 CR "));  // kept through the receive
}

// Return and Enter click a focused one-shot button as Space does; a key held
// down clicks once; a press-and-hold button stays mouse-only.
void TestSend::returnClicksTheFocusedButton() {
    FormOnPty f;
    f->show();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QWidget *on = f->control("Command17");
    on->setFocus();
    QTest::keyClick(on, Qt::Key_Return);
    QCOMPARE(f.com1.read(4), QByteArray("C00\r"));
    QTest::keyClick(on, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(f.com1.read(4), QByteArray("C00\r"));
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
    QCoreApplication::sendEvent(on, &repeated);
    QTest::keyClick(on, Qt::Key_Return, Qt::ControlModifier);  // not a plain Return

    QWidget *end = f->control("Command16");  // END: any one-shot button
    QWidget *plus = f->control("Command1");  // "+" of VOL
    plus->setFocus();
    QTest::keyClick(plus, Qt::Key_Return);
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
    QSignalSpy ended(f.form.get(), &Form1::ended);
    end->setFocus();
    QTest::keyClick(end, Qt::Key_Return);
    QCOMPARE(ended.size(), 1);
}

QTEST_MAIN(TestSend)
#include "test_send.moc"
