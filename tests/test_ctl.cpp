// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-ctl against the simulated projector: the bytes of every action, the
// readings beside the panel's, exit statuses, waiting, steps, and fifty
// projectors behind one ser2net in one call; replies cut short, the end by
// a signal, and port errors that come with hostile text.

#include <QJsonArray>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

#include "ctl/run.h"
#include "form_fixture.h"
#include "logic/command_table.h"
#include "logic/exchange.h"
#include "logic/operations.h"
#include "logic/reply_decoder.h"
#include "pty_peer.h"
#include "sim_process.h"
#include "slow_com_port_server.h"
#include "telnet_script_server.h"

using namespace mv70;
using namespace mv70::ctl;

namespace {

struct Outcome {
    int status;
    QString out;
    QString err;
};

// The tool in this process, as main() runs it.
Outcome runHere(const QStringList &arguments) {
    Outcome outcome;
    QTextStream out(&outcome.out);
    QTextStream err(&outcome.err);
    outcome.status = runCommandLine(arguments, out, err);
    return outcome;
}

// The installed program as a script would run it.
Outcome runProgram(const QStringList &arguments, int timeoutMs = 60000) {
    QProcess process;
    process.start(QStringLiteral(MV70_CTL_PROGRAM), arguments);
    if (!process.waitForFinished(timeoutMs))
        return {-1, {}, QStringLiteral("did not end")};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// Where serial programs, this one's library among them, put a device's lock.
QString lockFileOf(const QString &device) {
    return QStringLiteral("/run/lock/LCK..") + device.mid(5).replace(u'/', u'_');
}

QJsonObject onlyObject(const QString &out) {
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    return lines.size() == 1 ? QJsonDocument::fromJson(lines.front().toUtf8()).object() : QJsonObject();
}

}  // namespace

class TestCtl : public QObject {
    Q_OBJECT

private slots:
    void everyButtonIsAnActionOnce();
    void everyActionSendsItsCodeAndIsAnswered_data();
    void everyActionSendsItsCodeAndIsAnswered();
    void queryReadingsAreThePanels();
    void usageErrors_data();
    void usageErrors();
    void silentAndMissingPorts();
    void slowNetworkSerialServer_data();
    void slowNetworkSerialServer();
    void speedNotTakenIsSaid();
    void waitForThroughACountDown();
    void portTroubleInTheToolsOwnWords();
    void stepsAtTheButtonsRepeatPeriod_data();
    void stepsAtTheButtonsRepeatPeriod();
    void fiftyProjectorsAtOnce();
    void replyCutShortIsNoAnswer_data();
    void replyCutShortIsNoAnswer();
    void endsOnSignalsWithPortAndLogClosed_data();
    void endsOnSignalsWithPortAndLogClosed();
    void portErrorsInPlainText_data();
    void portErrorsInPlainText();
    void cleanupTestCase() { sim_.reset(); }

private:
    std::unique_ptr<SimProcess> sim_;  // one projector for every action
};

// Each action name means one row, and a query button without a name of its
// own is reached through the decoder's query of the same code.
void TestCtl::everyButtonIsAnActionOnce() {
    QStringList names;
    QStringList codes;
    for (const Action &action : allActions()) {
        QVERIFY2(!names.contains(action.words), qPrintable(action.words));
        names << action.words;
        codes << action.code;
    }
    for (const OneShotButton &button : kOneShotButtons)
        QVERIFY2(codes.contains(QStringView(button.code).toString()), button.control.data());
    for (const HoldButton &button : kHoldButtons)
        QVERIFY2(codes.contains(QStringView(button.code()).toString()), button.control.data());
}

void TestCtl::everyActionSendsItsCodeAndIsAnswered_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QByteArray>("code");
    for (const Action &action : allActions())
        QTest::newRow(qPrintable(action.words)) << action.words.split(u' ') << action.code.toLatin1();
    QTest::newRow("send") << QStringList{u"send"_qs, u"CF"_qs, u"INPUT"_qs, u"VIDEO"_qs, u"VIDEO"_qs}
                          << QByteArray("CF INPUT VIDEO VIDEO");
}

void TestCtl::everyActionSendsItsCodeAndIsAnswered() {
    QFETCH(QStringList, words);
    QFETCH(QByteArray, code);
    if (!sim_)  // powers on and off at once
        sim_ = std::make_unique<SimProcess>(QStringList{u"--countdown"_qs, u"0"_qs, u"--cooling"_qs, u"0"_qs});
    SimProcess &sim = *sim_;
    QVERIFY(!sim.path().isEmpty());
    // An action that only some power states allow reads the status first;
    // the projector is on for it.
    const bool checked = operationNamed(words.join(u' ').toStdString()) != nullptr;
    if (checked)
        QCOMPARE(runHere({u"--port"_qs, sim.path(), u"power"_qs, u"on"_qs}).status, int(kAnswered));
    const int before = sim.received(code);

    const Outcome run = runHere(QStringList{u"--json"_qs, u"--port"_qs, sim.path()} + words);
    QCOMPARE(run.status, int(kAnswered));
    const QJsonObject result = onlyObject(run.out);
    QCOMPARE(result.value(u"sent").toString(), QString::fromLatin1((checked ? "CR0\r" : "") + code + '\r'));
    QVERIFY(!result.value(u"reading").toString().isEmpty());
    QCOMPARE(result.value(u"status").toInt(), 0);
    QTRY_COMPARE(sim.received(code), before + 1);
    // An operation is acknowledged; a query is read (the decoder's queries
    // are the only actions whose reply is not the acknowledge byte).
    const bool query = findAction(words)->kind == ActionKind::Query;
    // (After the status the projector gave: on.)
    QCOMPARE(result.value(u"reply").toString() == (checked ? u"00\r\x06"_qs : u"\x06"_qs), !query);
    QCOMPARE(result.value(u"reading").toString() == u"acknowledged", !query);
}

// The tool's reading is what the exchange shows on the panel's STATUS line
// for the same reply, less its leading blank.
void TestCtl::queryReadingsAreThePanels() {
    SimProcess sim({u"--lamp-hours"_qs, u"98765"_qs, u"--pressure"_qs, u"990"_qs});
    QStringList codes;
    QStringList readings;
    QStringList replies;
    for (const Action &action : allActions()) {
        if (action.kind != ActionKind::Query)
            continue;
        const Outcome run = runHere({u"--json"_qs, u"--port"_qs, sim.path(), action.words});
        QCOMPARE(run.status, int(kAnswered));
        const QJsonObject result = onlyObject(run.out);
        codes << action.code;
        readings << result.value(u"reading").toString();
        replies << result.value(u"reply").toString();
        // Beside the text, what it means as JSON values.
        if (action.words == u"lamp-time")
            QCOMPARE(result.value(u"value").toObject(), (QJsonObject{{u"hours"_qs, 98765}}));
        if (action.words == u"status")
            QCOMPARE(result.value(u"value").toObject().value(u"power").toString(), u"standby"_qs);
    }
    QCOMPARE(codes.size(), 9);

    Exchange panel;
    panel.setWriter([](QStringView) { return QString(); });
    for (qsizetype i = 0; i < codes.size(); ++i) {
        QVERIFY(panel.send(codes[i], 500).isEmpty());
        const Reading reading = panel.receive(replies[i]);
        QVERIFY(replies[i].endsWith(kCR));
        QCOMPARE(reading.outcome, Reading::Outcome::Status);
        const QString shown = reading.text;
        QCOMPARE(shown.startsWith(u' ') ? shown.sliced(1) : shown, readings[i]);
        panel.endReplyWindow();
    }
}

void TestCtl::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    QTest::newRow("no action") << QStringList{} << QString();
    QTest::newRow("unknown action") << QStringList{u"power"_qs, u"maybe"_qs} << QString();
    QTest::newRow("send without text") << QStringList{u"send"_qs} << QString();
    QTest::newRow("steps of a one-shot") << QStringList{u"power"_qs, u"on"_qs, u"--steps"_qs, u"2"_qs} << QString();
    QTest::newRow("steps out of range") << QStringList{u"volume"_qs, u"up"_qs, u"--steps"_qs, u"0"_qs} << QString();
    QTest::newRow("speed") << QStringList{u"--speed"_qs, u"4800"_qs, u"status"_qs} << QString();
    QTest::newRow("timeout 0") << QStringList{u"status"_qs, u"--wait-for"_qs, u"Power ON"_qs, u"--timeout"_qs, u"0"_qs}
                               << u"above 0, at most 86400"_qs;
    QTest::newRow("timeout without wait") << QStringList{u"status"_qs, u"--timeout"_qs, u"5"_qs} << QString();
    QTest::newRow("option without value") << QStringList{u"status"_qs, u"--port"_qs} << QString();
    QTest::newRow("unknown option") << QStringList{u"--colour"_qs, u"status"_qs} << QString();
    QTest::newRow("same port twice") << QStringList{u"--port"_qs, u"tcp://127.0.0.1:9"_qs, u"--port"_qs,
                                                    u"tcp://127.0.0.1:9"_qs, u"status"_qs}
                                     << u"--port tcp://127.0.0.1:9 is given twice"_qs;
    QTest::newRow("one device by two names")
        << QStringList{u"--port"_qs, u"/dev/null"_qs, u"--port"_qs, u"/dev/../dev/null"_qs, u"status"_qs}
        << u"the same port"_qs;
}

void TestCtl::usageErrors() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const Outcome run = runHere(arguments);
    QCOMPARE(run.status, int(kUsageError));
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(u"--help"), qPrintable(run.err));
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
}

void TestCtl::slowNetworkSerialServer_data() {
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("reading");
    // The reply window runs from the moment the query has left, not while
    // it waits for the negotiation.
    QTest::newRow("negotiates in 800 ms") << 800 << false << int(kAnswered) << u"CR0\r"_qs << u"Power ON"_qs;
    // The query never left: a port error, and nothing reported as sent.
    QTest::newRow("drops the connection") << 600 << true << int(kPortError) << QString() << QString();
}

void TestCtl::slowNetworkSerialServer() {
    QFETCH(int, delayMs);
    QFETCH(bool, drop);
    QFETCH(int, status);
    QFETCH(QString, sent);
    QFETCH(QString, reading);
    SlowComPortServer server(delayMs, drop);
    const Outcome run = runHere({u"--json"_qs, u"--port"_qs, server.url(), u"status"_qs});
    const QJsonObject result = onlyObject(run.out);
    QVERIFY2(result.value(u"status").toInt() == status, qPrintable(run.out + run.err));
    QCOMPARE(run.status, status);
    QCOMPARE(result.value(u"sent").toString(), sent);
    QCOMPARE(result.value(u"reading").toString(), reading);
    QCOMPARE(server.data(), sent.toLatin1());
}

// A network serial server that refuses the COM port option, or sets its port
// to another speed than --speed: said on standard error (in JSON, as
// "notices"), the answer as usual.
void TestCtl::speedNotTakenIsSaid() {
    TelnetScriptServer::Script script;
    script.comPortAnswer = telnetBytes({255, 254, 44});  // DONT COM-PORT-OPTION
    TelnetScriptServer refusing(script);
    Outcome run = runHere({u"--port"_qs, refusing.url(), u"status"_qs});
    QCOMPARE(run.status, int(kAnswered));
    QCOMPARE(run.out, u"Power ON\n"_qs);
    QCOMPARE(run.err, QStringLiteral("mv70-ctl: %1: the server refused the COM port option; the speed is the one set "
                                     "at the server\n")
                          .arg(refusing.url()));

    script = {};
    script.confirmSpeed = 9600;
    TelnetScriptServer otherSpeed(script);
    run = runHere({u"--json"_qs, u"--port"_qs, otherSpeed.url(), u"status"_qs});
    QCOMPARE(run.status, int(kAnswered));
    QCOMPARE(onlyObject(run.out).value(u"notices").toArray(),
             QJsonArray{QStringLiteral("%1: --speed 19200 asked for, but the server set its port to 9600 bps")
                            .arg(otherSpeed.url())});
    QVERIFY(run.err.isEmpty());
}

// Exit 1 for a projector that does not answer, after the panel's reply
// window; 3 for a port that cannot be opened, in the panel's words; the
// worst of them for several ports.
void TestCtl::silentAndMissingPorts() {
    SimProcess silent({u"--silent"_qs});
    SimProcess talking;
    Outcome run = runProgram({u"--port"_qs, silent.path(), u"status"_qs});
    QCOMPARE(run.status, 1);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(u"no reply within 500 ms"), qPrintable(run.err));

    run = runProgram({u"--port"_qs, QString::fromLatin1(missingDevice()), u"status"_qs});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains(u"no such device "_qs + QString::fromLatin1(missingDevice())), qPrintable(run.err));
    // The remedy is the tool's own: a device named with --port, not the panel's --com1.
    QVERIFY2(!run.err.contains(u"mv70-control"_qs), qPrintable(run.err));

    run = runProgram({u"--port"_qs, talking.path(), u"--port"_qs, silent.path(), u"--port"_qs,
                      QString::fromLatin1(missingDevice()), u"status"_qs});
    QCOMPARE(run.status, 3);
    QCOMPARE(run.out, talking.path() + u": Stand by\n"_qs);
    QCOMPARE(run.err.count(u"mv70-ctl: "), 2);  // one message per failed port
    QVERIFY(run.err.contains(silent.path() + u": no reply"_qs));

    // Without --port the tool opens what the panel's COM1 would.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"MV70_COM1"_qs, talking.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(MV70_CTL_PROGRAM), {u"input"_qs});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardOutput(), QByteArray("Computer 1\n"));
}

void TestCtl::waitForThroughACountDown() {
    SimProcess sim({u"--countdown"_qs, u"1500"_qs});
    Outcome run = runProgram(
        {u"--port"_qs, sim.path(), u"power"_qs, u"on"_qs, u"--wait-for"_qs, u"Power ON"_qs, u"--timeout"_qs, u"30"_qs});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, u"Power ON\n"_qs);
    QTRY_COMPARE(sim.received("C00"), 1);
    QTRY_VERIFY(sim.received("CR0") >= 2);  // "Count down" at least once

    // A state never reached: exit 1, with the last reading.
    run = runProgram(
        {u"--port"_qs, sim.path(), u"status"_qs, u"--wait-for"_qs, u"Stand by"_qs, u"--timeout"_qs, u"1.2"_qs});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(u"not \"Stand by\" within 1.2 s; last reading: \"Power ON\""), qPrintable(run.err));
}

// The tool names a port as its user did, and says nothing of waiting for a
// line it does not wait for; one port named twice is a usage error.
void TestCtl::portTroubleInTheToolsOwnWords() {
    auto sim = std::make_unique<SimProcess>(QStringList{u"--countdown"_qs, u"60000"_qs});
    const QString port = sim->path();
    const Outcome twice = runHere({u"--port"_qs, port, u"--port"_qs, port, u"status"_qs});
    QCOMPARE(twice.status, int(kUsageError));
    QVERIFY2(twice.err.contains(u"--port "_qs + port + u" is given twice"_qs), qPrintable(twice.err));

    QProcess process;
    process.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--port"_qs, port, u"power"_qs, u"on"_qs, u"--wait-for"_qs,
                                                     u"Power ON"_qs, u"--timeout"_qs, u"60"_qs});
    QTRY_VERIFY_WITH_TIMEOUT(sim->received("CR0") >= 1, 20000);  // waiting through the count down
    QCOMPARE(sim->stop(), 0);
    sim.reset();
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), int(kPortError));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(err.startsWith(u"mv70-ctl: "_qs + port + u" disconnected"_qs), qPrintable(err));
    QVERIFY2(!err.contains(u"Waiting"_qs) && !err.contains(u"COM1"_qs), qPrintable(err));
}

void TestCtl::stepsAtTheButtonsRepeatPeriod_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("replyWindow");
    QTest::addColumn<QByteArray>("before");  // sent ahead of the steps
    // The volume only when on: the status first, unanswered here, which
    // leaves it to the projector.
    QTest::newRow("volume") << u"volume up"_qs << QByteArray("C09\r") << 250 << 200 << QByteArray("CR0\r");
    QTest::newRow("brightness") << u"brightness down"_qs << QByteArray("C21\r") << 50 << 25 << QByteArray();
    QTest::newRow("select") << u"cursor select"_qs << QByteArray("C3F\r") << 500 << 200 << QByteArray();
    // An arrow on a panel just started: the start repeat and reply window.
    QTest::newRow("arrow") << u"cursor left"_qs << QByteArray("C3B\r") << 200 << 500 << QByteArray();
}

void TestCtl::stepsAtTheButtonsRepeatPeriod() {
    QFETCH(QString, action);
    QFETCH(QByteArray, code);
    QFETCH(int, period);
    QFETCH(int, replyWindow);
    QFETCH(QByteArray, before);
    PtyPeer peer;
    const auto parsed = parseArguments({u"--port"_qs, peer.path(), u"--steps"_qs, u"3"_qs, action});
    const Options &options = std::get<Options>(parsed);
    PortExchange exchange(peer.path(), options, nullptr);
    exchange.start();
    QCOMPARE(peer.read(before.size() + code.size()), before + code);
    QVERIFY(exchange.stepTimer().isActive());
    QCOMPARE(exchange.stepTimer().interval(), period);
    QCOMPARE(exchange.replyTimer().interval(), replyWindow);
    // Nothing answers: the last send's reply window ends the exchange.
    QTRY_VERIFY_WITH_TIMEOUT(exchange.isFinished(), 10000);
    QCOMPARE(exchange.result().sent, before + code + code + code);
    QCOMPARE(peer.readAvailable(), code + code);
    QCOMPARE(exchange.result().status, int(kNoReply));
    QCOMPARE(exchange.result().error, QStringLiteral("no reply within %1 ms").arg(replyWindow));
}

// One ser2net on loopback with a raw TCP port for each of many simulated
// projectors.
class Ser2NetHall {
public:
    explicit Ser2NetHall(const std::vector<std::unique_ptr<SimProcess>> &sims) {
        // Ports held all at once are distinct; they are let go just before
        // ser2net takes them.
        std::vector<std::unique_ptr<QTcpServer>> holders;
        QByteArray configuration;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            holders.push_back(std::make_unique<QTcpServer>());
            holders.back()->listen(QHostAddress::LocalHost);
            ports_.push_back(holders.back()->serverPort());
            configuration += QStringLiteral("connection: &projector%1\n"
                                            "  accepter: tcp,127.0.0.1,%2\n"
                                            "  connector: serialdev,%3,19200n81,local\n")
                                 .arg(i)
                                 .arg(ports_.back())
                                 .arg(sims[i]->path())
                                 .toLocal8Bit();
        }
        QFile file(dir_.filePath(u"ser2net.yaml"_qs));
        if (!file.open(QIODevice::WriteOnly) || file.write(configuration) != configuration.size())
            return;
        file.close();
        holders.clear();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(u"ser2net"_qs, {u"-n"_qs, u"-d"_qs, u"-c"_qs, file.fileName()});
    }
    ~Ser2NetHall() {
        process_.kill();
        process_.waitForFinished(5000);
    }

    QStringList urls() const {
        QStringList urls;
        for (const quint16 port : ports_)
            urls << QStringLiteral("tcp://127.0.0.1:%1").arg(port);
        return urls;
    }
    // Whether ser2net listens on every port, from the kernel's table.
    bool listening() const {
        QFile table(u"/proc/net/tcp"_qs);
        if (process_.state() != QProcess::Running || !table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray all = table.readAll();
        for (const quint16 port : ports_)
            if (!all.contains(QStringLiteral("0100007F:%1 00000000:0000 0A")
                                  .arg(port, 4, 16, QLatin1Char('0'))
                                  .toUpper()
                                  .toLatin1()))
                return false;
        return true;
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    std::vector<quint16> ports_;
};

// Fifty projectors behind one ser2net: `power on`, then `status`, on all of
// them, each in one call.
void TestCtl::fiftyProjectorsAtOnce() {
    constexpr int kProjectors = 50;
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kProjectors; ++i) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{u"--countdown"_qs, u"60000"_qs}));
        QVERIFY(!sims.back()->path().isEmpty());
    }
    const Ser2NetHall hall(sims);
    QTRY_VERIFY_WITH_TIMEOUT(hall.listening(), 10000);
    const QStringList ports = hall.urls();
    QStringList arguments;
    for (const QString &port : ports)
        arguments << u"--port"_qs << port;

    QElapsedTimer clock;
    clock.start();
    const Outcome on = runProgram(arguments + QStringList{u"power"_qs, u"on"_qs});
    const qint64 onMs = clock.restart();
    const Outcome status = runProgram(arguments + QStringList{u"--json"_qs, u"status"_qs});
    const qint64 statusMs = clock.elapsed();
    qInfo("%d projectors behind ser2net: power on in %lld ms, status in %lld ms", kProjectors, onMs, statusMs);

    QCOMPARE(on.status, 0);
    QCOMPARE(status.status, 0);
    const QStringList acknowledged = on.out.split(u'\n', Qt::SkipEmptyParts);
    const QStringList objects = status.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(acknowledged.size(), kProjectors);
    QCOMPARE(objects.size(), kProjectors);
    for (int i = 0; i < kProjectors; ++i) {
        QCOMPARE(acknowledged[i], ports[i] + u": acknowledged"_qs);
        const QJsonObject result = QJsonDocument::fromJson(objects[i].toUtf8()).object();
        QCOMPARE(result.value(u"port").toString(), ports[i]);
        QCOMPARE(result.value(u"reading").toString(), u"Count down"_qs);
        QTRY_COMPARE(sims[std::size_t(i)]->received("C00"), 1);  // each its own command
    }
}

// A projector that sends its reply slowly (or stops halfway) has sent part
// of it when the reply window ends: a part is no reading, unless it already
// holds the whole code of a tabled reading.
void TestCtl::replyCutShortIsNoAnswer_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("reply");  // all that ever comes
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("status, first byte") << u"status"_qs << QByteArray("8") << int(kNoReply)
                                        << u"no complete reply within 500 ms; received: 8"_qs;
    QTest::newRow("status, code without CR") << u"status"_qs << QByteArray("80") << int(kAnswered) << u"Stand by"_qs;
    QTest::newRow("lamp time, first digits")
        << u"lamp-time"_qs << QByteArray("12") << int(kNoReply) << u"no complete reply"_qs;
    QTest::newRow("lamp time, whole") << u"lamp-time"_qs << QByteArray("1234\r") << int(kAnswered)
                                      << u"1 2 3 4 CR  Hour Use"_qs;
}

void TestCtl::replyCutShortIsNoAnswer() {
    QFETCH(QString, action);
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(QString, said);
    PtyPeer projector;
    QProcess ctl;
    ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--port"_qs, projector.path(), action});
    QVERIFY(projector.readUntil("\r", 10000).endsWith('\r'));
    projector.write(reply);
    QVERIFY(ctl.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(ctl.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
    QCOMPARE(ctl.exitCode(), status);
    if (status == kAnswered) {
        QCOMPARE(out, said + u'\n');
    } else {
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.contains(said), qPrintable(err));
    }
}

// Ended by SIGTERM, SIGINT or SIGHUP while waiting for a reading: the port
// is closed (its lock file gone), every exchange so far is in the log, and
// the exit status is the shell's for that signal. A signal ignored when the
// tool starts stays ignored.
void TestCtl::endsOnSignalsWithPortAndLogClosed_data() {
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestCtl::endsOnSignalsWithPortAndLogClosed() {
    QFETCH(int, signo);
    PtyPeer projector;
    QTemporaryDir dir;
    const QString logPath = dir.filePath(u"exchanges.log"_qs);
    QProcess ctl;
    ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--port"_qs, projector.path(), u"--log"_qs, logPath, u"status"_qs,
                                                 u"--wait-for"_qs, u"Power ON"_qs, u"--timeout"_qs, u"600"_qs});
    QCOMPARE(projector.readUntil("CR0\r", 10000), QByteArray("CR0\r"));
    projector.write("80\r");
    // The next poll: the reply before it has been read; the signal comes
    // right after the poll's line has gone to the log.
    QCOMPARE(projector.readUntil("CR0\r", 10000), QByteArray("CR0\r"));
    QVERIFY(QFileInfo::exists(lockFileOf(projector.path())));
    QVERIFY(::kill(pid_t(ctl.processId()), signo) == 0);
    QVERIFY(ctl.waitForFinished(20000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), 128 + signo);
    QVERIFY(!QFileInfo::exists(lockFileOf(projector.path())));
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), 4);  // TX, RX, TX and the end of the last line
    QVERIFY2(lines[0].contains("\tTX\t") && lines[1].contains("Stand by") && lines[2].contains("\tTX\t"),
             log.fileName().toLocal8Bit());
    QVERIFY(lines[3].isEmpty());

    // Ignored at start (nohup): the signal does nothing.
    QProcess ignoring;
    ignoring.setChildProcessModifier([signo] { ::signal(signo, SIG_IGN); });
    ignoring.start(QStringLiteral(MV70_CTL_PROGRAM),
                   {u"--port"_qs, projector.path(), u"status"_qs, u"--wait-for"_qs, u"Power ON"_qs});
    QCOMPARE(projector.readUntil("CR0\r", 10000), QByteArray("CR0\r"));
    QVERIFY(::kill(pid_t(ignoring.processId()), signo) == 0);
    projector.write("00\r");
    QVERIFY(ignoring.waitForFinished(20000));
    QCOMPARE(ignoring.exitCode(), int(kAnswered));
    QCOMPARE(ignoring.readAllStandardOutput(), QByteArray("Power ON\n"));
}

// What the tool says of a port it cannot use is plain text on a terminal:
// a device that is no serial port is said to be none (not "in use" by
// every process that has /dev/null open), and a program name from a lock
// file, which any user may write, has its control characters shown.
enum class PortTrouble { DevNull, LinkToDevNull, LockNamingEscapes };
Q_DECLARE_METATYPE(PortTrouble)

void TestCtl::portErrorsInPlainText_data() {
    QTest::addColumn<PortTrouble>("trouble");
    QTest::addColumn<QString>("said");
    QTest::newRow("/dev/null") << PortTrouble::DevNull << u"/dev/null is not a serial port"_qs;
    QTest::newRow("a link to /dev/null") << PortTrouble::LinkToDevNull << u"(/dev/null) is not a serial port"_qs;
    QTest::newRow("a lock naming escapes")
        << PortTrouble::LockNamingEscapes << u"is in use by another program: \\x1b]0;pwned\\x07\\x1b[2J (process "_qs;
}

void TestCtl::portErrorsInPlainText() {
    QFETCH(PortTrouble, trouble);
    QFETCH(QString, said);
    QTemporaryDir dir;
    PtyPeer line;
    QString port = u"/dev/null"_qs;
    QProcess holder;
    if (trouble == PortTrouble::LinkToDevNull) {
        port = dir.filePath(u"ttyUSB0"_qs);
        QVERIFY(QFile::link(u"/dev/null"_qs, port));
    } else if (trouble == PortTrouble::LockNamingEscapes) {
        port = line.path();
        // A process whose name sets the terminal's title and clears it.
        holder.start(u"bash"_qs, {u"-c"_qs, u"exec -a $'\\e]0;pwned\\a\\e[2J' sleep 60"_qs});
        QVERIFY(holder.waitForStarted());
        const auto renamed = [&] {
            QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(holder.processId()));
            return commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().startsWith("\x1b]0;");
        };
        QTRY_VERIFY_WITH_TIMEOUT(renamed(), 10000);
        QFile lock(lockFileOf(port));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
        lock.close();
    }
    QProcess ctl;
    ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {u"--port"_qs, port, u"status"_qs});
    QVERIFY(ctl.waitForFinished(20000));
    const QByteArray err = ctl.readAllStandardError();
    if (holder.state() != QProcess::NotRunning) {
        holder.kill();
        holder.waitForFinished();
        QFile::remove(lockFileOf(port));
    }
    QCOMPARE(ctl.exitCode(), int(kPortError));
    QVERIFY2(err.contains(said.toUtf8()), err.constData());
    QVERIFY2(!err.contains('\x1b') && !err.contains('\a'), err.toPercentEncoding().constData());
    QVERIFY2(!err.contains("in use") || trouble == PortTrouble::LockNamingEscapes, err.constData());
}

QTEST_MAIN(TestCtl)
#include "test_ctl.moc"
