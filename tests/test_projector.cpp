// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated projector's model, with the clock in the test's hands. Its
// replies are read by the panel's own decoder: what the STATUS line would
// show is what is checked.

#include <QtTest>

#include "logic/command_table.h"
#include "logic/reply_decoder.h"
#include "logic/trace.h"
#include "sim/projector.h"

using mv70::sim::CommandReader;
using mv70::sim::LampMode;
using mv70::sim::Power;
using mv70::sim::Projector;
using mv70::sim::ProjectorSettings;

namespace {

// What the panel's STATUS line shows for `reply` to `query`.
QString statusLine(const QByteArray &query, const QByteArray &reply) {
    qint16 pressure = 0;
    const QString received = QString::fromLatin1(reply);
    return mv70::decodeReply(QString::fromLatin1(query) + u'\r', u"", received, mv70::renderTrace(received), pressure)
        .text;
}

// Runs "time:command" steps, then asks `query` at `queryAt` and reads the reply.
QString statusAfter(Projector &projector, const QStringList &steps, qint64 queryAt, const QByteArray &query) {
    for (const QString &step : steps) {
        const qsizetype colon = step.indexOf(u':');
        const QByteArray answer = projector.answer(step.mid(colon + 1).toLatin1(), step.left(colon).toLongLong());
        if (answer != QByteArray(1, Projector::kAck))
            return QStringLiteral("step %1 answered %2").arg(step, QString::fromLatin1(answer.toPercentEncoding()));
    }
    return statusLine(query, projector.answer(query, queryAt));
}

}  // namespace

class TestProjector : public QObject {
    Q_OBJECT

private slots:
    void everyQueryReadsOnTheStatusLine_data();
    void everyQueryReadsOnTheStatusLine();
    void installationSettings_data();
    void installationSettings();
    void powerStatesFollowTheClock();
    void lampHoursGrowOnlyWhileLit();
    void temperaturesFollowTheLamps();
    void pressureShowsAsConfigured();
    void everyCodeThePanelSendsIsUnderstood();
    void anythingElseGetsTheErrorReply_data();
    void anythingElseGetsTheErrorReply();
    void commandsAreCutAtCarriageReturns();
};

void TestProjector::everyQueryReadsOnTheStatusLine_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<qint64>("queryAt");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("status");
    const QStringList none;
    const QStringList on = {QStringLiteral("0:C00")};  // the count-down lasts 3000 ms
    QTest::newRow("stand-by CR0") << none << 0LL << QByteArray("CR0") << " Stand by";
    QTest::newRow("stand-by CR1") << none << 0LL << QByteArray("CR1") << " Computer 1";
    QTest::newRow("stand-by CR3") << none << 0LL << QByteArray("CR3") << " 1 2 3 4 CR  Hour Use";
    QTest::newRow("stand-by CR4") << none << 0LL << QByteArray("CR4") << " Normally";
    QTest::newRow("stand-by CR6") << none << 0LL << QByteArray("CR6")
                                  << "  S1=   2 5 . 0 C  ,   S2=  2 5 . 0 C , S3=   2 5 . 0 C";
    QTest::newRow("stand-by CR7") << none << 0LL << QByteArray("CR7") << " All OFF : 2 Lamp mode";
    QTest::newRow("stand-by CR9") << none << 0LL << QByteArray("CR9") << " M V 7 0   S I M U L A T O R CR ";
    QTest::newRow("stand-by CRA") << none << 0LL << QByteArray("CRA") << " Stand by";
    QTest::newRow("stand-by pressure") << none << 0LL << QByteArray("CR PRESSURE") << "1013 hPa";
    QTest::newRow("count-down") << on << 2999LL << QByteArray("CR0") << " Count down";
    QTest::newRow("count-down lamps") << on << 1LL << QByteArray("CR7") << " No1,2 ON  : 2 Lamp mode";
    QTest::newRow("count-down mute") << on << 1LL << QByteArray("CRA") << " Stand by";
    QTest::newRow("on") << on << 3000LL << QByteArray("CR0") << " Power ON";
    QTest::newRow("on no mute") << on << 3000LL << QByteArray("CRA") << " Video & Audio mute OFF";
    QTest::newRow("video mute") << on + QStringList{"3000:C0D"} << 3000LL << QByteArray("CRA") << " Video mute ON";
    QTest::newRow("audio mute") << on + QStringList{"3000:C0B"} << 3000LL << QByteArray("CRA") << " Audio mute ON";
    QTest::newRow("both mutes") << on + QStringList{"0:C0B", "0:C0D"} << 3000LL << QByteArray("CRA")
                                << " Video & Audio mute ON";
    QTest::newRow("mutes off") << on + QStringList{"0:C0B", "0:C0D", "1:C0C", "1:C0E"} << 3000LL << QByteArray("CRA")
                               << " Video & Audio mute OFF";
    QTest::newRow("cooling") << on + QStringList{"5000:C01"} << 7999LL << QByteArray("CR0") << " Cooling down";
    QTest::newRow("cooling lamps") << on + QStringList{"5000:C01"} << 5000LL << QByteArray("CR7")
                                   << " All OFF : 2 Lamp mode";
    QTest::newRow("cooled") << on + QStringList{"5000:C01"} << 8000LL << QByteArray("CR0") << " Stand by";
    QTest::newRow("C06") << QStringList{"0:C06"} << 0LL << QByteArray("CR1") << " Computer 2";
    QTest::newRow("C07") << QStringList{"0:C07"} << 0LL << QByteArray("CR1") << " Video";
    QTest::newRow("C05") << QStringList{"0:C07", "0:C05"} << 0LL << QByteArray("CR1") << " Computer 1";
    QTest::newRow("PC1 signal") << QStringList{"0:C07", "0:C54"} << 0LL << QByteArray("CR1") << " Computer 1";
    QTest::newRow("PC2 signal") << QStringList{"0:CF INPUT COMPUTER2 ANALOG"} << 0LL << QByteArray("CR1")
                                << " Computer 2";
    QTest::newRow("video signal") << QStringList{"0:CF INPUT VIDEO VIDEO"} << 0LL << QByteArray("CR1") << " Video";
}

void TestProjector::everyQueryReadsOnTheStatusLine() {
    QFETCH(QStringList, steps);
    QFETCH(qint64, queryAt);
    QFETCH(QByteArray, query);
    Projector projector;
    QTEST(statusAfter(projector, steps, queryAt, query), "status");
}

void TestProjector::installationSettings_data() {
    QTest::addColumn<QByteArray>("reversal");
    QTest::addColumn<int>("lampMode");
    QTest::addColumn<QString>("reversalText");
    QTest::addColumn<QString>("lampsOff");
    QTest::addColumn<QString>("lampsOn");
    QTest::newRow("10 no1") << QByteArray("10") << int(LampMode::No1) << " Top/Bottom reversal"
                            << " All OFF : 1 Lamp mode(No1 USE)"
                            << " No1 ON  : 1 Lamp mode(No1 USE)";
    QTest::newRow("01 no2") << QByteArray("01") << int(LampMode::No2) << " Left/Right reversal"
                            << " All OFF : 1 Lamp mode(No2 USE)"
                            << " No2 ON  : 1 Lamp mode(No2 USE)";
    QTest::newRow("00 dual") << QByteArray("00") << int(LampMode::Dual) << " Top/Bottom , Left/Right reversal"
                             << " All OFF : 2 Lamp mode"
                             << " No1,2 ON  : 2 Lamp mode";
}

void TestProjector::installationSettings() {
    QFETCH(QByteArray, reversal);
    QFETCH(int, lampMode);
    ProjectorSettings settings;
    settings.reversal = reversal;
    settings.lampMode = LampMode(lampMode);
    Projector projector(settings);
    QTEST(statusLine("CR4", projector.answer("CR4", 0)), "reversalText");
    QTEST(statusLine("CR7", projector.answer("CR7", 0)), "lampsOff");
    projector.answer("C00", 0);
    QTEST(statusLine("CR7", projector.answer("CR7", 10'000)), "lampsOn");
    QTEST(statusLine("CR4", projector.answer("CR4", 10'000)), "reversalText");
}

void TestProjector::powerStatesFollowTheClock() {
    ProjectorSettings settings;
    settings.countDownMs = 100;
    settings.coolingDownMs = 200;
    Projector projector(settings, 1000);
    projector.answer("C01", 1000);  // off in stand-by: nothing happens
    QCOMPARE(projector.power(1000), Power::Standby);
    projector.answer("C00", 1000);
    QCOMPARE(projector.power(1099), Power::CountDown);
    projector.answer("C00", 1099);  // a second "on" does not restart the count-down
    QCOMPARE(projector.power(1100), Power::On);
    projector.answer("C01", 1500);
    QCOMPARE(projector.power(1699), Power::CoolingDown);
    projector.answer("C00", 1650);  // on while cooling down is ignored
    QCOMPARE(projector.power(1700), Power::Standby);

    // Off during the count-down cools down at once; asked much later, the
    // states that passed in between are passed through in order.
    projector.answer("C00", 2000);
    projector.answer("C01", 2050);
    QCOMPARE(projector.power(2100), Power::CoolingDown);
    QCOMPARE(projector.power(1'000'000), Power::Standby);

    settings.countDownMs = 0;
    settings.coolingDownMs = 0;
    Projector instant(settings);
    instant.answer("C00", 0);
    QCOMPARE(instant.power(0), Power::On);
    instant.answer("C01", 0);
    QCOMPARE(instant.power(0), Power::Standby);
}

void TestProjector::lampHoursGrowOnlyWhileLit() {
    ProjectorSettings settings;
    settings.lampHours = 10;
    settings.msPerLampHour = 1000;
    settings.countDownMs = 500;  // the lamps are lit during the count-down too
    settings.coolingDownMs = 5000;
    Projector projector(settings);
    QCOMPARE(projector.answer("CR3", 50'000), QByteArray("10\r"));  // stand-by adds nothing
    projector.answer("C00", 50'000);
    QCOMPARE(projector.answer("CR3", 50'999), QByteArray("10\r"));
    QCOMPARE(projector.answer("CR3", 51'000), QByteArray("11\r"));
    projector.answer("C01", 52'500);
    QCOMPARE(projector.answer("CR3", 52'500), QByteArray("12\r"));
    QCOMPARE(projector.answer("CR3", 90'000), QByteArray("12\r"));  // cooling down and stand-by add nothing
    projector.answer("C00", 90'000);
    QCOMPARE(projector.answer("CR3", 90'500), QByteArray("13\r"));  // the half hour left over counts on
}

void TestProjector::temperaturesFollowTheLamps() {
    Projector projector;
    projector.answer("C00", 0);
    const QByteArray warming = projector.answer("CR6", 20'000);  // one time constant
    QCOMPARE(warming, QByteArray(" 31.3, 39.5, 35.1\r"));
    QCOMPARE(projector.answer("CR6", 600'000), QByteArray(" 35.0, 48.0, 41.0\r"));
    projector.answer("C01", 600'000);
    QCOMPARE(projector.answer("CR6", 1'200'000), QByteArray(" 25.0, 25.0, 25.0\r"));
    QCOMPARE(statusLine("CR6", " 35.0, 48.0, 41.0\r"),
             QStringLiteral("  S1=   3 5 . 0 C  ,   S2=  4 8 . 0 C , S3=   4 1 . 0 C"));
}

void TestProjector::pressureShowsAsConfigured() {
    // One step of the sensor is about 1.06 hPa: every pressure shows as
    // itself or its neighbour.
    for (int hpa = 0; hpa <= 7000; ++hpa) {
        ProjectorSettings settings;
        settings.pressureHpa = hpa;
        Projector projector(settings);
        const QString shown = statusLine("CR PRESSURE", projector.answer("CR PRESSURE", 0));
        QVERIFY2(shown.endsWith(u" hPa"), qPrintable(shown));
        const int value = shown.chopped(4).toInt();
        QVERIFY2(qAbs(value - hpa) <= 1, qPrintable(QStringLiteral("%1 hPa shown as %2").arg(hpa).arg(shown)));
    }
    QCOMPARE(Projector::pressureReading(1013), 853);
}

void TestProjector::everyCodeThePanelSendsIsUnderstood() {
    QList<std::u16string_view> codes;
    for (const auto &button : mv70::kOneShotButtons)
        codes << button.code;
    for (const auto code : mv70::kRepeatCodes)
        if (!code.empty())
            codes << code;
    codes << u"CRA" << u"CR9" << u"CR7" << u"CR PRESSURE";  // typed by the operator
    Projector projector;
    for (const auto code : codes) {
        const QByteArray command = QStringView(code).toLatin1();
        const QByteArray answer = projector.answer(command, 0);
        QVERIFY2(answer != Projector::kError, command.constData());
        QVERIFY2(answer == QByteArray(1, Projector::kAck) || (command.startsWith("CR") && answer.endsWith('\r')),
                 command.constData());
    }
}

void TestProjector::anythingElseGetsTheErrorReply_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("lower case") << QByteArray("cr0");
    QTest::newRow("trailing blank") << QByteArray("CR0 ");
    QTest::newRow("short") << QByteArray("C0");
    QTest::newRow("unknown code") << QByteArray("C61");
    QTest::newRow("phrase in part") << QByteArray("CF INPUT VIDEO");
    QTest::newRow("control byte") << QByteArray("C\x06"
                                                "0");
}

void TestProjector::anythingElseGetsTheErrorReply() {
    QFETCH(QByteArray, command);
    Projector projector;
    QCOMPARE(projector.answer(command, 0), Projector::kError);
    QCOMPARE(projector.power(0), Power::Standby);
}

void TestProjector::commandsAreCutAtCarriageReturns() {
    CommandReader reader;
    QCOMPARE(reader.feed("C0"), QList<QByteArray>());
    QCOMPARE(reader.feed("0\rCR"), QList<QByteArray>{"C00"});
    QCOMPARE(reader.feed("0\r\nCR1\r\r"), (QList<QByteArray>{"CR0", "CR1", ""}));

    // A line without an end is kept bounded and not understood when it ends.
    const QList<QByteArray> commands = reader.feed(QByteArray(100'000, 'C') + "\rC01\r");
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].size(), CommandReader::kMaxCommand + 1);
    QCOMPARE(Projector().answer(commands[0], 0), Projector::kError);
    QCOMPARE(commands[1], QByteArray("C01"));
}

QTEST_GUILESS_MAIN(TestProjector)
#include "test_projector.moc"
