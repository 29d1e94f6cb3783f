// The exchange log: a panel session and an mv70-ctl session written and
// parsed back; a log that cannot be written stops neither program; a log
// whose file does not keep up never holds the caller up.

#include <QtTest>

#include <sys/stat.h>

#include "ctl/run.h"
#include "form_fixture.h"
#include "logic/exchange_log.h"
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

}  // namespace

class TestExchangeLog : public QObject {
    Q_OBJECT

private slots:
    void panelAndToolSessionsParsedBack();
    void unwritableLogStopsNothing();
    void aStuckFileNeverHoldsTheCallerUp();
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
        QTRY_COMPARE(f->RxBuffer, u"8"_qs);
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
    log.reset();  // the writer opens the FIFO now that it has a reader, writes the rest and ends
    reader.join();
    // Every line is either written or counted.
    const qsizetype written = all.count(" C F   I N P U T   V I D E O   V I D E O CR ");
    const QRegularExpressionMatch note =
        QRegularExpression(u"\t--\t(\\d+) lines not logged"_qs).match(QString::fromUtf8(all));
    QVERIFY2(note.hasMatch(), all.right(300).constData());
    QVERIFY(written > added / 4);
    QCOMPARE(written + note.captured(1).toLongLong(), added);
}

QTEST_MAIN(TestExchangeLog)
#include "test_exchange_log.moc"
