// SPDX-License-Identifier: GPL-3.0-or-later
// Time per character of the trace and of the decoder, for receive buffers of
// 10 to 32767 characters (the longest the receive buffer keeps), and the
// cost of one receive event's trace with the buffer held at each length.
// Run it as it is for wall-clock time, or with -callgrind for instruction
// counts.

#include <QtTest>

#include "logic/reply_decoder.h"
#include "logic/trace.h"

namespace {

const int kSizes[] = {10, 100, 1000, 10000, 32767};

// What a projector that keeps talking sends: replies of two digits and a CR.
QString received(int size) {
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text += QStringLiteral("00\r");
    text.truncate(size);
    return text;
}

}  // namespace

class BenchTrace : public QObject {
    Q_OBJECT

private slots:
    void render_data();
    void render();
    void receiveStep_data();
    void receiveStep();
    void decode_data();
    void decode();
};

void BenchTrace::render_data() {
    QTest::addColumn<QString>("text");
    for (int size : kSizes)
        QTest::addRow("%d", size) << received(size);
}

void BenchTrace::render() {
    QFETCH(QString, text);
    QString trace;
    QBENCHMARK { trace = mv70::renderTrace(text); }
    QCOMPARE(trace.size(), 1 + 7 * (text.size() / 3) + (text.size() % 3) * 2);
}

// One receive event of one character with the buffer held at a length: the
// trace as the RXD line gets it, rendered only where the buffer is new.
void BenchTrace::receiveStep_data() { render_data(); }

void BenchTrace::receiveStep() {
    QFETCH(QString, text);
    const qsizetype bound = text.size();
    QString buffer = text;
    mv70::IncrementalTrace trace;
    trace.render(buffer);
    const QString next = QStringLiteral("00\r");
    qsizetype turn = 0;
    QBENCHMARK {
        buffer += next[turn++ % 3];
        buffer.remove(0, buffer.size() - bound);
        trace.render(buffer);
    }
    QCOMPARE(trace.render(buffer), mv70::renderTrace(buffer));
}

void BenchTrace::decode_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("trace");
    for (const char *query : {"CR0", "CR6", "CR9", "CR PRESSURE"})
        for (int size : kSizes)
            QTest::addRow("%s/%d", query, size)
                << QString::fromLatin1(query) + u'\r' << received(size) << mv70::renderTrace(received(size));
}

void BenchTrace::decode() {
    QFETCH(QString, query);
    QFETCH(QString, reply);
    QFETCH(QString, trace);
    qint16 pressure = 0;
    mv70::Reading reading;
    QBENCHMARK { reading = mv70::decodeReply(query, QString(), reply, trace, pressure); }
    QVERIFY(reading.outcome == mv70::Reading::Outcome::Status);
}

QTEST_GUILESS_MAIN(BenchTrace)
#include "bench_trace.moc"
