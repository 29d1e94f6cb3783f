// SPDX-License-Identifier: GPL-3.0-or-later
// The PJLink face of the bridge over real TCP and UDP on 127.0.0.1, with the
// bridge's projector on mv70-sim; and the npm `pjlink` client against it.
// Waits are for events, bounded by generous limits; nothing measures a time.

#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

#include "pjlink/protocol.h"
#include "pjlink_server/login_gate.h"
#include "pjlink_server/pjlink_server.h"
#include "projector/projector.h"
#include "sim_process.h"

using namespace mv70;
using bridge::PjlinkServer;
using bridge::Projector;

namespace {

constexpr int kWaitMs = 10000;

// A controller's connection, read reply by reply.
class Controller {
public:
    // `projector`: the one whose answers askUntil() waits to see change.
    explicit Controller(quint16 port, const Projector *projector = nullptr) : projector_(projector) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        greeting_ = line();
    }
    const QByteArray &greeting() const { return greeting_; }

    // The next line the bridge sends, CR included; empty when none came.
    QByteArray line() {
        QDeadlineTimer deadline(kWaitMs);
        while (!buffer_.contains('\r') && !deadline.hasExpired()) {
            if (socket_.state() == QAbstractSocket::UnconnectedState && socket_.bytesAvailable() == 0)
                break;
            if (socket_.bytesAvailable() == 0)
                QSignalSpy(&socket_, &QTcpSocket::readyRead).wait(100);
            buffer_ += socket_.readAll();
        }
        const qsizetype end = buffer_.indexOf('\r');
        if (end < 0)
            return {};
        const QByteArray out = buffer_.left(end + 1);
        buffer_.remove(0, end + 1);
        return out;
    }
    QByteArray ask(const QByteArray &request) {
        socket_.write(request + '\r');
        return line();
    }
    // Asks until the answer is `wanted`, again after each change of the
    // projector's state; every distinct answer on the way.
    QByteArrayList askUntil(const QByteArray &request, const QByteArray &wanted) {
        QByteArrayList seen;
        QDeadlineTimer deadline(3 * kWaitMs);
        while (!deadline.hasExpired()) {
            QSignalSpy changed(projector_, &Projector::stateChanged);
            const QByteArray answer = ask(request);
            if (seen.isEmpty() || seen.last() != answer)
                seen += answer;
            if (answer == wanted || answer.isEmpty())
                break;
            if (changed.isEmpty())
                changed.wait(int(deadline.remainingTime()));
        }
        return seen;
    }
    bool closedByBridge() {
        if (socket_.state() != QAbstractSocket::UnconnectedState)
            QSignalSpy(&socket_, &QTcpSocket::disconnected).wait(kWaitMs);
        return socket_.state() == QAbstractSocket::UnconnectedState;
    }
    QTcpSocket &socket() { return socket_; }

private:
    const Projector *projector_;
    QTcpSocket socket_;
    QByteArray greeting_;
    QByteArray buffer_;
};

// The bridge's projector on a fresh simulator, and its PJLink face on an
// ephemeral port of 127.0.0.1. A controller listens for notifications.
struct Bridge {
    // The simulator behind a link that goes with it: a stopped simulator's
    // device number, taken again by another test's, is never reopened.
    QTemporaryDir dir;
    SimProcess sim;
    std::unique_ptr<Projector> projector;
    std::unique_ptr<PjlinkServer> server;
    QUdpSocket controller;

    explicit Bridge(const QByteArray &password = {}, const QStringList &simOptions = {})
        : sim(simOptions + QStringList{QStringLiteral("--link"), dir.filePath(QStringLiteral("projector"))}) {
        bridge::ProjectorConfig config;
        config.name = QStringLiteral("Hall A");
        config.device = dir.filePath(QStringLiteral("projector"));
        config.statusPollMs = 200;
        config.slowPollMs = 1000;
        projector = std::make_unique<Projector>(config);
        controller.bind(QHostAddress::LocalHost, 0);
        bridge::PjlinkConfig pjlink;
        pjlink.port = 0;
        pjlink.password = password;
        pjlink.notifyAddress = QHostAddress(QHostAddress::LocalHost);
        pjlink.notifyPort = controller.localPort();
        server = std::make_unique<PjlinkServer>(*projector, pjlink);
        QString error;
        if (!server->listen(&error))
            qWarning("%s", qPrintable(error));
        projector->start();
    }
    // The first status has been read.
    bool ready() {
        return QTest::qWaitFor([this] { return projector->state().power != bridge::Power::Unknown; }, kWaitMs);
    }
    // The datagrams the controller has received so far.
    QByteArrayList notifications() {
        QByteArrayList out;
        while (controller.hasPendingDatagrams())
            out += controller.receiveDatagram().data();
        return out;
    }
};

}  // namespace

class TestPjlinkServer : public QObject {
    Q_OBJECT

private slots:
    // One controller runs the room: power on through the count-down, input,
    // mute, volume, readings; then the line goes and every reading says so.
    void controllerRunsTheRoom() {
        Bridge bridge;
        QVERIFY(!bridge.sim.path().isEmpty());
        QVERIFY(bridge.ready());
        Controller room(bridge.server->port(), bridge.projector.get());
        QCOMPARE(room.greeting(), QByteArray("PJLINK 0\r"));

        QCOMPARE(room.ask("%1POWR ?"), QByteArray("%1POWR=0\r"));
        QCOMPARE(room.ask("%1INPT 12"), QByteArray("%1INPT=ERR3\r"));  // in standby
        QCOMPARE(room.ask("%1POWR 1"), QByteArray("%1POWR=OK\r"));
        const QByteArrayList seen = room.askUntil("%1POWR ?", "%1POWR=1\r");
        QVERIFY2(seen.contains("%1POWR=3\r") && seen.last() == "%1POWR=1\r", seen.join(' ').constData());
        QCOMPARE(room.ask("%1LAMP ?"), QByteArray("%1LAMP=1234 1\r"));

        QCOMPARE(room.ask("%1INPT 12"), QByteArray("%1INPT=OK\r"));
        QCOMPARE(room.askUntil("%2INPT ?", "%2INPT=12\r").last(), QByteArray("%2INPT=12\r"));
        QCOMPARE(room.ask("%1AVMT 31"), QByteArray("%1AVMT=OK\r"));
        QCOMPARE(room.askUntil("%1AVMT ?", "%1AVMT=31\r").last(), QByteArray("%1AVMT=31\r"));
        QCOMPARE(room.ask("%1AVMT 20"), QByteArray("%1AVMT=OK\r"));
        QCOMPARE(room.askUntil("%1AVMT ?", "%1AVMT=11\r").last(), QByteArray("%1AVMT=11\r"));
        QCOMPARE(room.ask("%2SVOL 1"), QByteArray("%2SVOL=OK\r"));
        QCOMPARE(room.ask("%1ERST ?"), QByteArray("%1ERST=000000\r"));
        QCOMPARE(room.ask("%1NAME ?"), QByteArray("%1NAME=Hall A\r"));
        QTRY_COMPARE_WITH_TIMEOUT(bridge.sim.received("C09"), 1, kWaitMs);  // the simulator's log is behind
        QCOMPARE(bridge.sim.received("C00"), 1);
        QCOMPARE(bridge.sim.received("C06"), 1);
        QCOMPARE(bridge.sim.received("C0D") + bridge.sim.received("C0B") + bridge.sim.received("C0C"), 3);

        // The controller was told of each settled change, in order.
        QByteArrayList told;
        QTRY_VERIFY_WITH_TIMEOUT((told += bridge.notifications(), told.contains("%2INPT=12\r")), kWaitMs);
        QVERIFY(told.indexOf("%2POWR=0\r") < told.indexOf("%2POWR=1\r"));
        QVERIFY(!told.contains("%2POWR=3\r"));

        // Search: answered to the asker with the address LKUP carried.
        QUdpSocket asker;
        QVERIFY(asker.bind(QHostAddress::LocalHost, 0));
        asker.writeDatagram("%2SRCH\r", QHostAddress::LocalHost, bridge.server->port());
        QVERIFY(QSignalSpy(&asker, &QUdpSocket::readyRead).wait(kWaitMs));
        QCOMPARE(asker.receiveDatagram().data(), "%2ACKN=" + bridge.server->macAddress() + '\r');

        bridge.sim.stop();
        QCOMPARE(room.askUntil("%1POWR ?", "%1POWR=ERR4\r").last(), QByteArray("%1POWR=ERR4\r"));
        QCOMPARE(room.ask("%1POWR 0"), QByteArray("%1POWR=ERR4\r"));
        QCOMPARE(room.ask("%1CLSS ?"), QByteArray("%1CLSS=2\r"));
    }

    void notificationsAtStartAndOnChange() {
        Bridge bridge;
        QVERIFY(bridge.ready());
        QByteArrayList got;
        QTRY_VERIFY_WITH_TIMEOUT((got += bridge.notifications(), got.contains("%2INPT=11\r")), kWaitMs);
        QCOMPARE(got.first(), "%2LKUP=" + bridge.server->macAddress() + '\r');
        QVERIFY(got.contains("%2POWR=0\r"));
        // A locally administered unicast address for loopback.
        const QByteArray mac = bridge.server->macAddress();
        QCOMPARE(mac.size(), 17);
        QVERIFY((QByteArray::fromHex(mac.left(2)).at(0) & 0x03) == 0x02);
    }

    void login_data() {
        QTest::addColumn<bool>("right");
        QTest::newRow("right digest") << true;
        QTest::newRow("wrong digest") << false;
    }
    void login() {
        QFETCH(bool, right);
        Bridge bridge("secret");
        QVERIFY(bridge.ready());
        for (int attempt = 0; attempt < 2; ++attempt) {  // the second after a failure waits, and still works
            Controller controller(bridge.server->port());
            const QByteArray greeting = controller.greeting();
            QVERIFY2(greeting.size() == 18 && greeting.startsWith("PJLINK 1 "), greeting.constData());
            const QByteArray random = greeting.mid(9, 8);
            const QByteArray digest = pjlink::expectedDigest(random, right ? "secret" : "secreT");
            if (right) {
                QCOMPARE(controller.ask(digest + "%1POWR ?"), QByteArray("%1POWR=0\r"));
                QCOMPARE(controller.ask("%1CLSS ?"), QByteArray("%1CLSS=2\r"));
                QCOMPARE(controller.ask(digest + "%1CLSS ?"), QByteArray());  // a digest only comes first
            } else {
                QCOMPARE(controller.ask(digest + "%1POWR ?"), QByteArray("PJLINK ERRA\r"));
            }
            QVERIFY(controller.closedByBridge());
        }
    }

    // Sixteen controllers at once, each sending three requests in one
    // write, the first of them a set that waits for the projector: each gets
    // its three replies in order, one per request.
    void manyControllersEachInOrder() {
        Bridge bridge;
        QVERIFY(bridge.ready());
        std::vector<std::unique_ptr<Controller>> controllers;
        for (int i = 0; i < 16; ++i) {
            controllers.push_back(std::make_unique<Controller>(bridge.server->port()));
            QCOMPARE(controllers.back()->greeting(), QByteArray("PJLINK 0\r"));
        }
        for (auto &controller : controllers)
            controller->socket().write("%1POWR 0\r%1POWR ?\r%1INF1 ?\r");
        for (auto &controller : controllers) {
            QCOMPARE(controller->line(), QByteArray("%1POWR=OK\r"));
            QCOMPARE(controller->line(), QByteArray("%1POWR=0\r"));
            QCOMPARE(controller->line(), QByteArray("%1INF1=OLVA\r"));
        }
        QCOMPARE(bridge.server->clientCount(), 16);
        QTRY_COMPARE_WITH_TIMEOUT(bridge.sim.received("C01"), 16, kWaitMs);
        // An idle connection is closed.
        bridge.server->setIdleMs(200);
        Controller idle(bridge.server->port());
        QVERIFY(idle.closedByBridge());
    }

    // The network an address counts in, for the pauses after wrong guesses.
    void networkOfAnAddress() {
        const std::pair<const char *, const char *> rows[] = {
            {"192.0.2.77", "192.0.2.0/24"},
            {"::ffff:192.0.2.77", "192.0.2.0/24"},
            {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
            {"fe80::1234%lo", "fe80::/64"},
        };
        for (const auto &[address, network] : rows)
            QCOMPARE(bridge::networkOf(QHostAddress(QString::fromLatin1(address))), QString::fromLatin1(network));
    }

    // The npm `pjlink` client (Class 1, MD5), nobody's here: its own script
    // drives the bridge and prints what it saw.
    void npmClient() {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        // ./test.sh installs both (scripts/deps.sh, mv70_npm_client), so CI never skips this.
        if (node.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("npm")).isEmpty())
            QSKIP("no node or no npm here, so the npm pjlink client cannot run: ./test.sh installs Debian's "
                  "nodejs and npm, and the client (. scripts/deps.sh && mv70_npm_client BUILD)");
        if (!QFileInfo::exists(QStringLiteral(MV70_NPM_DIR "/node_modules/pjlink/package.json")))
            QSKIP("the npm pjlink client is not installed in " MV70_NPM_DIR ": ./test.sh installs it "
                  "(. scripts/deps.sh && mv70_npm_client BUILD), or npm install --prefix " MV70_NPM_DIR
                  " pjlink@0.2.8");
        Bridge bridge("room 101");
        QVERIFY(bridge.ready());
        QProcess client;
        client.setProcessEnvironment([] {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral(MV70_NPM_DIR "/node_modules"));
            return environment;
        }());
        client.start(node, {QStringLiteral(MV70_NPM_SCRIPT), QString::number(bridge.server->port()),
                            QStringLiteral("room 101")});
        QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning, 60000);
        const QByteArray output = client.readAllStandardOutput();
        QVERIFY2(client.exitCode() == 0, (output + client.readAllStandardError()).constData());
        const QByteArrayList expected = {
            "class 2",
            "name Hall",  // the package cuts at the first space
            "name words Hall A", "manufacturer OLVA",
            "model MV70",        "power 0",
            "power on OK",       "power reached 1 after warming up",
            "input set OK",      "input 12",
            "mute set OK",       "mute video true audio false",
            "lamps 1234 true",   "errors none",
            "inputs 11 12 21",   "wrong password: Authorization failed",
        };
        QCOMPARE(output.trimmed().split('\n'), expected);
    }
};

QTEST_GUILESS_MAIN(TestPjlinkServer)
#include "test_pjlink_server.moc"
