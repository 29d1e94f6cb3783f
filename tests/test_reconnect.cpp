// SPDX-License-Identifier: GPL-3.0-or-later
// A lost line comes back by itself: the window against the simulated
// projector behind a stable link, which goes away and comes back; and what
// the operator may do while the panel waits.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "form_fixture.h"
#include "sim_process.h"

using namespace mv70;

namespace {

void click(FormOnPty &f, const char *name) { QTest::mouseClick(f->control(name), Qt::LeftButton); }

int openFiles() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

}  // namespace

class TestReconnect : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    void simulatorGoesAndComesBack();
    void operatorEndsTheWait_data();
    void operatorEndsTheWait();
    void lineStateOutlastsTheDisplayHold_data();
    void lineStateOutlastsTheDisplayHold();
    void deviceBackButHeldIsTriedAgain();
    void lineFailingOnceBackIsTriedLessOften();
};

// The simulator ends (the line is lost) and a new one appears behind the
// same link, twenty times and more. The operator set 9600 beforehand: the
// simulator answers only at the speed it runs at, so every answer proves the
// settings came back with the port.
void TestReconnect::simulatorGoesAndComesBack() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("usb-MV70_Simulator-if00-port0"));
    const QStringList simOptions{QStringLiteral("--link"), link, QStringLiteral("--baud"), QStringLiteral("9600")};
    auto sim = std::make_unique<SimProcess>(simOptions);
    QVERIFY(!sim->path().isEmpty());

    FormOnPty f(false);
    qputenv("MV70_COM1", link.toLocal8Bit());
    f->Form_Load();
    f->show();
    QVERIFY(f->MSComm1.PortOpen());
    f->Command33_Click();
    click(f, "Option10");  // 9600
    QStringList statusOnReceive;
    connect(&f->MSComm1, &window::MSComm::OnComm, [&] { statusOnReceive << f->Label22->text(); });
    const auto askStatus = [&] {
        statusOnReceive.clear();
        click(f, "Command44");
        return QTest::qWaitFor([&] { return statusOnReceive.contains(QStringLiteral(" Stand by")); }, 5000);
    };
    QVERIFY(askStatus());
    QSignalSpy lost(&f->MSComm1, &window::MSComm::lineLost);
    QSignalSpy restored(&f->MSComm1, &window::MSComm::lineRestored);

    constexpr int kLosses = 21;  // the first one settles what a loss may cost once
    int filesAfterFirst = 0;
    qint64 residentAfterFirst = 0;
    for (int loss = 1; loss <= kLosses; ++loss) {
        lost.clear();
        restored.clear();
        QCOMPARE(sim->stop(), 0);
        sim.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
        QVERIFY(!f->MSComm1.PortOpen());
        QVERIFY(f->MSComm1.isWaitingForLine());
        QCOMPARE(
            f->Label22->text(),
            QStringLiteral(" COM1 (%1) disconnected: the device is gone. Waiting for it to come back...").arg(link));
        // A press while it is gone is told and not kept for later.
        click(f, "Command44");
        QVERIFY2(f->Label22->text().startsWith(" Port not open"), qPrintable(f->Label22->text()));

        // A probe while nothing is there opens nothing.
        f->MSComm1.reconnectWatch().tick();
        QVERIFY(!f->MSComm1.PortOpen());

        sim = std::make_unique<SimProcess>(simOptions);
        QVERIFY(!sim->path().isEmpty());
        const int probesBefore = f->MSComm1.reconnectWatch().attempts();
        if (loss == 1) {
            // Left to the watch's own timer: the first probe after the
            // device is back opens it, and probes come once a second.
            QElapsedTimer back;
            back.start();
            QTRY_VERIFY_WITH_TIMEOUT(f->MSComm1.PortOpen(), 5000);
            qInfo("reopened %lld ms after the simulator was back", static_cast<long long>(back.elapsed()));
            QCOMPARE(f->MSComm1.reconnectWatch().attempts(), probesBefore + 1);
        } else {
            f->MSComm1.reconnectWatch().tick();
            QVERIFY(f->MSComm1.PortOpen());
        }
        QVERIFY(!f->MSComm1.isWaitingForLine());
        QCOMPARE(restored.size(), 1);
        QCOMPARE(f->Label22->text(), QStringLiteral(" COM1 (%1) is back").arg(link));
        QCOMPARE(lost.size(), 1);  // told once
        QCOMPARE(f->MSComm1.Settings(), QStringLiteral("9600,N,8,1"));
        QVERIFY(askStatus());
        QCOMPARE(sim->received("CR0"), 1);  // the press while it was gone never went out
        QVERIFY(f.warnings.isEmpty());

        if (loss == 1) {
            filesAfterFirst = openFiles();
            residentAfterFirst = residentKiB();
        }
    }
    QCOMPARE(openFiles(), filesAfterFirst);
    const qint64 grown = residentKiB() - residentAfterFirst;
    qInfo("resident memory after the first loss %lld KiB, %lld KiB more after %d more",
          static_cast<long long>(residentAfterFirst), static_cast<long long>(grown), kLosses - 1);
#if !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(grown < 2048, qPrintable(QString::number(grown)));
#endif
}

// While the panel waits, the operator's own actions behave as before, and
// the wait is over.
void TestReconnect::operatorEndsTheWait_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<int>("warnings");
    QTest::newRow("COM1 chosen: fails, warns, no new wait") << "Option1" << false << 1;
    QTest::newRow("COM2 chosen: opens it") << "Option2" << true << 0;
    QTest::newRow("END") << "Command16" << false << 0;
    QTest::newRow("window closed") << "close" << false << 0;
}

void TestReconnect::operatorEndsTheWait() {
    QFETCH(QString, action);
    QFETCH(bool, openAfter);
    QFETCH(int, warnings);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    FormOnPty f(false);
    QVERIFY(QFile::link(f.com1.path(), link));
    qputenv("MV70_COM1", link.toLocal8Bit());
    f->Form_Load();
    f->show();
    QSignalSpy restored(&f->MSComm1, &window::MSComm::lineRestored);
    f.com1.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(f->MSComm1.isWaitingForLine(), 5000);

    if (action == u"close") {
        f->close();
    } else {
        f->Command33_Click();
        click(f, action.toLatin1().constData());
    }
    QVERIFY(!f->MSComm1.isWaitingForLine());
    QCOMPARE(f->MSComm1.PortOpen(), openAfter);
    QTRY_COMPARE_WITH_TIMEOUT(f.warnings.size(), warnings, 5000);

    // Even with COM1 back behind its name, nothing reopens it now.
    PtyPeer replacement;
    QVERIFY(QFile::remove(link) && QFile::link(replacement.path(), link));
    f->MSComm1.reconnectWatch().tick();
    QCOMPARE(f->MSComm1.PortOpen(), openAfter);
    QCOMPARE(restored.size(), 0);
}

// A command, then the line goes within its display hold: the hold's end
// blanks the traces but leaves what the line is doing on the STATUS line;
// the next command changes it.
void TestReconnect::lineStateOutlastsTheDisplayHold_data() {
    QTest::addColumn<bool>("comesBack");
    QTest::newRow("lost, waited for") << false;
    QTest::newRow("back") << true;
}

void TestReconnect::lineStateOutlastsTheDisplayHold() {
    QFETCH(bool, comesBack);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    FormOnPty f(false);
    QVERIFY(QFile::link(f.com1.path(), link));
    qputenv("MV70_COM1", link.toLocal8Bit());
    f->Form_Load();
    f->show();
    f->Timer4.setInterval(60000);  // the hold ends when the test ends it
    click(f, "Command44");
    QCOMPARE(f.com1.read(4), QByteArray("CR0\r"));
    f.com1.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(f->MSComm1.isWaitingForLine(), 5000);
    PtyPeer back;
    if (comesBack) {
        QVERIFY(QFile::remove(link) && QFile::link(back.path(), link));
        f->MSComm1.reconnectWatch().tick();
        QVERIFY(f->MSComm1.PortOpen());
    }
    const QString told = f->Label22->text();
    QVERIFY2(told.contains(comesBack ? "is back" : "disconnected"), qPrintable(told));

    QVERIFY(f->Timer4.isActive());  // the query's hold is still running
    f->Timer4_Timer();
    QCOMPARE(f->Label11->text(), QString());
    QCOMPARE(f->Label12->text(), QString());
    QCOMPARE(f->Label22->text(), told);

    click(f, "Command44");
    if (comesBack) {
        QCOMPARE(back.read(4), QByteArray("CR0\r"));
        QCOMPARE(f->Label22->text(), told);  // until this command's hold ends
        f->Timer4_Timer();
        QCOMPARE(f->Label22->text(), QString());
    } else {
        QVERIFY2(f->Label22->text().startsWith(" Port not open"), qPrintable(f->Label22->text()));
    }
}

// The device is back, but another program took it first (as ModemManager
// does with a freshly plugged adapter): the operator is told who, once, and
// the panel keeps trying.
void TestReconnect::deviceBackButHeldIsTriedAgain() {
    // The port is a link, as /dev/serial/by-id gives, and the device comes
    // back behind it as another pseudo-terminal: a freed pty number may be
    // taken by another test process before this one asks for a new one.
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyBack"));
    auto gone = std::make_unique<PtyPeer>();
    QVERIFY(QFile::link(gone->path(), link));
    FormOnPty f(false);
    qputenv("MV70_COM1", link.toLocal8Bit());
    f->Form_Load();
    f->show();
    QVERIFY(f->MSComm1.PortOpen());
    QSignalSpy stillAway(&f->MSComm1, &window::MSComm::lineStillAway);
    gone->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(f->MSComm1.isWaitingForLine(), 5000);

    PtyPeer back;
    QVERIFY(QFile::remove(link) && QFile::link(back.path(), link));
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    // The holder locks the name it was given, as serial programs do.
    QFile lock(QStringLiteral("/var/lock/LCK..") + QString(link).replace(u'/', u'_'));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
    lock.close();
    for (int probe = 0; probe < 3; ++probe)
        f->MSComm1.reconnectWatch().tick();
    QCOMPARE(stillAway.size(), 0);  // who holds it is looked up off the probe's path
    QVERIFY(!f->MSComm1.PortOpen());
    QVERIFY(f->MSComm1.isWaitingForLine());
    QTRY_COMPARE_WITH_TIMEOUT(stillAway.size(), 1, 5000);  // once its facts are looked up
    QCOMPARE(
        f->Label22->text(),
        QStringLiteral(" COM1: %1 (%2) is in use by another program: sleep (process %3). Trying again every second...")
            .arg(link, back.path())
            .arg(holder.processId()));
    f->Timer4_Timer();  // a display hold ending now leaves it standing
    QVERIFY(f->Label22->text().contains("in use by another program"));

    holder.kill();
    holder.waitForFinished();  // its lock is stale now
    f->MSComm1.reconnectWatch().tick();
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->Label22->text(), QStringLiteral(" COM1 (%1) is back").arg(link));
    QCOMPARE(f.sendMarkerAndRead(back), QByteArray("MARK\r"));
    f.form.reset();
    lock.remove();  // should the stale one have been left behind
}

// A device that is back but fails as soon as it is opened, again and again:
// each loss after a short return doubles the wait before the next look, up
// to 30 s; once the line has stayed up, a loss is looked at after a second
// again.
void TestReconnect::lineFailingOnceBackIsTriedLessOften() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("usb-adapter"));
    auto peer = std::make_unique<PtyPeer>();
    QVERIFY(QFile::link(peer->path(), link));
    FormOnPty f(false);
    qputenv("MV70_COM1", link.toLocal8Bit());
    f->Form_Load();
    QVERIFY(f->MSComm1.PortOpen());
    serial::ReconnectWatch &watch = f->MSComm1.reconnectWatch();
    const auto loseAndBringBack = [&] {
        peer->hangUp();
        if (!QTest::qWaitFor([&] { return f->MSComm1.isWaitingForLine(); }, 5000))
            return -2;
        const int interval = watch.intervalMs();
        peer = std::make_unique<PtyPeer>();
        QFile::remove(link);
        QFile::link(peer->path(), link);
        watch.tick();
        return f->MSComm1.PortOpen() ? interval : -1;
    };
    QList<int> intervals;
    for (int loss = 0; loss < 7; ++loss)
        intervals << loseAndBringBack();
    QCOMPARE(intervals, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    QCOMPARE(f->Label22->text(), QStringLiteral(" COM1 (%1) is back").arg(link));

    watch.settle();  // what its timer does once the line has stayed up
    QCOMPARE(loseAndBringBack(), 1000);
}

QTEST_MAIN(TestReconnect)
#include "test_reconnect.moc"
