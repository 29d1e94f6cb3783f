// SPDX-License-Identifier: GPL-3.0-or-later
// The receive road: replies over a real pseudo-terminal, shown and decoded
// as they grow, and the reply timers, whose ticks the test drives itself.

#include <QtTest>

#include "form_fixture.h"
#include "logic/reply_decoder.h"
#include "logic/trace.h"

using namespace mv70;

namespace {

// Sends a query by its button and takes the reply timers into the test's
// hands: their ticks come only when the test calls them.
void query(FormOnPty &f, const char *button) {
    qobject_cast<QPushButton *>(f->control(button))->click();
    f->Timer2.stop();
    f->Timer4.stop();
    f.com1.read(f->LastCommand().size());
}

void receive(FormOnPty &f, const QByteArray &bytes) {
    const qsizetype before = f->RxBuffer().size();
    f.com1.write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(f->RxBuffer().size(), before + bytes.size(), 5000);
}

}  // namespace

class TestReceive : public QObject {
    Q_OBJECT

private slots:
    void replyInTwoPiecesIsShownAsItGrows();
    void timeoutMarkOnlyWhenNothingCame();
    void replyBetweenTheTicksStartsAFreshBuffer();
    void unsolicitedReplyDecodedAgainstTheSameQuery();
    void transmitStartsANewExchange_data();
    void transmitStartsANewExchange();
    void displayHoldBlanksTheThreeLines();
    void portPanelHidesItself();
    void pressureOutOfRangeIsShownAndTheProgramGoesOn();
    void receiveBufferKeepsTheNewestCharacters();
    void everyByteIsShown();
    void aLineThatKeepsChangingEndsPaintedWithItsNewestText();
    void onlyAChangeWithinWhatFitsRepaintsTheLine();
};

void TestReceive::replyInTwoPiecesIsShownAsItGrows() {
    FormOnPty f;
    f->Label22->setText(QStringLiteral(" earlier"));
    query(f, "Command44");  // STATUS
    QCOMPARE(f->AwaitingReply(), quint8(1));
    receive(f, "0");
    QCOMPARE(f->AwaitingReply(), quint8(0));
    QCOMPARE(f->MSComm1.CommEvent(), window::MSComm::comEvReceive);
    QCOMPARE(f->Label12->text(), QStringLiteral(" 0 "));
    QCOMPARE(f->Label22->text(), QStringLiteral(" earlier"));  // " 0 " matches nothing yet
    receive(f, "0\r");
    QCOMPARE(f->Label12->text(), QStringLiteral(" 0 0 CR "));
    QCOMPARE(f->Label22->text(), QStringLiteral(" Power ON"));
    QCOMPARE(f->Label11->text(), QStringLiteral(" C R 0 CR "));
}

void TestReceive::timeoutMarkOnlyWhenNothingCame() {
    FormOnPty f;
    query(f, "Command45");  // MODE, no answer
    f->Timer2_Timer();
    QCOMPARE(f->Label12->text(), QStringLiteral(" X X X X"));
    QCOMPARE(f->AwaitingReply(), quint8(0));
    QVERIFY(!f->Timer2.isActive());

    query(f, "Command45");  // answered this time
    receive(f, "3\r");
    QCOMPARE(f->Label22->text(), QStringLiteral(" Video"));
    f->Timer2_Timer();
    QCOMPARE(f->Label12->text(), QStringLiteral(" 3 CR "));  // the reply stays
    QVERIFY(f->RxBuffer().isEmpty());
}

void TestReceive::replyBetweenTheTicksStartsAFreshBuffer() {
    FormOnPty f;
    query(f, "Command47");  // SETTING
    receive(f, "1");        // a stray character before the reply window ends
    f->Timer2_Timer();
    QVERIFY(f->RxBuffer().isEmpty());
    receive(f, "10\r");  // late, but before the display hold ends
    QCOMPARE(f->Label12->text(), QStringLiteral(" 1 0 CR "));
    QCOMPARE(f->Label22->text(), QStringLiteral(" Top/Bottom reversal"));
    QCOMPARE(f->AwaitingReply(), quint8(0));
}

void TestReceive::unsolicitedReplyDecodedAgainstTheSameQuery() {
    FormOnPty f;
    query(f, "Command44");
    receive(f, "40\r");
    QCOMPARE(f->Label22->text(), QStringLiteral(" Count down"));
    f->Timer2_Timer();
    receive(f, "00\r");  // nobody asked; LastCommand still names the query
    QCOMPARE(f->Label22->text(), QStringLiteral(" Power ON"));
    // After a command that is not a query, a reply is shown but not decoded.
    qobject_cast<QPushButton *>(f->control("Command18"))->click();
    f->Timer2.stop();
    f->Timer2_Timer();
    receive(f, "80\r");
    QCOMPARE(f->Label12->text(), QStringLiteral(" 8 0 CR "));
    QCOMPARE(f->Label22->text(), QStringLiteral(" Power ON"));
}

// A query sent while an earlier reply, or noise, is still in the receive
// buffer (its reply window still open) is read from its own reply alone.
void TestReceive::transmitStartsANewExchange_data() {
    QTest::addColumn<QByteArray>("firstButton");  // the button before, or none
    QTest::addColumn<QByteArray>("before");       // what came in before the query
    QTest::addColumn<QByteArray>("queryButton");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("reading");
    QTest::newRow("STATUS then TEMP") << QByteArray("Command44") << QByteArray("80\r") << QByteArray("Command54")
                                      << QByteArray("035.5,040.0,045.5\r")
                                      << "  S1= 0 3 5 . 5 C  ,   S2=  4 0 . 0 C , S3= 0 4 5 . 5 C";
    QTest::newRow("TEMP then L-TIME") << QByteArray("Command54") << QByteArray("025.0,025.0,025.0\r")
                                      << QByteArray("Command46") << QByteArray("01234\r") << " 0 1 2 3 4 CR  Hour Use";
    QTest::newRow("POWER ON then STATUS") << QByteArray("Command17") << QByteArray("\x06") << QByteArray("Command44")
                                          << QByteArray("00\r") << " Power ON";
    QTest::newRow("noise then STATUS") << QByteArray() << QByteArray("\x13\xff#0") << QByteArray("Command44")
                                       << QByteArray("80\r") << " Stand by";
}

void TestReceive::transmitStartsANewExchange() {
    QFETCH(QByteArray, firstButton);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, queryButton);
    QFETCH(QByteArray, reply);
    QFETCH(QString, reading);
    FormOnPty f;
    if (!firstButton.isEmpty())
        query(f, firstButton.constData());
    receive(f, before);
    query(f, queryButton.constData());
    receive(f, reply);
    QCOMPARE(f->Label22->text(), reading);
    QCOMPARE(f->Label12->text(), renderTrace(QString::fromLatin1(reply)));
    QCOMPARE(f->RxBuffer(), QString::fromLatin1(reply));
}

void TestReceive::displayHoldBlanksTheThreeLines() {
    FormOnPty f;
    query(f, "Command44");
    receive(f, "80\r");
    f->Timer4.start();
    f->Timer4_Timer();
    QVERIFY(f->Label11->text().isEmpty());
    QVERIFY(f->Label12->text().isEmpty());
    QVERIFY(f->Label22->text().isEmpty());
    QVERIFY(!f->Timer4.isActive());
}

void TestReceive::portPanelHidesItself() {
    FormOnPty f;
    f->Command33_Click();  // COM
    QVERIFY(!f->Frame8->isHidden());
    QVERIFY(f->Timer3.isActive());
    QCOMPARE(f->Timer3.interval(), 5000);
    f->Timer3_Timer();
    QVERIFY(f->Frame8->isHidden());
    QVERIFY(!f->Timer3.isActive());
}

void TestReceive::pressureOutOfRangeIsShownAndTheProgramGoesOn() {
    FormOnPty f;
    f->setLastCommand(QStringLiteral("CR PRESSURE\r"));
    QVERIFY(f->Hyouji(f->LastCommand(), kTransmit));
    f->Timer2.stop();
    f->Timer4.stop();
    QCOMPARE(f.com1.read(12), QByteArray("CR PRESSURE\r"));
    receive(f, "6554\r");
    QCOMPARE(f->Label12->text(), QStringLiteral(" 6 5 5 4 CR "));
    QCOMPARE(f->Label22->text(), kPressureOutOfRange);
    f->Timer2_Timer();
    receive(f, "300\r");
    QCOMPARE(f->Label22->text(), QStringLiteral("425 hPa"));
    QCOMPARE(f->PressureValue(), qint16(425));
}

void TestReceive::receiveBufferKeepsTheNewestCharacters() {
    FormOnPty f;
    QByteArray flood(40000, 'A');
    flood.replace(40000 - 3, 3, "END");
    f.com1.write(flood);
    QTRY_VERIFY_WITH_TIMEOUT(f->RxBuffer().endsWith(u"END"), 10000);
    QCOMPARE(f->RxBuffer().size(), 32767);
    QCOMPARE(f->Label12->text(), renderTrace(f->RxBuffer()));
}

void TestReceive::everyByteIsShown() {
    FormOnPty f;
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    receive(f, all);
    QString expected = QStringLiteral(" ");
    for (int b = 0; b < 256; ++b)
        expected += renderTrace(QString(QChar(char16_t(b)))).mid(1);
    QCOMPARE(f->Label12->text(), expected);
}

namespace {

// Remembers the text of the last paint of one monitor line.
struct PaintWatch : QObject {
    window::MonitorLine *line;
    QString painted;
    int paints = 0;
    explicit PaintWatch(window::MonitorLine *watched) : line(watched) { line->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            painted = line->text();
            ++paints;
        }
        return false;
    }
};

}  // namespace

// Repaints of a line that changes quickly are held back and bundled; the
// newest text is painted all the same, after a burst as after a lone change.
void TestReceive::aLineThatKeepsChangingEndsPaintedWithItsNewestText() {
    FormOnPty f;
    f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);  // the data band with the monitor lines
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    PaintWatch rxd(f->Label12);
    for (char c : QByteArray("0123456789ABCDEF0123456789")) {
        receive(f, QByteArray(1, c));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(rxd.painted, f->Label12->text(), 5000);
    QCOMPARE(rxd.painted, renderTrace(f->RxBuffer()));

    // A quiet spell is a time without changes; the check below holds whether or not it was long enough.
    QTest::qWait(2 * window::MonitorLine::kMinRepaintIntervalMs);
    const int before = rxd.paints;
    receive(f, "\r");
    QTRY_VERIFY_WITH_TIMEOUT(rxd.paints > before, 5000);
    QCOMPARE(rxd.painted, f->Label12->text());
}

// A long trace growing at its end changes nothing the operator can see;
// losing its first characters does.
void TestReceive::onlyAChangeWithinWhatFitsRepaintsTheLine() {
    FormOnPty f;
    f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    PaintWatch rxd(f->Label12);
    const QString longTrace = renderTrace(QString(5000, u'0'));
    f->Label12->setText(longTrace);
    QTRY_COMPARE_WITH_TIMEOUT(rxd.painted, longTrace, 5000);

    const int paints = rxd.paints;
    f->Label12->setText(longTrace + QStringLiteral("1 "));
    QTest::qWait(50);  // a time, past any held-back repaint (16 ms): none may come, so there is no event
    QCOMPARE(rxd.paints, paints);
    QCOMPARE(f->Label12->text(), longTrace + QStringLiteral("1 "));  // the text is the newest all the same

    f->Label12->setText(QStringLiteral(" 1") + longTrace);
    QTRY_COMPARE_WITH_TIMEOUT(rxd.painted, QStringLiteral(" 1") + longTrace, 5000);
}

QTEST_MAIN(TestReceive)
#include "test_receive.moc"
