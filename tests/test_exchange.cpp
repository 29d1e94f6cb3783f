// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange on its own: when its reply window opens, what a failed write
// leaves, how a reply is gathered and read, and how a window ends. The line
// is a list the test writes to, and says itself when bytes have left.

#include <QSignalSpy>
#include <QtTest>

#include "logic/command_text.h"
#include "logic/exchange.h"

using namespace mv70;

namespace {

// A line under the test's hand: it takes or refuses, and its bytes leave
// at once or when the test says.
struct FakeLine {
    QStringList written;
    QString refusal;  // non-empty: every write is refused with it
    bool leaveAtOnce = true;

    void attach(Exchange &exchange) {
        exchange.setWriter([this, &exchange](QStringView text) -> QString {
            if (!refusal.isEmpty())
                return refusal;
            written << text.toString();
            if (leaveAtOnce)
                exchange.bytesLeft();
            return {};
        });
    }
};

}  // namespace

class TestExchange : public QObject {
    Q_OBJECT

private slots:
    void windowOpensWhenTheBytesHaveLeft();
    void failedWriteChangesNothingButTheCommand();
    void replyInPiecesIsGatheredBoundedAndRead();
    void windowEndsWithOrWithoutAnAnswer();
    void replyComplete_data();
    void replyComplete();
};

// At once for a line whose bytes leave in the write; for a line still
// connecting, when the last of its queued writes has left, or when the line
// is gone. A window closed meanwhile stays closed.
void TestExchange::windowOpensWhenTheBytesHaveLeft() {
    Exchange exchange;
    FakeLine line;
    line.attach(exchange);
    QSignalSpy opened(&exchange, &Exchange::replyWindowOpened);
    QSignalSpy left(&exchange, &Exchange::commandLeft);
    QSignalSpy traced(&exchange, &Exchange::traced);

    exchange.setReceived(QStringLiteral("stale"));
    QVERIFY(exchange.send(u"C00", 500).isEmpty());
    QCOMPARE(exchange.lastCommand(), QStringLiteral("C00\r"));
    QCOMPARE(line.written, QStringList{u"C00\r"_qs});
    QVERIFY(exchange.received().isEmpty());  // the new reply starts afresh
    QVERIFY(exchange.replyWindow().isActive());
    QCOMPARE(exchange.replyWindow().interval(), 500);
    QCOMPARE(exchange.replyWait(), ReplyWait::Awaited);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(left.count(), 1);
    QCOMPARE(traced.takeFirst(), (QVariantList{QVariant::fromValue(kTransmit), u" C 0 0 CR "_qs}));
    exchange.closeReplyWindow();

    // Connecting: two commands queue, the window waits for both.
    line.leaveAtOnce = false;
    opened.clear();
    left.clear();
    QVERIFY(exchange.send(u"C09", 200).isEmpty());
    QVERIFY(exchange.send(u"C0A", 200).isEmpty());
    QVERIFY(exchange.bytesPending());
    QVERIFY(!exchange.replyWindow().isActive());
    QCOMPARE(opened.count(), 0);
    exchange.bytesLeft();
    QVERIFY(!exchange.replyWindow().isActive());
    exchange.bytesLeft();
    QVERIFY(exchange.replyWindow().isActive());
    QCOMPARE(opened.count(), 1);
    QCOMPARE(left.count(), 2);
    QCOMPARE(left.at(0).at(0).toString(), u"C09\r"_qs);
    QCOMPARE(left.at(1).at(0).toString(), u"C0A\r"_qs);
    exchange.closeReplyWindow();

    // The connection fails: the bytes never leave, the window runs anyway
    // and ends without an answer; nothing is reported as having left.
    QVERIFY(exchange.send(u"CR0", 500).isEmpty());
    exchange.lineGone();
    QVERIFY(exchange.replyWindow().isActive());
    QVERIFY(!exchange.bytesPending());
    QCOMPARE(left.count(), 2);
    exchange.closeReplyWindow();

    // Closed before the bytes left: a later departure opens nothing.
    QVERIFY(exchange.send(u"CR0", 500).isEmpty());
    exchange.closeReplyWindow();
    exchange.bytesLeft();
    QVERIFY(!exchange.replyWindow().isActive());
}

void TestExchange::failedWriteChangesNothingButTheCommand() {
    Exchange exchange;
    FakeLine line;
    line.refusal = QStringLiteral("Port not open");
    line.attach(exchange);
    QSignalSpy traced(&exchange, &Exchange::traced);
    QSignalSpy opened(&exchange, &Exchange::replyWindowOpened);
    exchange.setReceived(QStringLiteral("00"));
    QCOMPARE(exchange.send(u"C00", 500), u"Port not open"_qs);
    QCOMPARE(exchange.received(), u"00"_qs);
    QCOMPARE(exchange.replyWait(), ReplyWait::None);
    QVERIFY(!exchange.replyWindow().isActive());
    QVERIFY(!exchange.bytesPending());
    QCOMPARE(traced.count() + opened.count(), 0);

    Exchange unbound;
    QVERIFY(!unbound.write(u"C00\r"_qs).isEmpty());
}

// Pieces are appended and the whole buffer is traced and read each time;
// only the newest characters are kept however much arrives.
void TestExchange::replyInPiecesIsGatheredBoundedAndRead() {
    Exchange exchange;
    FakeLine line;
    line.attach(exchange);
    QSignalSpy replied(&exchange, &Exchange::replied);
    QVERIFY(exchange.send(u"CR0", 500).isEmpty());

    Reading reading = exchange.receive(u"0");
    QCOMPARE(exchange.replyWait(), ReplyWait::None);
    QCOMPARE(reading.outcome, Reading::Outcome::NoMatch);
    reading = exchange.receive(u"0\r");
    QCOMPARE(reading.outcome, Reading::Outcome::Status);
    QCOMPARE(replied.count(), 2);
    QCOMPARE(replied.at(1).at(0).toString(), u"0\r"_qs);
    QCOMPARE(replied.at(1).at(1).toString(), u" 0 0 CR "_qs);
    QCOMPARE(replied.at(1).at(2).value<Reading>().text, reading.text);
    QVERIFY(exchange.replyComplete());

    const QString flood(kReceivedLimit, u'x');
    QCOMPARE(exchange.append(flood), kReceivedLimit);
    QCOMPARE(exchange.append(u"yz"), qsizetype(2));
    QCOMPARE(exchange.received().size(), kReceivedLimit);
    QVERIFY(exchange.received().endsWith(u"xyz"));
    QCOMPARE(exchange.traceReceived(exchange.received()), renderTrace(exchange.received()));
}

void TestExchange::windowEndsWithOrWithoutAnAnswer() {
    Exchange exchange;
    FakeLine line;
    line.attach(exchange);
    QSignalSpy ended(&exchange, &Exchange::replyWindowEnded);

    QVERIFY(exchange.send(u"C00", 20).isEmpty());
    QVERIFY(ended.wait(5000));  // its own timer ends it
    QCOMPARE(ended.takeFirst().at(0).toBool(), false);
    QVERIFY(!exchange.replyWindow().isActive());

    QVERIFY(exchange.send(u"C00", 5000).isEmpty());
    (void)exchange.receive(u"\x06");
    exchange.endReplyWindow();
    QCOMPARE(ended.takeFirst().at(0).toBool(), true);
    QVERIFY(exchange.received().isEmpty());
    QCOMPARE(exchange.replyWait(), ReplyWait::None);
    QVERIFY(!exchange.replyWindow().isActive());

    // A window of the owner's: its tick is the owner's to handle.
    QTimer owned;
    owned.setInterval(1);
    Exchange bound(&owned);
    line.attach(bound);
    QVERIFY(bound.send(u"C00", 1).isEmpty());
    QVERIFY(owned.isActive());
    QVERIFY(QSignalSpy(&owned, &QTimer::timeout).wait(5000));  // after the exchange's own slot, had it one
    QCOMPARE(bound.replyWait(), ReplyWait::Awaited);
}

void TestExchange::replyComplete_data() {
    QTest::addColumn<QString>("received");
    QTest::addColumn<bool>("complete");
    QTest::newRow("nothing") << QString() << false;
    QTest::newRow("digits") << u"00"_qs << false;
    QTest::newRow("line feed") << u"00\n"_qs << false;
    QTest::newRow("carriage return") << u"00\r"_qs << true;
    QTest::newRow("acknowledge") << u"\x06"_qs << true;
    QTest::newRow("acknowledge after noise") << u"?\x06"_qs << true;
}

void TestExchange::replyComplete() {
    QFETCH(QString, received);
    QFETCH(bool, complete);
    QCOMPARE(Exchange::isReplyComplete(received), complete);
}

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
