// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange log: a panel session and an mv70-ctl session written and
// parsed back; a log that cannot be written stops neither program; a log
// whose file does not keep up never holds the caller up; and the programs
// themselves end whatever the FIFO's reader or the disk does.

#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl/run.h"
#include "form_fixture.h"
#include "logic/exchange_log.h"
#include "pty_peer.h"
#include "sim_process.h"

using namespace mv70;

namespace {

struct LogLine {
    QDateTime time;
    QString port, device, direction, trace, reading;
};

QList<LogLine> readLog(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<LogLine> lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        if (raw.isEmpty())
            continue;
        const QStringList fields = QString::fromUtf8(raw).split(u'\t');
        if (fields.size() != 6)
            return {};
        lines.append({QDateTime::fromString(fields[0], Qt::ISODateWithMs), fields[1], fields[2], fields[3], fields[4],
                      fields[5]});
    }
    return lines;
}

int runCtl(const QStringList &arguments, QString *err = nullptr) {
    QString out, errors;
    QTextStream outStream(&out), errStream(&errors);
    const int status = ctl::runCommandLine(arguments, outStream, errStream);
    if (err)
        *err = errors;
    return status;
}

// Whether process `pid` has `path` open.
bool holdsOpen(qint64 pid, const QString &path) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == path)
            return true;
    return false;
}

// Qt SerialPort's lock file of a device, in the first folder it may write to.
bool lockFileExists(const QString &device) {
    const QString name = device.mid(5).replace(u'/', u'_');  // without /dev/
    for (const char *folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                               "/var/tmp", "/var/lib/lock"})
        if (QFileInfo::exists(QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name))
            return true;
    return false;
}

// What the FIFO's reader does: goes away once the program has the FIFO
// open, never comes, or comes and never reads while the pipe is full.
enum class Reader { GoesAway, NeverComes, NeverReads };

class Fifo {
public:
    Fifo(const QString &path, Reader reader) : path_(path) {
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
        if (reader == Reader::GoesAway)
            fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader == Reader::NeverReads) {
            fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            const QByteArray filler(4096, 'x');
            while (::write(fd_, filler.constData(), filler.size()) > 0) {
            }
        }
    }
    ~Fifo() { closeReader(); }
    void closeReader() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    QString path_;
    int fd_ = -1;
};

}  // namespace

class TestExchangeLog : public QObject {
    Q_OBJECT

private slots:
    void panelAndToolSessionsParsedBack();
    void unwritableLogStopsNothing();
    void aStuckFileNeverHoldsTheCallerUp();
    void ctlEndsWhateverTheLogsReaderDoes_data();
    void ctlEndsWhateverTheLogsReaderDoes();
    void panelEndsWhateverTheLogsReaderDoes_data();
    void panelEndsWhateverTheLogsReaderDoes();
    void writeErrorsInTheSystemsWordsAndWholeLinesOnly();
};

void TestExchangeLog::panelAndToolSessionsParsedBack() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"exchanges.log"_qs);
    const QDateTime start = QDateTime::currentDateTime().addMSecs(-1);
    {
        qputenv("MV70_LOG", path.toLocal8Bit());
        FormOnPty f;
        qunsetenv("MV70_LOG");
        QVERIFY(f->exchangeLog());
        qobject_cast<QPushButton *>(f->control("Command44"))->click();  // STATUS
        QCOMPARE(f.com1.read(4), QByteArray("CR0\r"));
        f.com1.write("8");
        QTRY_COMPARE(f->RxBuffer(), u"8"_qs);
        f.com1.write("0\r");
        QTRY_COMPARE(f->Label22->text(), u" Stand by"_qs);
    }  // the window goes, and its log is written out
    SimProcess sim;
    QCOMPARE(runCtl({u"--log"_qs, path, u"--port"_qs, sim.path(), u"lamp-time"_qs}), 0);

    const QList<LogLine> lines = readLog(path);
    QCOMPARE(lines.size(), 5);
    const QString com1 = qEnvironmentVariable("MV70_COM1");
    struct Expected {
        const char16_t *direction, *trace, *reading;
    };
    const Expected expected[] = {
        {u"TX", u" C R 0 CR ", u""},      // the panel: its query,
        {u"RX", u" 8 ", u""},             // the reply as it came, piece by piece,
        {u"RX", u" 0 CR ", u"Stand by"},  // and what STATUS then read
        {u"TX", u" C R 3 CR ", u""},      // the tool
        {u"RX", u" 1 2 3 4 CR ", u"1 2 3 4 CR  Hour Use"},
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const LogLine &line = lines[i];
        QVERIFY2(line.time.isValid() && line.time >= start && line.time <= QDateTime::currentDateTime(),
                 qPrintable(line.time.toString(Qt::ISODateWithMs)));
        QVERIFY(i == 0 || line.time >= lines[i - 1].time);
        QCOMPARE(line.direction, QStringView(expected[i].direction).toString());
        QCOMPARE(line.trace, QStringView(expected[i].trace).toString());
        QCOMPARE(line.reading, QStringView(expected[i].reading).toString());
        QCOMPARE(line.port, i < 3 ? u"COM1"_qs : sim.path());
        QVERIFY(line.device.startsWith(u"/dev/"));
    }
}

void TestExchangeLog::unwritableLogStopsNothing() {
    const QString nowhere = u"/nonexistent/mv70/exchanges.log"_qs;
    SimProcess sim;
    QString err;
    QCOMPARE(runCtl({u"--log"_qs, nowhere, u"--port"_qs, sim.path(), u"status"_qs}, &err), 0);
    QCOMPARE(err.count(nowhere), 1);  // said once

    qputenv("MV70_LOG", nowhere.toLocal8Bit());
    FormOnPty f;
    qunsetenv("MV70_LOG");
    QTRY_VERIFY(f->Label22->text().contains(nowhere));
    qobject_cast<QPushButton *>(f->control("Command17"))->click();  // POWER ON
    QCOMPARE(f.com1.read(4), QByteArray("C00\r"));
    QCOMPARE(f->Label11->text(), u" C 0 0 CR "_qs);
}

// A FIFO nobody reads: the writer is stuck opening it, the caller goes on,
// and what did not fit is counted in the file once it is read.
void TestExchangeLog::aStuckFileNeverHoldsTheCallerUp() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"fifo"_qs);
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    auto log = std::make_unique<ExchangeLog>(path);
    const QString command = u"CF INPUT VIDEO VIDEO\r"_qs;
    const QString port = u"COM1"_qs, device = u"/dev/ttyS0"_qs;
    const qsizetype lineSize = ExchangeLog::formatLine(QDateTime::currentDateTime(), port, device,
                                                       ExchangeLog::Direction::Transmit, renderTrace(command), {})
                                   .size();
    const qsizetype added = 2 * ExchangeLog::kBufferLimit / lineSize;  // twice what may wait
    for (qsizetype i = 0; i < added; ++i)
        log->add(port, device, ExchangeLog::Direction::Transmit, command);

    QByteArray all;
    std::thread reader([&] {
        QFile fifo(path);
        if (!fifo.open(QIODevice::ReadOnly))
            return;
        for (QByteArray chunk; !(chunk = fifo.read(1 << 16)).isEmpty();)
            all += chunk;
    });
    const qint64 droppedAtEnd = log->finish();  // the writer opens the FIFO now, writes the rest and ends
    reader.join();
    // Every line is either written or counted.
    const qsizetype written = all.count(" C F   I N P U T   V I D E O   V I D E O CR ");
    // The writer notes what it dropped once per pass, so there may be several notes.
    qint64 noted = 0, notes = 0;
    for (const QRegularExpressionMatch &note :
         QRegularExpression(u"\t--\t(\\d+) lines not logged"_qs).globalMatch(QString::fromUtf8(all))) {
        noted += note.captured(1).toLongLong();
        ++notes;
    }
    QVERIFY2(notes > 0, all.right(300).constData());
    QVERIFY(written > added / 4);
    QCOMPARE(written + noted + droppedAtEnd, added);
}

void TestExchangeLog::ctlEndsWhateverTheLogsReaderDoes_data() {
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<QString>("said");
    QTest::newRow("reader goes away") << Reader::GoesAway << u"Broken pipe"_qs;
    QTest::newRow("reader never comes") << Reader::NeverComes << u"2 lines not written"_qs;
    QTest::newRow("reader never reads") << Reader::NeverReads << u"2 lines not written"_qs;
}

// mv70-ctl on a projector that answers, its log a FIFO: it gives its answer
// and ends in time whatever the reader does, and says what became of the log.
void TestExchangeLog::ctlEndsWhateverTheLogsReaderDoes() {
    QFETCH(Reader, reader);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"fifo"_qs);
    Fifo fifo(path, reader);
    PtyPeer projector;
    QProcess ctl;
    ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--log"_qs, path, u"--port"_qs, projector.path(), u"status"_qs});
    QCOMPARE(projector.read(4), QByteArray("CR0\r"));
    if (reader == Reader::GoesAway) {
        QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(ctl.processId(), path), 10000);
        fifo.closeReader();
    }
    projector.write("80\r");
    QVERIFY(ctl.waitForFinished(30000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);  // no SIGPIPE
    QCOMPARE(ctl.exitCode(), 0);
    QCOMPARE(ctl.readAllStandardOutput(), QByteArray("Stand by\n"));
    const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
    QVERIFY2(err.contains(path) && err.contains(said), qPrintable(err));
}

void TestExchangeLog::panelEndsWhateverTheLogsReaderDoes_data() {
    QTest::addColumn<Reader>("reader");
    QTest::newRow("reader goes away") << Reader::GoesAway;
    QTest::newRow("reader never comes") << Reader::NeverComes;
    QTest::newRow("reader never reads") << Reader::NeverReads;
}

// The panel with MV70_LOG on a FIFO: the projector's words are logged, and
// SIGTERM still ends it, with its port's lock file gone.
void TestExchangeLog::panelEndsWhateverTheLogsReaderDoes() {
    QFETCH(Reader, reader);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"fifo"_qs);
    Fifo fifo(path, reader);
    PtyPeer com1;
    QProcess panel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    env.insert(u"MV70_LOG"_qs, path);
    env.insert(u"MV70_COM1"_qs, com1.path());
    env.insert(u"MV70_COM2"_qs, QString::fromLatin1(missingDevice()));
    panel.setProcessEnvironment(env);
    panel.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    panel.start(QStringLiteral(MV70_CONTROL_PROGRAM), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(lockFileExists(com1.path()), 10000);
    if (reader == Reader::GoesAway) {
        QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(panel.processId(), path), 10000);
        fifo.closeReader();
        com1.write("80\r");  // logged: the write finds the reader gone
        QTRY_VERIFY_WITH_TIMEOUT(!holdsOpen(panel.processId(), path), 10000);  // the log has stopped
        QCOMPARE(panel.state(), QProcess::Running);
    } else {
        com1.write("80\r");
    }
    QVERIFY(::kill(pid_t(panel.processId()), SIGTERM) == 0);
    QVERIFY(panel.waitForFinished(30000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
    QVERIFY(!lockFileExists(com1.path()));
}

// A full device is said in the system's words, and a file that takes part
// of a line keeps whole lines only: the next run's first line is a line.
void TestExchangeLog::writeErrorsInTheSystemsWordsAndWholeLinesOnly() {
    SimProcess sim;
    const auto runCtlProcess = [&](const QString &log, qint64 sizeLimit = -1) {
        QProcess ctl;
        if (sizeLimit >= 0)
            ctl.setChildProcessModifier([sizeLimit] {
                ::signal(SIGXFSZ, SIG_IGN);  // as on a full disk: the write fails, nothing else
                const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--log"_qs, log, u"--port"_qs, sim.path(), u"status"_qs});
        const bool ended = ctl.waitForFinished(30000) && ctl.exitStatus() == QProcess::NormalExit;
        return std::pair(ended ? ctl.exitCode() : -1, QString::fromLocal8Bit(ctl.readAllStandardError()));
    };

    const auto [full, fullSaid] = runCtlProcess(u"/dev/full"_qs);
    QCOMPARE(full, 0);
    QVERIFY2(fullSaid.contains(u"/dev/full: No space left on device"), qPrintable(fullSaid));

    QTemporaryDir dir;
    const QString path = dir.filePath(u"exchanges.log"_qs);
    QCOMPARE(runCtlProcess(path).first, 0);
    const qint64 size = QFileInfo(path).size();
    QVERIFY(size > 60);
    const auto [limited, limitedSaid] = runCtlProcess(path, size + 30);  // room for half a line
    QCOMPARE(limited, 0);
    QVERIFY2(limitedSaid.contains(u"File too large"), qPrintable(limitedSaid));
    QCOMPARE(QFileInfo(path).size(), size);
    QCOMPARE(runCtlProcess(path).first, 0);
    QCOMPARE(readLog(path).size(), 4);
}

QTEST_MAIN(TestExchangeLog)
#include "test_exchange_log.moc"
