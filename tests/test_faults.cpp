// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator can throw at the window while the line is busy: any
// typed text, and a port choice, a speed choice or END in the middle of a
// held repeat or of a reply that is still arriving. Timer ticks come only
// when the test calls them.

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include "form_fixture.h"
#include "logic/trace.h"

using namespace mv70;

namespace {

void click(FormOnPty &f, const char *name) { qobject_cast<QAbstractButton *>(f->control(name))->click(); }

void stopTimers(FormOnPty &f) {
    for (QTimer *timer : {&f->Timer1, &f->Timer2, &f->Timer3, &f->Timer4})
        timer->stop();
}

// Presses "+" of VOL and keeps it held; the repeat's ticks are the test's.
void holdVolumeUp(FormOnPty &f) {
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QTest::mousePress(f->control("Command1"), Qt::LeftButton);
    QVERIFY(f->Timer1.isActive());
    stopTimers(f);
    QCOMPARE(f.com1.read(4), QByteArray("C09\r"));
}

void receive(FormOnPty &f, PtyPeer &peer, const QByteArray &bytes) {
    const qsizetype before = f->RxBuffer().size();
    peer.write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(f->RxBuffer().size(), before + bytes.size(), 5000);
}

// Any UTF-16 unit but the line breaks, which a one-line box cannot hold.
QString anyText(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QString text(size, Qt::Uninitialized);
    for (QChar &c : text) {
        do
            c = QChar(char16_t(random.bounded(0x10000)));
        while (c == u'\n' || c == u'\r');
    }
    return text;
}

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    void sendingOnAVanishedLineIsToldOnce();
    void textIsNeverMarkup();
    void typedTextIsSentAsTraced_data();
    void typedTextIsSentAsTraced();
    void portChoiceDuringAHeldRepeat();
    void speedChoiceDuringAHeldRepeat();
    void endDuringAHeldRepeat();
    void portChoiceDuringAnArrivingReply();
    void speedChoiceDuringAnArrivingReply();
    void endDuringAnArrivingReply();
};

// The far end is gone before the program has noticed: the send itself
// finds out.
void TestFaults::sendingOnAVanishedLineIsToldOnce() {
    FormOnPty f;
    QSignalSpy lost(&f->MSComm1, &window::MSComm::lineLost);
    f.com1.hangUp();
    click(f, "Command44");  // STATUS, before any event could report the loss
    QVERIFY(!f->MSComm1.PortOpen());
    QCOMPARE(lost.size(), 1);
    QVERIFY2(f->Label22->text().contains("disconnected"), qPrintable(f->Label22->text()));
    QVERIFY(f->Label11->text().isEmpty());  // nothing was sent: no trace, nothing awaited
    QVERIFY(!f->Timer2.isActive());
    QCOMPARE(f->AwaitingReply(), quint8(0));
    QTest::qWait(50);  // a time: a second report must not come, so there is no event to wait for
    QCOMPARE(lost.size(), 1);
    QVERIFY(f.warnings.isEmpty());
}

// Whatever comes from the line or the operator is shown as characters: the
// monitor lines paint plain text, and every label that shows text is set
// to plain text too.
void TestFaults::textIsNeverMarkup() {
    FormOnPty f;
    f->setLastCommand(QStringLiteral("CR9\r"));
    receive(f, f.com1, "<b>X</b><img src=\"x\">&amp;\r");
    QCOMPARE(f->Label22->text(), QStringLiteral(" < b > X < / b > < i m g   s r c = \" x \" > & a m p ; CR "));
    for (const QLabel *label : f->findChildren<QLabel *>())
        if (!label->text().isEmpty())
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
    QVERIFY(f->findChildren<QLabel *>(QStringLiteral("Label22")).isEmpty());  // a monitor line, not a label
}

void TestFaults::typedTextIsSentAsTraced_data() {
    QTest::addColumn<QString>("typed");
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        if (c != u'\n' && c != u'\r')
            controls += QChar(c);
    controls += QChar(0x7F);
    QTest::newRow("control characters") << controls;
    QTest::newRow("outside ASCII") << QString::fromUtf8("C0é€ｱ\xF0\x9F\x98\x80\xEF\xBF\xBF");
    QTest::newRow("unpaired surrogates") << (QString(QChar(0xD800)) + QStringLiteral("C00") + QChar(0xDC00));
    QTest::newRow("100,000 characters") << anyText(100'000, 7);
}

// The typed text goes out one byte per character and the TXD line shows
// exactly what went out, whatever was typed.
void TestFaults::typedTextIsSentAsTraced() {
    QFETCH(QString, typed);
    FormOnPty f;
    click(f, "Command96");              // CLS
    f->Text1->insert(typed);            // as a paste puts it in
    QCOMPARE(f->Text1->text(), typed);  // no length limit, nothing filtered

    click(f, "Command95");  // SEND
    stopTimers(f);
    QCOMPARE(f->ManualText, typed);
    QCOMPARE(f->LastCommand(), typed + u'\r');
    const QByteArray sent = f.com1.read(typed.size() + 1, 30000);
    QCOMPARE(sent.size(), typed.size() + 1);
    QCOMPARE(f->Label11->text(), renderTrace(QString::fromLatin1(sent)));
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestFaults::portChoiceDuringAHeldRepeat() {
    FormOnPty f;
    holdVolumeUp(f);
    click(f, "Option2");  // from the keyboard, while the mouse holds "+"
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 2);
    // The repeat goes on, now on the chosen port.
    f->Timer1_Timer();
    QCOMPARE(f.com2.read(4), QByteArray("C09\r"));
    QTest::mouseRelease(f->control("Command1"), Qt::LeftButton);
    QVERIFY(!f->Timer1.isActive());
    QCOMPARE(f->RepeatCode, quint8(0));
    QCOMPARE(f.sendMarkerAndRead(f.com2), QByteArray("MARK\r"));
    QCOMPARE(f.com1.readAvailable(), QByteArray());
    QVERIFY(f.warnings.isEmpty());
}

void TestFaults::speedChoiceDuringAHeldRepeat() {
    FormOnPty f;
    holdVolumeUp(f);
    click(f, "Option10");  // 9600
    QCOMPARE(f.com1.baudRate(), 9600);
    f->Timer1_Timer();
    QCOMPARE(f.com1.read(4), QByteArray("C09\r"));
    QTest::mouseRelease(f->control("Command1"), Qt::LeftButton);
    QVERIFY(!f->Timer1.isActive());
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestFaults::endDuringAHeldRepeat() {
    FormOnPty f;
    holdVolumeUp(f);
    f->Timer1.start();
    QSignalSpy ended(f.form.get(), &Form1::ended);
    click(f, "Command16");  // END
    QCOMPARE(ended.size(), 1);
    QVERIFY(!f->MSComm1.PortOpen());
    for (const QTimer *timer : {&f->Timer1, &f->Timer2, &f->Timer3, &f->Timer4})
        QVERIFY(!timer->isActive());
    // A tick already on its way and the late release find the port closed.
    f->Timer1_Timer();
    QTest::mouseRelease(f->control("Command1"), Qt::LeftButton);
    QCOMPARE(f->RepeatCode, quint8(0));
    QCOMPARE(f.com1.read(1, 200), QByteArray());
    // The device is free for the next program.
    serial::Port next;
    QVERIFY(next.open());
}

// A choice that moves the port drops the rest of a reply on the old line;
// what had come stays in the buffer, and the new line's characters follow.
void TestFaults::portChoiceDuringAnArrivingReply() {
    FormOnPty f;
    click(f, "Command44");  // STATUS
    stopTimers(f);
    f.com1.read(4);
    receive(f, f.com1, "0");
    click(f, "Option2");
    QCOMPARE(f->MSComm1.CommPort(), 2);
    f.com1.write("8\r");  // to a line the program no longer listens to
    receive(f, f.com2, "0\r");
    QCOMPARE(f->RxBuffer(), QStringLiteral("00\r"));
    QCOMPARE(f->Label22->text(), QStringLiteral(" Power ON"));
    QVERIFY(f.warnings.isEmpty());
}

void TestFaults::speedChoiceDuringAnArrivingReply() {
    FormOnPty f;
    click(f, "Command44");
    stopTimers(f);
    f.com1.read(4);
    receive(f, f.com1, "2");
    click(f, "Option10");
    QCOMPARE(f.com1.baudRate(), 9600);
    receive(f, f.com1, "0\r");  // the rest still arrives on the open line
    QCOMPARE(f->Label12->text(), QStringLiteral(" 2 0 CR "));
    QCOMPARE(f->Label22->text(), QStringLiteral(" Cooling down"));
}

void TestFaults::endDuringAnArrivingReply() {
    FormOnPty f;
    click(f, "Command44");
    stopTimers(f);
    f.com1.read(4);
    receive(f, f.com1, "8");
    const QString shown = f->Label12->text();
    click(f, "Command16");
    f.com1.write("0\r");
    QTest::qWait(50);  // a time: what is still queued must not arrive, so there is no event to wait for
    QCOMPARE(f->RxBuffer(), QStringLiteral("8"));
    QCOMPARE(f->Label12->text(), shown);
    QVERIFY(!f->MSComm1.PortOpen());
}

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
