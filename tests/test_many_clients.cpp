// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge as a process between the simulator and Debian's broker, with
// many clients at once on loopback: a flood of MQTT presses and PJLink
// controllers that hang up, silent connections from one address, password
// guessers from one address and from many, searches, and a large MQTT
// message. Another controller is still served, guessing stays slow, and the
// bridge's memory stays small. Times are measured and printed; the limits
// asserted are the ones controllers need.

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include "mosquitto_process.h"
#include "mqtt_peer.h"
#include "pjlink/protocol.h"
#include "sim_process.h"

namespace {

constexpr int kWaitMs = 20000;
const QByteArray kPassword = "room 101";

// One PJLink connection from a loopback address of our choice; every line
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
    QByteArray digest(const QByteArray &password) const {
        return mv70::pjlink::expectedDigest(lines[0].mid(9), password);
    }
    bool waitLines(qsizetype count) {
        return QTest::qWaitFor([&] { return lines.size() >= count || socket.state() == QTcpSocket::UnconnectedState; },
                               kWaitMs)
            && lines.size() >= count;
    }
    QTcpSocket socket;
    QByteArray buffer;
    QByteArrayList lines;
    std::function<void(const QByteArray &)> onLine;
    bool ended = false;  // for the caller's bookkeeping
};

// Logs in from `from` with `password`: the milliseconds from connecting to
// the answer of the first request, and that answer.
std::pair<qint64, QByteArray> login(const QString &from, quint16 port, const QByteArray &password) {
    QElapsedTimer clock;
    clock.start();
    Connection c(from, port);
    if (!c.waitLines(1))
        return {-1, {}};
    c.socket.write(c.digest(password) + "%1POWR ?\r");
    c.waitLines(2);
    return {clock.elapsed(), c.lines.value(1)};
}

qint64 peakMemoryKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

}  // namespace

class TestManyClients : public QObject {
    Q_OBJECT

private slots:
    void oneClientTakesNeitherTheLineNorTheDoor() {
        SimProcess sim({"--countdown", "100"});
        MosquittoProcess broker(QStringLiteral("bridge"), QStringLiteral("s3cret"));
        QVERIFY(!sim.path().isEmpty() && broker.listening());
        MqttPeer ha(broker.port(), QStringLiteral("bridge"), QStringLiteral("s3cret"));
        QVERIFY(ha.waitConnected() && ha.subscribe(QStringLiteral("mv70/hall/#")));
        QTemporaryDir dir;
        for (const auto &[file, content] : {std::pair{"pjlink", kPassword}, std::pair{"mqtt", QByteArray("s3cret")}}) {
            QFile f(dir.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content + '\n');
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        const quint16 port = MosquittoProcess::freePort();
        QProcess bridge;
        bridge.setProcessChannelMode(QProcess::MergedChannels);
        bridge.start(QStringLiteral(MV70_BRIDGE_PROGRAM),
                     {"--port", sim.path(), "--name", "hall", "--pjlink", QStringLiteral("127.0.0.1:%1").arg(port),
                      "--pjlink-password-file", dir.filePath("pjlink"), "--mqtt", broker.url(), "--mqtt-user", "bridge",
                      "--mqtt-password-file", dir.filePath("mqtt")});
        QByteArray log;
        const auto logSays = [&](const char *text) {
            return QTest::qWaitFor([&] { return (log += bridge.readAll()).contains(text); }, kWaitMs);
        };
        QVERIFY(logSays("PJLink on"));
        QVERIFY(ha.waitFor(QStringLiteral("mv70/hall/power_state"), QStringLiteral("off")));
        QCOMPARE(ha.payloads(QStringLiteral("mv70/hall/line")), QStringList{"online"});  // never "offline" first

        // The room's controller logs in and switches on.
        Connection room(QStringLiteral("127.0.0.2"), port);
        QVERIFY(room.waitLines(1));
        room.socket.write(room.digest(kPassword) + "%1POWR 1\r");
        QVERIFY(room.waitLines(2));
        QCOMPARE(room.lines[1], "%1POWR=OK");
        QVERIFY(ha.waitFor(QStringLiteral("mv70/hall/power_state"), QStringLiteral("on")));

        // Silent connections from one address: sixteen are taken, the rest refused.
        std::vector<std::unique_ptr<Connection>> silent;
        for (int i = 0; i < 24; ++i)
            silent.push_back(std::make_unique<Connection>(QStringLiteral("127.0.0.3"), port));
        QElapsedTimer silentSince;
        silentSince.start();
        const auto greeted = [&] {
            return std::count_if(silent.begin(), silent.end(), [](const auto &c) { return !c->lines.isEmpty(); });
        };
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::all_of(silent.begin(), silent.end(), [](const auto &c) {
                    return !c->lines.isEmpty() || c->socket.state() == QTcpSocket::UnconnectedState;
                });
            },
            kWaitMs));
        QCOMPARE(int(greeted()), 16);
        silent.front()->socket.write("PJLINK 2 x\r");  // never logged in, though it talks

        // The flood: controllers that ask for a volume step and hang up, and
        // 2,000 volume presses on MQTT. Then the room mutes the picture.
        int hangUps = 0;
        std::vector<std::unique_ptr<Connection>> gone;
        QObject context;
        std::function<void()> hangUp = [&] {
            gone.push_back(std::make_unique<Connection>(QStringLiteral("127.0.0.1"), port));
            Connection *c = gone.back().get();
            const auto next = [&, c] {
                if (std::exchange(c->ended, true))
                    return;
                c->socket.abort();
                if (++hangUps < 500)
                    QTimer::singleShot(0, &context, hangUp);
            };
            c->onLine = [c, next](const QByteArray &line) {
                if (line.startsWith("PJLINK 1 "))
                    c->socket.write(c->digest(kPassword) + "%1POWR ?\r%2SVOL 1\r");
                else
                    next();
            };
            QObject::connect(&c->socket, &QTcpSocket::disconnected, &context, next);
        };
        for (int i = 0; i < 4; ++i)
            hangUp();
        QVERIFY(ha.publishBurst(QStringLiteral("mv70/hall/volume_up/set"), QStringLiteral("PRESS"), 2000));
        QElapsedTimer served;
        served.start();
        room.socket.write("%1AVMT 11\r");
        QVERIFY(room.waitLines(3));
        const qint64 servedMs = served.elapsed();
        QCOMPARE(room.lines[2], "%1AVMT=OK");
        QVERIFY(QTest::qWaitFor([&] { return hangUps >= 500; }, kWaitMs));
        QVERIFY2(servedMs <= 2000, qPrintable(QString::number(servedMs)));
        QVERIFY(logSays("wait for the line already"));

        // Guessers: twelve connections from one address and one from each
        // of eight others of the same network, guessing wrong as fast as
        // they are answered; and searches, as fast as a timer goes.
        QElapsedTimer attack;
        attack.start();
        QList<qint64> refusals;
        std::function<void(QString)> guess = [&](const QString &from) {
            gone.push_back(std::make_unique<Connection>(from, port));
            Connection *c = gone.back().get();
            c->onLine = [&, c](const QByteArray &line) {
                if (line.startsWith("PJLINK 1 "))
                    c->socket.write(QByteArray(32, 'f') + "%1POWR ?\r");
                else if (line == "PJLINK ERRA")
                    refusals.append(attack.elapsed());
            };
            QObject::connect(&c->socket, &QTcpSocket::disconnected, &context,
                             [&, from] { QTimer::singleShot(0, &context, [&, from] { guess(from); }); });
        };
        for (int i = 0; i < 12; ++i)
            guess(QStringLiteral("127.0.0.4"));
        for (int i = 5; i <= 12; ++i)
            guess(QStringLiteral("127.0.0.%1").arg(i));
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

        // The room's controller, known to the bridge, gets its password
        // wrong three times, then right; one never seen, on another
        // network, gets it right at once.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(login(QStringLiteral("127.0.0.2"), port, "room 100").second, "PJLINK ERRA");
        const auto [knownMs, knownAnswer] = login(QStringLiteral("127.0.0.2"), port, kPassword);
        const auto [newMs, newAnswer] = login(QStringLiteral("127.0.1.2"), port, kPassword);
        QCOMPARE(knownAnswer, "%1POWR=1");
        QCOMPARE(newAnswer, "%1POWR=1");
        searches.stop();
        const double seconds = double(attack.elapsed()) / 1000.0;
        const int guesses = int(refusals.size());
        qInfo("served in %lld ms; wrong guesses answered %d in %.1f s; logins %lld ms (after 3 wrong), %lld ms "
              "(new); %d search answers; %d volume steps on the line",
              servedMs, guesses, seconds, knownMs, newMs, answers, sim.received("C09"));
        QVERIFY2(knownMs <= 5000 && newMs <= 5000, qPrintable(QStringLiteral("%1 %2").arg(knownMs).arg(newMs)));
        QVERIFY(guesses >= 3 && guesses <= seconds + 3);
        QVERIFY(answers >= 1 && answers <= 4 * (seconds + 1));

        // A large message to a command topic never reaches the bridge.
        const qint64 before = peakMemoryKb(bridge.processId());
        QVERIFY(ha.publishLarge(QStringLiteral("mv70/hall/power/set"), 20'000'000));
        const int down = sim.received("C0A");
        QVERIFY(ha.publish(QStringLiteral("mv70/hall/volume_down/set"), QStringLiteral("PRESS")));
        QTRY_VERIFY_WITH_TIMEOUT(sim.received("C0A") > down, kWaitMs);  // after the large one, in order
        const qint64 after = peakMemoryKb(bridge.processId());
        qInfo("peak memory %lld kB before a 20 MB message, %lld kB after", before, after);
        QVERIFY2(after - before < 8000, qPrintable(QStringLiteral("%1 -> %2 kB").arg(before).arg(after)));

        // The silent connections were closed at the login deadline.
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(silent.begin(), silent.end(),
                        [](const auto &c) { return c->socket.state() == QTcpSocket::UnconnectedState; }),
            kWaitMs);
        QVERIFY2(silentSince.elapsed() < 15000, qPrintable(QString::number(silentSince.elapsed())));
        bridge.terminate();
        QVERIFY(bridge.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestManyClients)
#include "test_many_clients.moc"
