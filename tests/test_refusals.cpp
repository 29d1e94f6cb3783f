// SPDX-License-Identifier: GPL-3.0-or-later
// A command the projector cannot do in its power state now gets one answer
// in every front end: PJLink's ERR3, MQTT's refusal with nothing queued, and
// mv70-ctl's own words with exit status 2 and nothing sent but the status
// query. Where nothing is known of the power, all three let it through.

#include <QJsonDocument>
#include <QtTest>

#include "ctl/port_exchange.h"
#include "ctl/run.h"
#include "mqtt/topics.h"
#include "pjlink/mapping.h"
#include "pty_peer.h"

using namespace mv70;

class TestRefusals : public QObject {
    Q_OBJECT

private slots:
    void oneAnswerInEveryFrontEnd_data();
    void oneAnswerInEveryFrontEnd();
};

void TestRefusals::oneAnswerInEveryFrontEnd_data() {
    QTest::addColumn<QByteArray>("status");  // the projector's reply to the status query
    QTest::addColumn<int>("power");          // as the bridge's state holds it
    QTest::addColumn<QString>("words");      // mv70-ctl's action
    QTest::addColumn<QByteArray>("pjlink");  // class 2 command and parameter
    QTest::addColumn<QString>("key");        // MQTT command topic and payload
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("said");  // how the power state is put
    QTest::addColumn<QString>("json");  // and its name in mv70-ctl's JSON
    QTest::newRow("power off while warming up") << QByteArray("40\r") << int(Power::WarmingUp) << "power off"
                                                << QByteArray("POWR 0") << "power" << QByteArray("OFF") << "warming up"
                                                << "warming up";
    QTest::newRow("power on while cooling down")
        << QByteArray("28\r") << int(Power::CoolingDown) << "power on" << QByteArray("POWR 1") << "power"
        << QByteArray("ON") << "cooling down"
        << "cooling down";
    QTest::newRow("input in standby") << QByteArray("80\r") << int(Power::Standby) << "input pc1"
                                      << QByteArray("INPT 11") << "input" << QByteArray("PC1") << "in standby"
                                      << "standby";
    QTest::newRow("picture mute while warming up")
        << QByteArray("40\r") << int(Power::WarmingUp) << "no-show on" << QByteArray("AVMT 11") << "picture_mute"
        << QByteArray("ON") << "warming up"
        << "warming up";
    QTest::newRow("volume after a power failure")
        << QByteArray("10\r") << int(Power::Standby) << "volume up" << QByteArray("SVOL 1") << "volume_up"
        << QByteArray("PRESS") << "in standby"
        << "standby";
}

void TestRefusals::oneAnswerInEveryFrontEnd() {
    QFETCH(QByteArray, status);
    QFETCH(int, power);
    QFETCH(QString, words);
    QFETCH(QByteArray, pjlink);
    QFETCH(QString, key);
    QFETCH(QByteArray, payload);
    QFETCH(QString, said);

    ProjectorState state;
    state.lineUp = true;
    state.power = Power(power);
    ProjectorState unknown;
    unknown.lineUp = true;

    // PJLink: ERR3, nothing for the projector.
    pjlink::Request request;
    request.pjlinkClass = '2';
    request.command = pjlink.left(4);
    request.parameter = pjlink.sliced(5);
    const pjlink::Plan refused = pjlink::plan(request, state, {});
    QCOMPARE(refused.reply, "%2" + pjlink.left(4) + "=ERR3\r");
    QVERIFY(refused.codes.isEmpty());
    QCOMPARE(pjlink::plan(request, unknown, {}).codes.size(), 1);

    // MQTT: a refusal for the log, and no command to queue.
    const mqtt::CommandRequest asked = mqtt::commandFor(key, payload, state);
    QVERIFY(std::holds_alternative<mqtt::Refusal>(asked));
    QCOMPARE(std::get<mqtt::Refusal>(asked).reason,
             QStringLiteral("%1/set %2 is not possible now: the projector is %3").arg(key, payload, said));
    QVERIFY(std::holds_alternative<QString>(mqtt::commandFor(key, payload, unknown)));

    // mv70-ctl: the status query, then its own words and exit status 2.
    PtyPeer projector;
    const auto parsed = ctl::parseArguments({QStringLiteral("--port"), projector.path(), words});
    ctl::PortExchange exchange(projector.path(), std::get<ctl::Options>(parsed), nullptr);
    exchange.start();
    QCOMPARE(projector.readUntil("\r"), QByteArray("CR0\r"));
    projector.write(status);
    QTRY_VERIFY_WITH_TIMEOUT(exchange.isFinished(), 5000);
    const ctl::PortResult &result = exchange.result();
    QCOMPARE(result.status, int(ctl::kUsageError));
    QCOMPARE(result.error, QStringLiteral("%1 is not possible now: the projector is %2").arg(words, said));
    QCOMPARE(result.sent, QByteArray("CR0\r"));
    QCOMPARE(projector.readAvailable(), QByteArray());
    // --json says what the status was, as a value.
    const QJsonObject json = QJsonDocument::fromJson(ctl::toJson(result)).object();
    QTEST(json.value(u"value").toObject().value(u"power").toString(), "json");
}

QTEST_GUILESS_MAIN(TestRefusals)
#include "test_refusals.moc"
