// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge on MQTT, end to end: the bridge as a process between the
// simulator and Debian's broker, watched by paho as Home Assistant would;
// and with many clients at once, on MQTT and PJLink.

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include "mosquitto_process.h"
#include "mqtt_peer.h"
#include "pjlink/protocol.h"
#include "sim_process.h"

namespace {

const QString kUser = QStringLiteral("bridge");
const QString kPassword = QStringLiteral("s3cret");
const QString kBase = QStringLiteral("mv70/hall/");
constexpr int kWaitMs = 20000;
const QString kDiscovery = QStringLiteral("homeassistant/device/mv70_hall/config");

// mv70-bridge for one projector, its messages kept; with `pjlink`, its
// PJLink face listens too, on a loopback port of its own. "$PASSWORD_FILE"
// in `more` stands for the file that holds `password`.
class BridgeProcess {
public:
    BridgeProcess(const QString &device, const MosquittoProcess &broker, const QString &password, bool pjlink = false,
                  const QStringList &more = {})
        : service_(
            QStringLiteral(MV70_BRIDGE_PROGRAM), pjlink ? ServiceProcess::Port::Given : ServiceProcess::Port::None,
            [this, device, pjlink, more, url = broker.url()](quint16 port) {
                QStringList arguments{"--port", device, "--name",      "hall", "--status-poll",        "500",
                                      "--mqtt", url,    "--mqtt-user", kUser,  "--mqtt-password-file", passwordFile()};
                if (pjlink)
                    arguments << "--pjlink" << QStringLiteral("127.0.0.1:%1").arg(port);
                return arguments + QStringList(more).replaceInStrings(QStringLiteral("$PASSWORD_FILE"), passwordFile());
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
    qint64 pid() const { return service_.processId(); }
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

// A PJLink connection from a loopback address of our choosing; every line
// the bridge sends is kept, and handed to `onLine` as it comes.
struct Connection {
    Connection(const QString &from, quint16 port) {
        socket.bind(QHostAddress(from), 0);
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            buffer += socket.readAll();
            for (qsizetype end; (end = buffer.indexOf('\r')) >= 0; buffer.remove(0, end + 1)) {
                lines.append(buffer.first(end));
                if (onLine)
                    onLine(lines.constLast());
            }
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool closed() const { return socket.state() == QTcpSocket::UnconnectedState; }
    // Line `index` once it has come; empty when it does not.
    QByteArray line(qsizetype index) {
        (void)QTest::qWaitFor([&] { return lines.size() > index || closed(); }, kWaitMs);
        return lines.value(index);
    }
    QByteArray digest(const QString &password = kPassword) {
        return mv70::pjlink::expectedDigest(line(0).mid(9), password.toUtf8());
    }
    QByteArray ask(const QByteArray &request) {
        socket.write(request + '\r');
        return line(lines.size());
    }
    QTcpSocket socket;
    QByteArray buffer;
    QByteArrayList lines;
    std::function<void(const QByteArray &)> onLine;
    bool ended = false;
};

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

    // Many clients at once. The room's controller is served within 2 s
    // through 2,000 MQTT presses and 500 controllers that hang up; silent
    // connections from one address take 16 places and are closed at the
    // login deadline; guessers from one address and eight more of its
    // network get about a guess a second, while the room's controller,
    // after three wrong tries, is in within 5 s; searches are answered a
    // few times a second; a 20 MB message never reaches the bridge.
    void oneClientTakesNeitherTheLineNorTheDoor() {
        std::vector<std::unique_ptr<Connection>> silent, gone;
        QObject context;  // goes before the connections its handlers make
        SimProcess sim({"--countdown", "100"});
        MosquittoProcess broker(kUser, kPassword);
        MqttPeer ha(broker.port(), kUser, kPassword);
        QVERIFY(ha.waitConnected() && ha.subscribe(kBase + "#"));
        BridgeProcess bridge(sim.path(), broker, kPassword, true, {"--pjlink-password-file", "$PASSWORD_FILE"});
        const quint16 port = bridge.pjlinkPort();
        QVERIFY2(ha.waitFor(kBase + "power_state", QStringLiteral("off")), qPrintable(bridge.log()));
        QCOMPARE(ha.payloads(kBase + "line"), QStringList{"online"});  // never "offline" first
        Connection room(QStringLiteral("127.0.0.2"), port);
        QCOMPARE(room.ask(room.digest() + "%1POWR 1"), "%1POWR=OK");
        QVERIFY(ha.waitFor(kBase + "power_state", QStringLiteral("on")));

        for (int i = 0; i < 24; ++i)
            silent.push_back(std::make_unique<Connection>(QStringLiteral("127.0.0.3"), port));
        QElapsedTimer silentSince;
        silentSince.start();
        const auto greeted = [](const auto &c) { return !c->lines.isEmpty(); };
        const auto settled = [&](auto &c) { return greeted(c) || c->closed(); };
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(silent.begin(), silent.end(), settled), kWaitMs);
        QCOMPARE(int(std::count_if(silent.begin(), silent.end(), greeted)), 16);
        silent[0]->socket.write("PJLINK 2 x\r");  // talks, but never logs in

        int hangUps = 0;
        std::function<void()> hangUp = [&] {
            Connection *c = gone.emplace_back(std::make_unique<Connection>(QStringLiteral("127.0.0.1"), port)).get();
            c->onLine = [&, c](const QByteArray &line) {
                if (line.startsWith("PJLINK 1 "))
                    c->socket.write(c->digest() + "%1POWR ?\r%2SVOL 1\r");
                else if (!std::exchange(c->ended, true)) {
                    c->socket.abort();
                    if (++hangUps < 500)
                        QTimer::singleShot(0, &context, hangUp);
                }
            };
            QObject::connect(&c->socket, &QTcpSocket::disconnected, &context, [c] { c->onLine("gone"); });
        };
        for (int i = 0; i < 4; ++i)
            hangUp();
        QVERIFY(ha.publish(kBase + "volume_up/set", QStringLiteral("PRESS"), false, 2000));
        QElapsedTimer served;
        served.start();
        QCOMPARE(room.ask("%1AVMT 11"), "%1AVMT=OK");
        const qint64 servedMs = served.elapsed();
        QVERIFY(QTest::qWaitFor([&] { return hangUps >= 500; }, kWaitMs));
        QVERIFY(bridge.waitLog(QStringLiteral("wait for the line already")));

        QElapsedTimer attack;
        attack.start();
        int refusals = 0;
        std::function<void(QString)> guess = [&](const QString &from) {
            Connection *c = gone.emplace_back(std::make_unique<Connection>(from, port)).get();
            c->onLine = [&, c](const QByteArray &line) {
                if (line.startsWith("PJLINK 1 "))
                    c->socket.write(QByteArray(32, 'f') + "%1POWR ?\r");
                refusals += line == "PJLINK ERRA";
            };
            QObject::connect(&c->socket, &QTcpSocket::disconnected, &context,
                             [&, from] { QTimer::singleShot(0, &context, [&, from] { guess(from); }); });
        };
        for (int i = 0; i < 20; ++i)  // twelve from 127.0.0.4, one from each of .5 to .12
            guess(QStringLiteral("127.0.0.%1").arg(std::max(4, i - 7)));
        QUdpSocket searcher;
        QVERIFY(searcher.bind(QHostAddress::LocalHost, 0));
        int answers = 0;
        QObject::connect(&searcher, &QUdpSocket::readyRead, [&] {
            while (searcher.hasPendingDatagrams())
                answers += searcher.receiveDatagram().data().startsWith("%2ACKN=");
        });
        QTimer searches;
        QObject::connect(&searches, &QTimer::timeout,
                         [&] { searcher.writeDatagram("%2SRCH\r", QHostAddress::LocalHost, port); });
        searches.start(2);
        const auto login = [&](const QString &from, const QString &password) {
            QElapsedTimer clock;
            clock.start();
            Connection c(from, port);
            const QByteArray answer = c.ask(c.digest(password) + "%1POWR ?");
            return std::pair{clock.elapsed(), answer};
        };
        for (int i = 0; i < 3; ++i)
            QCOMPARE(login(QStringLiteral("127.0.0.2"), QStringLiteral("s3cret?")).second, "PJLINK ERRA");
        const auto [knownMs, knownAnswer] = login(QStringLiteral("127.0.0.2"), kPassword);
        QCOMPARE(knownAnswer, "%1POWR=1");
        searches.stop();
        const double searchSeconds = double(attack.elapsed()) / 1000;
        qInfo("served in %lld ms; in after %lld ms (3 wrong before); %d search answers in %.1f s", servedMs, knownMs,
              answers, searchSeconds);
        QVERIFY(servedMs <= 2000 && knownMs <= 5000);
        QVERIFY(answers >= 1 && answers <= 4 * (searchSeconds + 1));

        const auto peakKb = [&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(bridge.pid()));
            const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
            return text.mid(text.indexOf("VmHWM:") + 6).trimmed().split(' ').value(0).toLongLong();
        };
        const qint64 before = peakKb();
        QVERIFY(ha.publish(kBase + "power/set", {}, false, 1, 20'000'000));
        const int down = sim.received("C0A");
        QVERIFY(ha.publish(kBase + "volume_down/set", QStringLiteral("PRESS")));
        QTRY_VERIFY_WITH_TIMEOUT(sim.received("C0A") > down, kWaitMs);  // in order: the large one is behind
        qInfo("peak memory %lld kB before a 20 MB message, %lld kB after", before, peakKb());
        QVERIFY(before > 0 && peakKb() - before < 8000);

        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(silent.begin(), silent.end(), [](auto &c) { return c->closed(); }),
                                 kWaitMs);
        QVERIFY2(silentSince.elapsed() < 15000, qPrintable(QString::number(silentSince.elapsed())));
        QVERIFY(QTest::qWaitFor([&] { return refusals >= 12; }, 60000));
        const double seconds = double(attack.elapsed()) / 1000;
        qInfo("%d wrong guesses answered in %.1f s", refusals, seconds);
        QVERIFY(refusals <= seconds + 3);
    }
};

QTEST_GUILESS_MAIN(TestMqttBridge)
#include "test_mqtt_bridge.moc"
