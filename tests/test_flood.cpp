// SPDX-License-Identifier: GPL-3.0-or-later
// Random bytes of every value, in random splits, at the line's own rate
// (19200 bit/s, 1920 bytes a second) for a long stretch: first while no
// command is outstanding, then while the operator clicks queries and holds
// a button. Every command must reach the line whole and in order, the
// receive buffer and the monitor lines must stay bounded, and so must the
// memory of the process.
//
// MV70_FLOOD_SECONDS sets the length of each phase (default 20).

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include "form_fixture.h"

using namespace mv70;

namespace {

constexpr double kBytesPerMs = 1.92;
constexpr quint32 kSeed = 19200;

// A longest trace: every character rendered as a four-character token.
constexpr qsizetype kLongestTrace = 1 + 4 * kReceivedLimit;

// Resident memory of this process in KiB, from /proc/self/status.
qint64 residentKiB(const char *field = "VmRSS:") {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

struct Flood {
    FormOnPty f;
    QRandomGenerator random{kSeed};
    QElapsedTimer clock;
    qint64 written = 0;
    QByteArray expected;  // every command the program sent, in order
    QByteArray sent;      // what reached the far end
    qint64 steadyKiB = -1;

    Flood() {
        f->show();
        // Each repeat tick that went out is owed to the line too; this runs
        // after the window's own handler of the tick.
        QObject::connect(&f->Timer1, &QTimer::timeout, [this] { expected += f->LastCommand().toLatin1(); });
        clock.start();
    }

    // Writes what the line rate allows since the start, in random splits,
    // then lets the program run.
    void pump() {
        const auto due = qint64(double(clock.elapsed()) * kBytesPerMs);
        while (written < due) {
            QByteArray chunk(qMin<qint64>(due - written, 1 + random.bounded(64)), Qt::Uninitialized);
            for (char &c : chunk)
                c = char(random.bounded(256));
            f.com1.write(chunk);
            written += chunk.size();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        sent += f.com1.readAvailable();
        QVERIFY(f->RxBuffer().size() <= kReceivedLimit);
        for (const window::MonitorLine *line : {f->Label11, f->Label12, f->Label22})
            QVERIFY(line->text().size() <= kLongestTrace);
        if (steadyKiB < 0 && f->RxBuffer().size() == kReceivedLimit)
            steadyKiB = residentKiB();  // the buffer has reached its limit
        QTest::qSleep(5);
    }

    void runFor(qint64 ms, const std::function<void(qint64 at)> &step = {}) {
        const qint64 end = clock.elapsed() + ms;
        while (clock.elapsed() < end) {
            if (step)
                step(clock.elapsed());
            pump();
            if (QTest::currentTestFailed())
                return;
        }
    }

    void click(const char *name) {
        qobject_cast<QAbstractButton *>(f->control(name))->click();
        expected += f->LastCommand().toLatin1();
    }
};

qint64 phaseMs() {
    const int seconds = qEnvironmentVariableIntValue("MV70_FLOOD_SECONDS");
    return 1000 * qint64(seconds > 0 ? seconds : 20);
}

}  // namespace

class TestFlood : public QObject {
    Q_OBJECT

private slots:
    void randomBytesAtLineRateWhileTheOperatorWorks();
};

void TestFlood::randomBytesAtLineRateWhileTheOperatorWorks() {
    Flood flood;
    auto &f = flood.f;

    // No command outstanding: the buffer fills to its limit and stays there.
    flood.runFor(phaseMs());
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!f->Timer2.isActive());
    QCOMPARE(f->RxBuffer().size(), kReceivedLimit);

    // The operator at work: a query every 300 ms, and "+" of VOL held for
    // two seconds out of every five.
    QWidget *volumeUp = f->control("Command1");
    bool held = false;
    qint64 nextQuery = 0;
    flood.runFor(phaseMs(), [&](qint64 at) {
        const bool hold = at % 5000 < 2000;
        if (hold != held) {
            held = hold;
            if (hold) {
                QTest::mousePress(volumeUp, Qt::LeftButton);
                flood.expected += f->LastCommand().toLatin1();
            } else {
                QTest::mouseRelease(volumeUp, Qt::LeftButton);
            }
        } else if (!held && at >= nextQuery) {
            flood.click("Command44");  // STATUS
            nextQuery = at + 300;
        }
    });
    if (held)
        QTest::mouseRelease(volumeUp, Qt::LeftButton);
    if (QTest::currentTestFailed())
        return;
    const qsizetype volumeCommands = flood.expected.count("C09\r");

    // Every command reached the line whole and in order, and nothing else.
    flood.sent += f.sendMarkerAndRead(f.com1);
    flood.expected += "MARK\r";
    QCOMPARE(flood.sent.size(), flood.expected.size());
    QVERIFY(flood.sent == flood.expected);
    QVERIFY2(volumeCommands > 3, "the held button repeated while the line was flooded");
    QVERIFY(flood.expected.count("CR0\r") > 3);

    const qint64 endKiB = residentKiB();
    qInfo(
        "%lld bytes from the line in %lld ms; %lld bytes of commands reached the far end; resident %lld KiB when the buffer "
        "filled, %lld KiB at the end, peak %lld KiB",
        flood.written, flood.clock.elapsed(), qint64(flood.sent.size()), flood.steadyKiB, endKiB,
        residentKiB("VmHWM:"));
    if (underAddressSanitizer())
        return;  // its quarantine holds freed memory back on purpose
    QVERIFY(flood.steadyKiB > 0);
    QVERIFY2(endKiB - flood.steadyKiB < 16 * 1024, "resident memory kept growing");
}

QTEST_MAIN(TestFlood)
#include "test_flood.moc"
