// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-sim as a process: what it prints, its symlink, its options, and the
// knobs as a plain serial client on the line sees them.

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include "pty/raw_pty.h"
#include "sim_process.h"

namespace {

// The panel's end of the line, opened raw as a serial program opens it.
class RawLine {
public:
    explicit RawLine(const QString &path) : fd_(mv70::pty::openRawDevice(path.toLocal8Bit().toStdString(), 19200)) {}
    ~RawLine() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    bool write(const QByteArray &bytes) {
        return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Everything that arrives until `until` is in, or the time is up.
    QByteArray read(int timeoutMs, const QByteArray &until = {}) {
        QByteArray bytes;
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && (until.isEmpty() || !bytes.contains(until))) {
            pollfd fd{fd_, POLLIN, 0};
            if (::poll(&fd, 1, int(qMax<qint64>(1, qMin<qint64>(20, deadline.remainingTime())))) > 0) {
                char buffer[256];
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n > 0)
                    bytes.append(buffer, n);
            }
        }
        return bytes;
    }

private:
    int fd_ = -1;
};

}  // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void printsItsDeviceAndKeepsALinkWhileItRuns();
    void leavesOtherFilesAlone();
    void wrongOptionsAreRefused_data();
    void wrongOptionsAreRefused();
    void delayHoldsEachReply();
    void noiseComesOnlyBetweenReplies();
};

void TestSim::printsItsDeviceAndKeepsALinkWhileItRuns() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyMV70"));
    QFile::link(QStringLiteral("/nonexistent"), link);  // an old link is replaced
    {
        SimProcess sim({QStringLiteral("--link"), link});
        QVERIFY(sim.path().startsWith(u"/dev/pts/"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        RawLine line(link);
        QVERIFY(line.isOpen());
        QVERIFY(line.write("CR0\r"));
        QCOMPARE(line.read(5000, "\r"), QByteArray("80\r"));
        QCOMPARE(sim.stop(), 0);
    }
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::leavesOtherFilesAlone() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    SimProcess sim({QStringLiteral("--link"), path});
    QCOMPARE(sim.stop(), 1);
    QVERIFY(sim.path().isEmpty());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
}

void TestSim::wrongOptionsAreRefused_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("speed") << QStringList{"--baud", "4800"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-1"};
    QTest::newRow("not a number") << QStringList{"--countdown", "3s"};
    QTest::newRow("reversal") << QStringList{"--reversal", "12"};
    QTest::newRow("lamp mode") << QStringList{"--lamp-mode", "three"};
    QTest::newRow("stray argument") << QStringList{"now"};
}

void TestSim::wrongOptionsAreRefused() {
    QFETCH(QStringList, options);
    SimProcess sim(options);
    QCOMPARE(sim.stop(), 2);
    QVERIFY(sim.path().isEmpty());
    QVERIFY(sim.log().contains("mv70-sim: "));
}

void TestSim::delayHoldsEachReply() {
    SimProcess sim({QStringLiteral("--delay"), QStringLiteral("400")});
    RawLine line(sim.path());
    QVERIFY(line.write("CR1\r"));
    QCOMPARE(line.read(150), QByteArray());  // a slow machine only makes the reply later
    QCOMPARE(line.read(5000, "\r"), QByteArray("1\r"));
}

void TestSim::noiseComesOnlyBetweenReplies() {
    SimProcess sim({QStringLiteral("--noise"), QStringLiteral("--noise-period"), QStringLiteral("5"),
                    QStringLiteral("--split"), QStringLiteral("1"), QStringLiteral("--gap"), QStringLiteral("20"),
                    QStringLiteral("--seed"), QStringLiteral("7")});
    RawLine line(sim.path());
    QVERIFY(!line.read(200).isEmpty());  // noise with nobody asking
    // Each reply goes out in pieces with gaps far longer than the noise
    // period, and still arrives whole: no noise falls between its pieces.
    for (const QByteArray &query : {QByteArray("CR PRESSURE\r"), QByteArray("CR3\r"), QByteArray("CR9\r")}) {
        QVERIFY(line.write(query));
        const QByteArray reply = query == "CR PRESSURE\r" ? "853\r" : query == "CR3\r" ? "1234\r" : "MV70 SIMULATOR\r";
        const QByteArray stream = line.read(10000, reply);
        QVERIFY2(stream.contains(reply), stream.toPercentEncoding().constData());
    }
}

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
