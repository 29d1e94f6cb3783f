// SPDX-License-Identifier: GPL-3.0-or-later
// The trace rules, character by character, and the visible form of text
// from other programs and devices.

#include <QtTest>

#include "logic/trace.h"
#include "logic/visible_text.h"

class TestTrace : public QObject {
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void everyCodeHasOneToken();
    void incrementalEqualsFullAtEverySplit();
    void incrementalFollowsABoundedReceiveBuffer();
    void controlsMadeVisible_data();
    void controlsMadeVisible();
};

void TestTrace::tokens_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trace");

    // clang-format off
    QTest::newRow("empty") << QString() << " ";
    QTest::newRow("power on") << "C00\r" << " C 0 0 CR ";
    QTest::newRow("reply 00") << "00\r" << " 0 0 CR ";
    QTest::newRow("ack") << "\x06" << " ACK ";
    QTest::newRow("blank shows as two") << " " << "   ";
    QTest::newRow("phrase keeps its blanks") << "CF INPUT" << " C F   I N P U T ";
    QTest::newRow("0x14 has no blank after it") << QString(QChar(0x14)) + "A" << " &A ";
    QTest::newRow("two 0x14") << QString(QChar(0x14)) + QChar(0x14) << " &&";
    QTest::newRow("cr lf") << "\r\n" << " CR LF ";
    QTest::newRow("other control characters") << QString(QChar(0x00)) + QChar(0x1F) + QChar(0x07) << " ? ? ? ";
    QTest::newRow("0x20 is itself") << "\x20" << "   ";
    QTest::newRow("0x7A z is itself") << "z" << " z ";
    QTest::newRow("0x7B { and up") << "{|}~\x7F" << " ? ? ? ? ? ";
    QTest::newRow("latin-1 byte") << QString(QChar(0xFF)) << " ? ";
    QTest::newRow("non-BMP is two units") << QString::fromUtf8("\xF0\x9F\x98\x80") << " ? ? ";
    QTest::newRow("markup stays text") << "<b>" << " < b > ";
    // clang-format on
}

void TestTrace::tokens() {
    QFETCH(QString, text);
    QFETCH(QString, trace);
    QCOMPARE(mv70::renderTrace(text), trace);
}

// Every UTF-16 code renders as exactly one of the known tokens, so the
// trace never loses a character or grows one out of nothing.
void TestTrace::everyCodeHasOneToken() {
    for (int code = 0; code <= 0xFFFF; ++code) {
        const QString trace = mv70::renderTrace(QString(QChar(static_cast<char16_t>(code))));
        const QString token = trace.mid(1);
        const bool known = token == u"ACK " || token == u"&" || token == u"CR " || token == u"LF " || token == u"? "
                        || (token.size() == 2 && token[0].unicode() == code && token[1] == u' ');
        if (!known)
            QFAIL(qPrintable(QStringLiteral("code %1 renders as \"%2\"").arg(code).arg(token)));
        const bool printable = code >= 0x20 && code <= 0x7A;
        QCOMPARE(token.size() == 2 && token[0].unicode() == code && token[1] == u' ', printable);
    }
}

namespace {

// One character of every token kind, a blank, a character beyond "z" and
// a pair of UTF-16 units.
const QString kMixed = QString::fromUtf8("C0 z{\x06\x14\r\n\x01\xC3\xBF\xF0\x9F\x98\x80"
                                         "A");

}  // namespace

// Whatever the last text was, the next one's trace is the full rendering:
// growing at the end, losing characters at the start, both, or neither.
void TestTrace::incrementalEqualsFullAtEverySplit() {
    const qsizetype n = kMixed.size();
    for (qsizetype drop = 0; drop <= n; ++drop) {
        for (qsizetype end = drop; end <= n; ++end) {
            for (qsizetype start = 0; start <= n; ++start) {
                mv70::IncrementalTrace trace;
                trace.render(kMixed.left(start));
                const QString next = kMixed.sliced(drop, end - drop);
                if (trace.render(next) != mv70::renderTrace(next))
                    QFAIL(qPrintable(QStringLiteral("from [0,%1) to [%2,%3)").arg(start).arg(drop).arg(end)));
            }
        }
    }
}

// The receive buffer's own life: pieces appended, the oldest characters cut
// at a bound, emptied now and then, once in a while replaced outright. Texts
// that repeat themselves match the old text in more than one place.
void TestTrace::incrementalFollowsABoundedReceiveBuffer() {
    QRandomGenerator random(8);
    const QString alphabets[] = {QStringLiteral("00\r"), QStringLiteral("a"), kMixed, QStringLiteral("ab\x14")};
    for (const QString &alphabet : alphabets) {
        mv70::IncrementalTrace trace;
        QString buffer;
        const qsizetype bound = 40;
        for (int step = 0; step < 3000; ++step) {
            const quint32 roll = random.bounded(100);
            if (roll < 2) {
                buffer.clear();
            } else if (roll < 4) {
                buffer = alphabet.repeated(3).mid(random.bounded(alphabet.size()), random.bounded(30));
            } else {
                const qsizetype length = random.bounded(1, 12);
                for (qsizetype i = 0; i < length; ++i)
                    buffer += alphabet[random.bounded(alphabet.size())];
                if (buffer.size() > bound)
                    buffer.remove(0, buffer.size() - bound);
            }
            if (trace.render(buffer) != mv70::renderTrace(buffer))
                QFAIL(qPrintable(QStringLiteral("step %1 of alphabet \"%2\"").arg(step).arg(alphabet)));
        }
    }
}

void TestTrace::controlsMadeVisible_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    // clang-format off
    QTest::newRow("plain and accented")  << u"minicom 2.8 – Café"_qs           << u"minicom 2.8 – Café"_qs;
    QTest::newRow("title and clear")     << u"\x1b]0;pwned\x07\x1b[2J"_qs    << u"\\x1b]0;pwned\\x07\\x1b[2J"_qs;
    QTest::newRow("lone escape at end")  << u"sleep\x1b"_qs                    << u"sleep\\x1b"_qs;
    QTest::newRow("line breaks, NUL")    << QString::fromUtf16(u"a\r\nb\0c", 6) << u"a\\x0d\\x0ab\\x00c"_qs;
    QTest::newRow("DEL and C1 CSI")      << u"x\x7f\u009b2J"_qs               << u"x\\x7f\\x9b2J"_qs;
    QTest::newRow("bidi override")       << u"FT232\u202eTRAU"_qs              << u"FT232\\u202eTRAU"_qs;
    QTest::newRow("bidi isolates")       << u"\u2066a\u2069"_qs               << u"\\u2066a\\u2069"_qs;
    QTest::newRow("a backslash reads back one way") << u"a\\x1b"_qs          << u"a\\\\x1b"_qs;
    // clang-format on
}

void TestTrace::controlsMadeVisible() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(mv70::visibleText(text), shown);
}

QTEST_APPLESS_MAIN(TestTrace)
#include "test_trace.moc"
