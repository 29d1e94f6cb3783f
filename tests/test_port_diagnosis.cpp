// SPDX-License-Identifier: GPL-3.0-or-later
// Why a port will not open, told through the window; the listing of the
// serial devices; and the command line that chooses them.

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "form_fixture.h"
#include "serial/port_diagnosis.h"
#include "serial/port_listing.h"

using namespace mv70;

namespace {

QString lockFileOf(const QString &device) {
    return QStringLiteral("/var/lock/LCK..") + device.mid(5).replace(u'/', u'_');
}

}  // namespace

class TestPortDiagnosis : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    void heldDeviceNamesItsHolder_data();
    void heldDeviceNamesItsHolder();
    void missingDeviceListsWhatIsPresent();
    void noSerialPortIsSaidSo_data();
    void noSerialPortIsSaidSo();
    void legacyNameWithoutHardware();
    void listingFollowsStableNames();
    void commandLine();
};

// A device another process holds, given to the panel under the name the
// holder used or under another name that leads to the same device.
void TestPortDiagnosis::heldDeviceNamesItsHolder_data() {
    QTest::addColumn<bool>("secondCopy");  // else a plain process and a lock file
    QTest::addColumn<bool>("viaSymlink");
    QTest::newRow("second copy, same name") << true << false;
    QTest::newRow("second copy, by a symlink") << true << true;
    QTest::newRow("process with a lock file") << false << false;
    QTest::newRow("process with a lock file, by a symlink") << false << true;
}

void TestPortDiagnosis::heldDeviceNamesItsHolder() {
    QFETCH(bool, secondCopy);
    QFETCH(bool, viaSymlink);
    PtyPeer line;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyLink"));
    QVERIFY(QFile::link(line.path(), link));

    QProcess holder;
    QString expected;
    std::unique_ptr<FormOnPty> first;
    if (secondCopy) {
        // This process is the first copy, holding the device by its own name.
        qputenv("MV70_COM1", line.path().toLocal8Bit());
        first = std::make_unique<FormOnPty>(false);
        qputenv("MV70_COM1", line.path().toLocal8Bit());
        first->form->Form_Load();
        QVERIFY(first->form->MSComm1.PortOpen());
        expected = QStringLiteral("%1 (process %2)").arg(QCoreApplication::applicationName()).arg(::getpid());
    } else {
        // A program with the device open, and its lock file as serial
        // programs write it: the process number alone, ten columns wide.
        holder.setStandardInputFile(line.path());
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted());
        QFile lock(lockFileOf(line.path()));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
        lock.close();
        expected = QStringLiteral("sleep (process %1)").arg(holder.processId());
    }

    // The second copy of the program, in a process of its own, as root if
    // the tests run as root: neither the exclusive open nor the name given
    // lets it in.
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MV70_COM1"), viaSymlink ? link : line.path());
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(MV70_SECOND_COPY), {});
    QVERIFY(second.waitForFinished(30000));
    const QString told = QString::fromLocal8Bit(second.readAll());
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(told.contains("is in use by another program: " + expected) && told.contains("port closed"),
             qPrintable(told));
    if (viaSymlink)
        QVERIFY2(told.contains(QStringLiteral("%1 (%2)").arg(link, line.path())), qPrintable(told));

    if (first) {
        QVERIFY(first->form->MSComm1.PortOpen());  // undisturbed
        QCOMPARE(first->sendMarkerAndRead(line), QByteArray("MARK\r"));
    } else {
        holder.kill();
        holder.waitForFinished();
        QFile::remove(lockFileOf(line.path()));
    }
}

// Through the window: the start-up warning for a port that is not there
// says what is there and how to choose it.
void TestPortDiagnosis::missingDeviceListsWhatIsPresent() {
    FormOnPty f(false);
    qputenv("MV70_COM1", missingDevice());
    f->Form_Load();
    QTRY_COMPARE_WITH_TIMEOUT(f.warnings.size(), 1, 5000);
    const QString told = f.warnings.first();
    QVERIFY2(told.startsWith(QStringLiteral("COM1: no such device %1.\n").arg(QString::fromLatin1(missingDevice()))),
             qPrintable(told));
    const QList<serial::ListedPort> present = serial::listPorts();
    if (present.isEmpty()) {
        QVERIFY2(told.contains("No serial adapter is present"), qPrintable(told));
    } else {
        for (const serial::ListedPort &port : present)
            QVERIFY2(told.contains(port.bestName()), qPrintable(told));
        QVERIFY2(told.contains("mv70-control --com1 " + present.first().bestName()), qPrintable(told));
    }
    QVERIFY(!f->MSComm1.isWaitingForLine());  // a failure at start is no lost line
}

// A device that is no terminal is said to be none, not "in use" by every
// process that has /dev/null open; a name this machine cannot tell (a
// pseudo-terminal has no entry in /sys/dev/char) is left to the opening.
void TestPortDiagnosis::noSerialPortIsSaidSo_data() {
    QTest::addColumn<QString>("device");  // "link": a link to /dev/null
    QTest::addColumn<QString>("told");
    QTest::newRow("/dev/null") << u"/dev/null"_qs << u"COM1: /dev/null is not a serial port"_qs;
    QTest::newRow("a link to /dev/null") << u"link"_qs << u"(/dev/null) is not a serial port"_qs;
    QTest::newRow("a plain file") << u"file"_qs << u"is not a serial port"_qs;
}

void TestPortDiagnosis::noSerialPortIsSaidSo() {
    QFETCH(QString, device);
    QFETCH(QString, told);
    QTemporaryDir dir;
    if (device == u"link") {
        device = dir.filePath(u"ttyUSB0"_qs);
        QVERIFY(QFile::link(u"/dev/null"_qs, device));
    } else if (device == u"file") {
        device = dir.filePath(u"ttyUSB0"_qs);
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    FormOnPty f(false);
    qputenv("MV70_COM1", device.toLocal8Bit());
    f->Form_Load();
    QTRY_COMPARE_WITH_TIMEOUT(f.warnings.size(), 1, 5000);
    QVERIFY2(f.warnings.first().contains(told), qPrintable(f.warnings.first()));
    QVERIFY2(!f.warnings.first().contains(u"in use"_qs), qPrintable(f.warnings.first()));
    PtyPeer line;
    QVERIFY(!serial::isNotSerialPort(line.path()));
}

void TestPortDiagnosis::legacyNameWithoutHardware() {
    QTemporaryDir sys;
    for (const auto &[port, type] : {std::pair{"ttyS0", "4\n"}, std::pair{"ttyS1", "0\n"}}) {
        QVERIFY(QDir(sys.path()).mkdir(QString::fromLatin1(port)));
        QFile file(sys.filePath(QStringLiteral("%1/type").arg(QString::fromLatin1(port))));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(type);
    }
    QVERIFY(!serial::isPortWithoutHardware(QStringLiteral("/dev/ttyS0"), sys.path()));  // a 16550A
    QVERIFY(serial::isPortWithoutHardware(QStringLiteral("/dev/ttyS1"), sys.path()));
    QVERIFY(!serial::isPortWithoutHardware(QStringLiteral("/dev/ttyS2"), sys.path()));  // cannot be told
    QVERIFY(!serial::isPortWithoutHardware(QStringLiteral("/dev/ttyUSB0"), sys.path()));
}

// A pseudo-terminal behind a link named as udev names a USB adapter's.
void TestPortDiagnosis::listingFollowsStableNames() {
    PtyPeer line;
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    QVERIFY(QFile::link(line.path(), stable));
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/999999"), byId.filePath(QStringLiteral("usb-gone-if00-port0"))));

    const auto listed = [&] {
        for (const serial::ListedPort &port : serial::listPorts(byId.path()))
            if (port.device == line.path())
                return port;
        return serial::ListedPort{};
    };
    serial::ListedPort port = listed();
    QCOMPARE(port.device, line.path());
    QCOMPARE(port.stableNames, QStringList{stable});  // the dangling link is left out
    QVERIFY(port.holders.isEmpty());                  // this process itself does not count
    QCOMPARE(serial::describePort(port), QStringLiteral("%1 (%2)").arg(stable, line.path()));

    // Opened by its stable name, it is in use, found by the lock of the
    // device the name leads to.
    qputenv("MV70_COM1", stable.toLocal8Bit());
    serial::Port comm;
    QVERIFY(comm.open());
    port = listed();
    QCOMPARE(port.holders.size(), 1);
    QCOMPARE(port.holders.first().pid, qint64(::getpid()));
    QVERIFY(port.holders.first().byLockFile);
    const QString text = serial::formatListing({port});
    QVERIFY2(text.contains("stable name: " + stable) && text.contains("in use by"), qPrintable(text));
}

// The program itself: the options and their answers.
void TestPortDiagnosis::commandLine() {
    const auto run = [](const QStringList &arguments, const QByteArray &com1 = {}) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));  // these need no display
        if (!com1.isEmpty())
            environment.insert(QStringLiteral("MV70_COM1"), QString::fromLocal8Bit(com1));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(MV70_CONTROL), arguments);
        program.waitForFinished(30000);
        return std::pair{program.exitCode(),
                         QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError())};
    };
    auto [code, out] = run({QStringLiteral("--version")});
    QCOMPARE(code, 0);
    QCOMPARE(out, QStringLiteral("mv70-control " MV70_VERSION "\n"));
    std::tie(code, out) = run({QStringLiteral("--help")});
    QCOMPARE(code, 0);
    QVERIFY2(out.startsWith("Usage: mv70-control") && out.contains("--com1 <device>") && out.contains("--list-ports"),
             qPrintable(out));
    std::tie(code, out) = run({QStringLiteral("--list-ports")});
    QCOMPARE(code, 0);
    const auto devices = [](const QString &listing) {
        QStringList lines = listing.split(u'\n');
        lines.removeIf([](const QString &line) { return line.isEmpty() || line.startsWith(u' '); });
        return lines;
    };
    QCOMPARE(devices(out), devices(serial::formatListing(serial::listPorts())));
    // Usage errors.
    for (const auto &[arguments, said] :
         {std::pair{QStringList{u"--com3"_qs, u"x"_qs}, u"Unknown option 'com3'"_qs},
          std::pair{QStringList{u"--list-ports"_qs, u"extra"_qs}, u"Unexpected argument: extra"_qs}}) {
        std::tie(code, out) = run(arguments);
        QVERIFY2(code == 1 && out.contains(said), qPrintable(arguments.join(u' ') + u": "_qs + out));
    }
    // The toolkit's own options may still come with it.
    std::tie(code, out) = run({u"-platform"_qs, u"offscreen"_qs, u"--list-ports"_qs});
    QCOMPARE(code, 0);

    // --com1 wins over MV70_COM1: the option's device is the one set to 19200.
    PtyPeer fromOption;
    PtyPeer fromVariable;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MV70_COM1"), fromVariable.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MV70_CONTROL), {QStringLiteral("--com1"), fromOption.path()});
    QTRY_COMPARE_WITH_TIMEOUT(fromOption.baudRate(), 19200, 20000);
    QVERIFY(fromVariable.baudRate() != 19200);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
}

QTEST_MAIN(TestPortDiagnosis)
#include "test_port_diagnosis.moc"
