// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge on MQTT, end to end: the bridge as a process between the
// simulator and Debian's broker, watched by paho as Home Assistant would.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include "mosquitto_process.h"
#include "mqtt_peer.h"
#include "sim_process.h"

namespace {

const QString kUser = QStringLiteral("bridge");
const QString kPassword = QStringLiteral("s3cret");
const QString kBase = QStringLiteral("mv70/hall/");
const QString kDiscovery = QStringLiteral("homeassistant/device/mv70_hall/config");

// mv70-bridge for one projector, its messages kept; with `pjlink`, its
// PJLink face listens too, on a loopback port of its own.
class BridgeProcess {
public:
    BridgeProcess(const QString &device, const MosquittoProcess &broker, const QString &password, bool pjlink = false)
        : service_(
            QStringLiteral(MV70_BRIDGE_PROGRAM), pjlink ? ServiceProcess::Port::Given : ServiceProcess::Port::None,
            [this, device, pjlink, url = broker.url()](quint16 port) {
                QStringList arguments{"--port", device, "--name",      "hall", "--status-poll",        "500",
                                      "--mqtt", url,    "--mqtt-user", kUser,  "--mqtt-password-file", passwordFile()};
                if (pjlink)
                    arguments << "--pjlink" << QStringLiteral("127.0.0.1:%1").arg(port);
                return arguments;
            }) {
        QFile file(passwordFile());
        if (file.open(QIODevice::WriteOnly)) {
            file.write(password.toUtf8() + '\n');
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        service_.start();
    }
    ~BridgeProcess() {
        if (service_.terminate() < 0)
            service_.kill();
    }
    QString log() const { return QString::fromUtf8(service_.log()); }
    bool waitLog(const QString &text, int timeoutMs = 20000) {
        return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
    }
    // Ends the bridge as a crash would: no goodbye to the broker.
    void kill9() { service_.kill(); }
    quint16 pjlinkPort() const { return service_.port(); }

private:
    QString passwordFile() const { return dir_.filePath(QStringLiteral("password")); }

    QTemporaryDir dir_;
    ServiceProcess service_;
};

// The payloads seen on `topic`, each change once.
QStringList changes(const MqttPeer &peer, const QString &topic) {
    QStringList seen;
    for (const QString &payload : peer.payloads(topic))
        if (seen.isEmpty() || seen.constLast() != payload)
            seen << payload;
    return seen;
}

}  // namespace

class TestMqttBridge : public QObject {
    Q_OBJECT

private slots:
    // One run proves what Home Assistant relies on: discovery, state in
    // order, commands once, retained commands ignored, the line's
    // availability, a broker restart, and the last will.
    void homeAssistantDrivesTheProjector() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("projector"));
        const QStringList simOptions{"--link", link, "--countdown", "1500", "--cooling", "1500"};
        auto sim = std::make_unique<SimProcess>(simOptions);
        QVERIFY(!sim->path().isEmpty());
        MosquittoProcess broker(kUser, kPassword);
        QVERIFY(broker.listening());

        // A stale command some client left retained, before the bridge came.
        {
            MqttPeer stale(broker.port(), kUser, kPassword);
            QVERIFY(stale.waitConnected());
            QVERIFY(stale.publish(kBase + "power/set", QStringLiteral("ON"), true));
        }
        MqttPeer ha(broker.port(), kUser, kPassword);
        QVERIFY(ha.waitConnected());
        QVERIFY(ha.subscribe(QStringLiteral("homeassistant/device/#")));
        QVERIFY(ha.subscribe(kBase + "#"));

        auto bridge = std::make_unique<BridgeProcess>(link, broker, kPassword);
        QVERIFY2(ha.waitFor(kBase + "power_state", QStringLiteral("off")), qPrintable(bridge->log()));
        QCOMPARE(ha.last(kBase + "bridge"), u"online");
        QCOMPARE(ha.last(kBase + "line"), u"online");
        QVERIFY(bridge->waitLog(QStringLiteral("ignored a retained command")));
        QCOMPARE(sim->received("C00"), 0);

        // Discovery: retained, valid JSON, what Home Assistant needs.
        QVERIFY(ha.waitUntil([&] { return !ha.payloads(kDiscovery).isEmpty(); }, 10000));
        const QJsonObject discovery = QJsonDocument::fromJson(ha.last(kDiscovery).toUtf8()).object();
        QCOMPARE(discovery[u"dev"][u"model"].toString(), u"MV70");
        QCOMPARE(discovery[u"dev"][u"sw_version"].toString(), QStringLiteral(MV70_VERSION));
        QCOMPARE(discovery[u"cmps"][u"power"][u"command_topic"].toString(), kBase + "power/set");
        QCOMPARE(discovery[u"availability_mode"].toString(), u"all");
        const QString powerTopic = discovery[u"cmps"][u"power_state"][u"state_topic"].toString();
        QCOMPARE(powerTopic, kBase + "power_state");
        // The stale command is cleared; its empty payload is refused, not sent.
        QVERIFY(ha.publish(kBase + "power/set", QString(), true));

        // A command reaches the line once; the state follows it in order.
        QVERIFY(ha.publish(kBase + "power/set", QStringLiteral("ON")));
        QVERIFY(ha.waitFor(kBase + "power_state", QStringLiteral("on")));
        // The readings of one poll go out one after another: wait for the last.
        QVERIFY(ha.waitFor(kBase + "status", QStringLiteral("Power ON")));
        QCOMPARE(changes(ha, kBase + "power_state"), (QStringList{"off", "warming up", "on"}));
        QCOMPARE(changes(ha, kBase + "status"), (QStringList{"Stand by", "Count down", "Power ON"}));
        QCOMPARE(ha.last(kBase + "power"), u"ON");
        QCOMPARE(sim->received("C00"), 1);

        // Home Assistant starts again: discovery again.
        ha.clear();
        QVERIFY(ha.publish(QStringLiteral("homeassistant/status"), QStringLiteral("online")));
        QVERIFY(ha.waitUntil([&] { return !ha.payloads(kDiscovery).isEmpty(); }, 10000));

        // The projector goes away and comes back on the same device.
        sim.reset();
        QVERIFY2(ha.waitFor(kBase + "line", QStringLiteral("offline")), qPrintable(bridge->log()));
        sim = std::make_unique<SimProcess>(simOptions);
        QVERIFY2(ha.waitFor(kBase + "line", QStringLiteral("online"), 30000), qPrintable(bridge->log()));

        // The broker restarts (its retained messages gone): the bridge comes
        // back, says so, and publishes everything again.
        broker.kill();
        QVERIFY(broker.start());
        QVERIFY2(bridge->waitLog(QStringLiteral("again after")), qPrintable(bridge->log()));
        MqttPeer after(broker.port(), kUser, kPassword);
        QVERIFY(after.waitConnected());
        QVERIFY(after.subscribe(QStringLiteral("homeassistant/device/#")));
        QVERIFY(after.subscribe(kBase + "#"));
        QVERIFY(after.waitFor(kBase + "bridge", QStringLiteral("online")));
        QVERIFY(after.waitFor(kBase + "line", QStringLiteral("online")));
        QVERIFY(after.waitUntil([&] { return !after.payloads(kDiscovery).isEmpty(); }, 10000));
        QVERIFY(after.waitFor(kBase + "power_state", QStringLiteral("off")));
        for (const MqttPeer::Message &message : after.messages())
            QVERIFY2(message.retained, qPrintable(message.topic));

        // The bridge dies: the broker says so for it.
        bridge->kill9();
        QVERIFY(after.waitFor(kBase + "bridge", QStringLiteral("offline")));
    }

    // A wrong MQTT password is told clearly, and PJLink goes on.
    void aWrongPasswordLeavesPjlinkServing() {
        SimProcess sim;
        QVERIFY(!sim.path().isEmpty());
        MosquittoProcess broker(kUser, kPassword);
        BridgeProcess bridge(sim.path(), broker, QStringLiteral("guess"), true);
        QVERIFY2(bridge.waitLog(QStringLiteral("not authorised")), qPrintable(bridge.log()));
        const quint16 pjlinkPort = bridge.pjlinkPort();

        QTcpSocket pjlink;
        pjlink.connectToHost(QHostAddress::LocalHost, pjlinkPort);
        QVERIFY(pjlink.waitForConnected(5000));
        QByteArray buffer;
        const auto reply = [&] {
            (void)QTest::qWaitFor([&] { return (buffer += pjlink.readAll()).contains('\r'); }, 10000);
            const QByteArray line = buffer.left(buffer.indexOf('\r') + 1);
            buffer.remove(0, line.size());
            return line;
        };
        QCOMPARE(reply(), "PJLINK 0\r");
        // PJLink answers from the projector's readings: ERR4 until the first is in.
        QTRY_COMPARE_WITH_TIMEOUT((pjlink.write("%1POWR ?\r"), reply()), QByteArray("%1POWR=0\r"), 10000);
        QCOMPARE(bridge.log().count(u"not authorised"), 1);
    }
};

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "test_mqtt_bridge.moc"
