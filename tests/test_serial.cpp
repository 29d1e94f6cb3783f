// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component over real pseudo-terminals.

#include <QAbstractEventDispatcher>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pty_peer.h"
#include "serial/port.h"
#include "settings_cases.h"

using mv70::serial::LineFailure;
using mv70::serial::Port;

class TestSerial : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    void malformedSettingsAreRefused_data() { addMalformedSettingsRows(); }
    void malformedSettingsAreRefused();
    void deviceFromEnvironmentOrPlatform();
    void outputIsOneBytePerCharacter();
    void writesAndReadsEveryByte();
    void settingsApplyToAnOpenPort();
    void failuresCarryADescription();
    void secondOpenOfTheSameDeviceIsRefused();
    void hangUpClosesThePortOnce();
    void noPermissionNamesTheDialoutGroup();
};

void TestSerial::malformedSettingsAreRefused() {
    QFETCH(QString, text);
    QFETCH(QString, mentions);

    // The port refuses it and keeps what it had.
    Port comm;
    const QString before = comm.settings();
    const auto outcome = comm.setSettings(text);
    QVERIFY(!outcome);
    QVERIFY(outcome.description().contains(mentions));
    QCOMPARE(comm.settings(), before);
}

void TestSerial::deviceFromEnvironmentOrPlatform() {
    QCOMPARE(Port::devicePath(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(Port::devicePath(2), QStringLiteral("/dev/ttyS1"));
    qputenv("MV70_COM2", "/dev/ttyUSB0");
    QCOMPARE(Port::devicePath(2), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(Port::devicePath(1), QStringLiteral("/dev/ttyS0"));
    qputenv("MV70_COM1", "");  // set but empty: the platform's own
    QCOMPARE(Port::devicePath(1), QStringLiteral("/dev/ttyS0"));
}

void TestSerial::outputIsOneBytePerCharacter() {
    QCOMPARE(Port::encode(u"C00\r"), QByteArray("C00\r"));
    // Everything up to 0x7F goes as itself; everything beyond becomes "?".
    QString all;
    for (char16_t c = 0; c < 0x80; ++c)
        all += QChar(c);
    QByteArray expected;
    for (int c = 0; c < 0x80; ++c)
        expected += char(c);
    QCOMPARE(Port::encode(all), expected);
    QCOMPARE(Port::encode(QString::fromUtf8("é€ｱ")), QByteArray("???"));
    QCOMPARE(Port::encode(QString::fromUtf8("\xF0\x9F\x98\x80")), QByteArray("??"));  // two UTF-16 units
    // Input keeps every byte as the character of the same code.
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    const QString text = Port::decode(bytes);
    QCOMPARE(text.size(), 256);
    for (int b = 0; b < 256; ++b)
        QCOMPARE(text[b].unicode(), char16_t(b));
}

void TestSerial::writesAndReadsEveryByte() {
    PtyPeer peer;
    qputenv("MV70_COM1", peer.path().toLocal8Bit());
    Port comm;
    QVERIFY(comm.setSettings(QStringLiteral("19200,N,8,1")));
    QVERIFY(comm.open());
    QVERIFY(comm.isOpen());

    QVERIFY(comm.write(u"C00\r"));
    QCOMPARE(peer.read(4), QByteArray("C00\r"));
    QVERIFY(comm.write(u""));  // nothing to write is no failure

    QSignalSpy events(&comm, &Port::received);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    peer.write(all);
    QString received;
    QTRY_VERIFY_WITH_TIMEOUT((received += comm.readAll(), received.size() == 256), 5000);
    QVERIFY(!events.isEmpty());
    QCOMPARE(received, Port::decode(all));
    QCOMPARE(comm.readAll(), QString());  // taken, so gone

    QVERIFY(comm.close());
    QVERIFY(comm.close());  // closing a closed port is accepted
    QVERIFY(!comm.isOpen());
}

void TestSerial::settingsApplyToAnOpenPort() {
    PtyPeer peer;
    qputenv("MV70_COM1", peer.path().toLocal8Bit());
    Port comm;
    QVERIFY(comm.setSettings(QStringLiteral("19200,N,8,1")));
    QVERIFY(comm.open());
    QCOMPARE(peer.baudRate(), 19200);
    QVERIFY(comm.setSettings(QStringLiteral("9600,N,8,1")));
    QCOMPARE(peer.baudRate(), 9600);  // at once, without closing
    QVERIFY(comm.isOpen());
}

void TestSerial::failuresCarryADescription() {
    qputenv("MV70_COM1", "/nonexistent/mv70-no-such-tty");
    Port comm;
    auto outcome = comm.open();
    QVERIFY(!outcome);
    QVERIFY2(outcome.description().contains("/nonexistent/mv70-no-such-tty"), qPrintable(outcome.description()));
    QVERIFY(outcome.description().contains("no such device"));

    outcome = comm.write(u"C00\r");  // not open
    QVERIFY(!outcome);
    QVERIFY(outcome.description().contains("not open"));

    QVERIFY(!comm.setPortNumber(0));
    QVERIFY(!comm.setPortNumber(17));
    QCOMPARE(comm.portNumber(), 1);

    PtyPeer peer;
    qputenv("MV70_COM2", peer.path().toLocal8Bit());
    QVERIFY(comm.setPortNumber(2));
    QVERIFY(comm.open());
    outcome = comm.setPortNumber(1);  // only while closed
    QVERIFY(!outcome);
    QVERIFY(outcome.description().contains("already open"));
    QCOMPARE(comm.portNumber(), 2);
    QVERIFY(!comm.open());  // opening twice
    QVERIFY(comm.isOpen());
}

void TestSerial::secondOpenOfTheSameDeviceIsRefused() {
    PtyPeer peer;
    qputenv("MV70_COM1", peer.path().toLocal8Bit());
    Port first;
    QVERIFY(first.open());
    Port second;
    const auto outcome = second.open();
    QVERIFY(!outcome);
    QVERIFY2(outcome.description().contains("in use"), qPrintable(outcome.description()));
    // The first is not disturbed.
    QVERIFY(first.isOpen());
    QVERIFY(first.write(u"C01\r"));
    QCOMPARE(peer.read(4), QByteArray("C01\r"));
}

namespace {

// Wake-ups of the event loop while it runs for `ms` with nothing of its own
// to do. An idle loop sleeps until its one timer; a loop fed by a storm of
// notifications wakes thousands of times.
int wakeUpsWhileIdle(int ms) {
    int wakeUps = 0;
    auto *dispatcher = QAbstractEventDispatcher::instance();
    const auto counter = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(counter);
    return wakeUps;
}

}  // namespace

// The far end goes away while the port is open. Qt reports that as a storm
// of errors on every pass of the loop unless the port is closed at once.
void TestSerial::hangUpClosesThePortOnce() {
    auto peer = std::make_unique<PtyPeer>();
    qputenv("MV70_COM1", peer->path().toLocal8Bit());
    Port comm;
    QVERIFY(comm.open());
    auto *port = comm.findChild<QSerialPort *>();  // inside the line
    QVERIFY(port);
    QSignalSpy errors(port, &QSerialPort::errorOccurred);
    QSignalSpy lost(&comm, &Port::lineLost);
    QSignalSpy received(&comm, &Port::received);
    peer->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!comm.isOpen(), 5000);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.first().first().value<LineFailure>().cause, LineFailure::Cause::DeviceGone);
    const qsizetype errorsAtLoss = errors.size();

    // Nothing is left that could report again, and nothing reports again.
    for (const QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>())
        QVERIFY(!notifier->isEnabled());
    const int wakeUps = wakeUpsWhileIdle(300);
    QVERIFY2(wakeUps < 50, qPrintable(QStringLiteral("%1 wake-ups in 300 ms").arg(wakeUps)));
    QCOMPARE(errors.size(), errorsAtLoss);
    qsizetype fatal = 0;
    for (const QList<QVariant> &error : errors)
        fatal += error.first().value<QSerialPort::SerialPortError>() != QSerialPort::NoError;
    QCOMPARE(fatal, 1);  // the first fatal report was the last
    QCOMPARE(lost.size(), 1);
    QVERIFY(received.isEmpty());
    QCOMPARE(comm.readAll(), QString());

    // A new opening on a device that is there again works as before.
    PtyPeer replacement;
    qputenv("MV70_COM1", replacement.path().toLocal8Bit());
    QVERIFY(comm.open());
    QVERIFY(comm.write(u"C00\r"));
    QCOMPARE(replacement.read(4), QByteArray("C00\r"));
}

void TestSerial::noPermissionNamesTheDialoutGroup() {
    if (::geteuid() == 0) {
        // Root opens any device, so the case is made as an ordinary user: this
        // very test, run again as "nobody".
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root and setpriv is missing: cannot try as an ordinary user");
        // A device of the dialout group, as a USB adapter is on Debian.
        const group *dialout = ::getgrnam("dialout");
        if (!dialout)
            QSKIP("no dialout group here");
        QTemporaryDir dir;
        QFile device(dir.filePath(QStringLiteral("ttyUSB0")));
        QVERIFY(device.open(QIODevice::WriteOnly));
        device.close();
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        QVERIFY(::chown(QFile::encodeName(device.fileName()).constData(), 0, dialout->gr_gid) == 0);
        QVERIFY(::chmod(QFile::encodeName(device.fileName()).constData(), 0660) == 0);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MV70_COM1"), device.fileName());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(setpriv,
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                     QCoreApplication::applicationFilePath(), QString::fromLatin1(QTest::currentTestFunction())});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        if (output.startsWith("setpriv:"))
            QSKIP(qPrintable(QStringLiteral("cannot change to an ordinary user here: ")
                             + QString::fromLocal8Bit(output)));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        return;
    }
    if (const QByteArray given = qgetenv("MV70_COM1"); !given.isEmpty()) {
        // Made by the root half of this test; we are "nobody" now.
        Port comm;
        const auto outcome = comm.open();
        QVERIFY(!outcome);
        QVERIFY(outcome.lineFailure());
        QCOMPARE(outcome.lineFailure()->cause, LineFailure::Cause::NoPermission);
        QCOMPARE(outcome.lineFailure()->device, QString::fromLocal8Bit(given));
        const LineFailure diagnosed = mv70::serial::diagnose(*outcome.lineFailure());
        QCOMPARE(diagnosed.access.kind, mv70::serial::GroupAccess::Kind::NotMember);
        QCOMPARE(diagnosed.access.group, QStringLiteral("dialout"));
        QCOMPARE(diagnosed.access.user, QStringLiteral("nobody"));
        return;
    }
    // A device its owner may neither read nor write.
    QTemporaryDir dir;
    QFile device(dir.filePath(QStringLiteral("ttyS0")));
    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();
    QVERIFY(device.setPermissions({}));
    qputenv("MV70_COM1", device.fileName().toLocal8Bit());
    Port comm;
    const auto outcome = comm.open();
    QVERIFY(!outcome);
    QVERIFY(outcome.lineFailure());
    QCOMPARE(outcome.lineFailure()->cause, LineFailure::Cause::NoPermission);
    QCOMPARE(mv70::serial::diagnose(*outcome.lineFailure()).access.kind, mv70::serial::GroupAccess::Kind::OwnerOnly);
}

QTEST_GUILESS_MAIN(TestSerial)
#include "test_serial.moc"
