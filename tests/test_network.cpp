// SPDX-License-Identifier: GPL-3.0-or-later
// A port behind a network serial server: the window against mv70-sim
// through Debian's ser2net on loopback, as RFC 2217 and as raw TCP (the
// Telnet reader and the addresses on their own: test_network_logic). The waits with real servers are bounded by
// seconds; nothing here measures a time.

#include <QApplication>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "form_fixture.h"
#include "logic/network_address.h"
#include "ser2net_process.h"
#include "serial/network_line.h"
#include "sim_process.h"
#include "slow_com_port_server.h"
#include "telnet_script_server.h"

using namespace mv70;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int value : values)
        out += static_cast<char>(value);
    return out;
}

QByteArray allByteValues() {
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    return all;
}

// The window on COM1 = a network device, the warning box answered here.
struct NetPanel {
    std::unique_ptr<Form1> form;
    QStringList warnings;
    QStringList rxd;
    QStringList status;

    explicit NetPanel(const QString &device, int timeLimitMs = 5000) {
        qputenv("MV70_COM1", device.toLocal8Bit());
        qputenv("MV70_COM2", missingDevice());
        form = std::make_unique<Form1>();
        form->showWarning = [this](const QString &description) { warnings << description; };
        form->MSComm1.setConnectTimeLimit(timeLimitMs);
        QObject::connect(&form->MSComm1, &window::MSComm::OnComm, [this] {
            rxd << form->Label12->text();
            status << form->Label22->text();
        });
        form->Form_Load();
        form->show();
    }
    ~NetPanel() {
        form.reset();
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    bool connected() {
        return QTest::qWaitFor(
            [this] { return form->MSComm1.networkLine() && form->MSComm1.networkLine()->isConnected(); }, 10000);
    }
    QWidget *control(const char *name) { return form->control(name); }

    // A query button: the STATUS line once the reply is in.
    QString ask(const char *button) {
        if (!QTest::qWaitFor([this] { return !form->Timer2.isActive(); }, 10000))
            return QStringLiteral("<reply window still open>");
        rxd.clear();
        status.clear();
        QTest::mouseClick(control(button), Qt::LeftButton);
        if (!QTest::qWaitFor([this] { return !rxd.isEmpty() && rxd.constLast().endsWith(u"CR "); }, 5000))
            return QStringLiteral("<no reply>");
        return status.isEmpty() ? QStringLiteral("<no reading>") : status.constLast();
    }
};

// A listening socket whose queue is full: a connection attempt to it is
// neither accepted nor refused, as with an address where nobody answers.
class SilentPort {
public:
    SilentPort() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(listener_, 0) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        for (int &filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            (void)::connect(filler, reinterpret_cast<sockaddr *>(&address), size);
        }
    }
    ~SilentPort() {
        for (int fd : fillers_)
            ::close(fd);
        ::close(listener_);
    }
    quint16 port() const { return port_; }

private:
    int listener_ = -1;
    int fillers_[3] = {-1, -1, -1};
    quint16 port_ = 0;
};

// A port of [::1] that refuses connections: bound but not listening, and
// held, so that no other program can listen on it meanwhile.
class RefusingPort {
public:
    RefusingPort() {
        socket_ = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t size = sizeof address;
        if (::bind(socket_, reinterpret_cast<sockaddr *>(&address), size) == 0
            && ::getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &size) == 0)
            port_ = ntohs(address.sin6_port);
    }
    ~RefusingPort() { ::close(socket_); }
    quint16 port() const { return port_; }

private:
    int socket_ = -1;
    quint16 port_ = 0;
};

// A network serial server on loopback that plays a script, one step per
// connection: each connection is treated as the step of its number says,
// the last step for every one after it.
class ScriptedServer : public QObject {
public:
    enum class Step {
        Negotiate,          // answers the COM port option and stays
        NegotiateAndReset,  // answers it, then resets the connection
        AcceptAndClose,     // closes at once
    };

    explicit ScriptedServer(QList<Step> script) : script_(std::move(script)) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server_.nextPendingConnection()) {
                const Step step = script_.value(connections_, script_.constLast());
                ++connections_;
                if (step == Step::AcceptAndClose) {
                    socket->close();
                    socket->deleteLater();
                    continue;
                }
                latest_ = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, step] {
                    const QByteArray got = socket->readAll();
                    received_ += got;
                    if (answered_.contains(socket))
                        return;
                    answered_.insert(socket);
                    socket->write(bytes({255, 251, 0, 255, 253, 0, 255, 253, 44}));  // binary both ways, COM port
                    socket->flush();
                    if (step == Step::NegotiateAndReset) {
                        const linger reset{1, 0};  // a close that resets
                        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                        socket->abort();
                        ++resets_;
                    }
                });
            }
        });
    }
    QString url(const char *scheme = "rfc2217") const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server_.serverPort());
    }
    int connections() const { return connections_; }
    int resets() const { return resets_; }
    QByteArray received() const { return received_; }
    // Closes the newest connection.
    void drop() {
        if (latest_)
            latest_->close();
    }

private:
    QTcpServer server_;
    QList<Step> script_;
    QSet<QTcpSocket *> answered_;
    QPointer<QTcpSocket> latest_;
    QByteArray received_;
    int connections_ = 0;
    int resets_ = 0;
};

}  // namespace

class TestNetwork : public QObject {
    Q_OBJECT

private slots:
    void windowDrivesSimulatorThroughSer2net_data();
    void windowDrivesSimulatorThroughSer2net();
    void speedChoiceReachesServerPort();
    void allByteValuesBothWays();
    void serverKilledAndRestarted();
    void connectionResetAtOnceIsNotBack();
    void serverThatClosesAtOnceIsNotBack();
    void failedConnectionKeepsWindowResponsive_data();
    void failedConnectionKeepsWindowResponsive();
    void replyWindowWaitsForTheNegotiation();
    void negotiationFloodIsGivenUp_data();
    void negotiationFloodIsGivenUp();
    void muchNegotiationThenData();
    void speedNotTakenIsSaid_data();
    void speedNotTakenIsSaid();
};

void TestNetwork::windowDrivesSimulatorThroughSer2net_data() {
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("RFC 2217") << true;
    QTest::newRow("raw TCP") << false;
}

void TestNetwork::windowDrivesSimulatorThroughSer2net() {
    QFETCH(bool, rfc2217);
    SimProcess sim({QStringLiteral("--countdown"), QStringLiteral("500")});
    QVERIFY(!sim.path().isEmpty());
    Ser2NetProcess server(sim.path(), rfc2217 ? Ser2NetProcess::Mode::Rfc2217 : Ser2NetProcess::Mode::Raw);
    QVERIFY(server.listening());
    NetPanel p(server.url());
    QVERIFY(p.form->MSComm1.PortOpen());  // open while it connects
    QVERIFY(p.connected());
    QTest::keyClick(p.form.get(), Qt::Key_J, Qt::ControlModifier);  // the query buttons

    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
    QTest::mouseClick(p.control("Command17"), Qt::LeftButton);  // POWER ON
    QTRY_COMPARE_WITH_TIMEOUT(sim.received("C00"), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(p.ask("Command44"), QStringLiteral(" Power ON"), 10000);
    // The trace shows the projector's bytes only, never negotiation.
    QCOMPARE(p.form->Label11->text(), QStringLiteral(" C R 0 CR "));
    QCOMPARE(p.rxd.constLast(), QStringLiteral(" 0 0 CR "));

    // VOL + held: the command repeats at the projector.
    QTest::mousePress(p.control("Command1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sim.received("C09") >= 3, 10000);
    QTest::mouseRelease(p.control("Command1"), Qt::LeftButton);

    // A speed choice: sent to the server's port, or said once not to be.
    QSignalSpy notices(&p.form->MSComm1, &window::MSComm::settingsNotCarried);
    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);
    const auto confirmedBaud = [&p] { return p.form->MSComm1.networkLine()->reader().confirmed().baudRate; };
    QTest::mouseClick(p.control("Option10"), Qt::LeftButton);  // 9600
    if (rfc2217)
        QTRY_COMPARE_WITH_TIMEOUT(confirmedBaud(), 9600, 5000);
    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);
    QTest::mouseClick(p.control("Option9"), Qt::LeftButton);  // 19200 again
    QCOMPARE(notices.size(), rfc2217 ? 0 : 1);
    if (!rfc2217)
        QVERIFY(p.form->Label22->text().contains(u"the speed is the one set at the network serial server"));
    else  // the server has set its port back to the projector's speed
        QTRY_COMPARE_WITH_TIMEOUT(confirmedBaud(), 19200, 5000);
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Power ON"));
    QVERIFY2(p.warnings.isEmpty(), qPrintable(p.warnings.join(u'\n')));
}

void TestNetwork::speedChoiceReachesServerPort() {
    // The projector runs at 9600; ser2net's port starts at 19200. Only the
    // speed chosen in the window, carried by RFC 2217, makes them agree.
    SimProcess sim({QStringLiteral("--baud"), QStringLiteral("9600")});
    QVERIFY(!sim.path().isEmpty());
    Ser2NetProcess server(sim.path(), Ser2NetProcess::Mode::Rfc2217);
    NetPanel p(server.url());
    QVERIFY(p.connected());
    QTest::keyClick(p.form.get(), Qt::Key_J, Qt::ControlModifier);
    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);
    QTest::mouseClick(p.control("Option10"), Qt::LeftButton);  // 9600
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
    QCOMPARE(p.form->MSComm1.networkLine()->reader().confirmed().baudRate, 9600);
    QVERIFY(!sim.log().contains("at another line speed"));
}

void TestNetwork::allByteValuesBothWays() {
    // The transport under MSComm: its text interface sends ASCII only.
    PtyPeer peer;
    Ser2NetProcess server(peer.path(), Ser2NetProcess::Mode::Rfc2217);
    const std::unique_ptr<serial::Line> line = serial::makeLine(server.url());
    serial::LineSettings settings;
    settings.baudRate = 9600;
    QVERIFY(!line->open(settings));
    QByteArray received;
    QObject::connect(line.get(), &serial::Line::dataReady, [&] { received += line->readAll(); });

    const QByteArray all = allByteValues() + allByteValues();
    QVERIFY(!line->write(all));  // waits for the connection
    QCOMPARE(peer.read(512, 10000).toHex(' '), all.toHex(' '));
    peer.write(all);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 512, 5000);
    QCOMPARE(received.toHex(' '), all.toHex(' '));
    QCOMPARE(peer.baudRate(), 9600);
}

void TestNetwork::serverKilledAndRestarted() {
    SimProcess sim;
    QVERIFY(!sim.path().isEmpty());
    Ser2NetProcess server(sim.path(), Ser2NetProcess::Mode::Rfc2217);
    NetPanel p(server.url());
    QVERIFY(p.connected());
    QSignalSpy lost(&p.form->MSComm1, &window::MSComm::lineLost);
    QSignalSpy restored(&p.form->MSComm1, &window::MSComm::lineRestored);
    QTest::keyClick(p.form.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));

    server.kill();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
    QCOMPARE(p.form->Label22->text(),
             QStringLiteral(" COM1 (%1) disconnected: the server closed the connection. Waiting for it to come back...")
                 .arg(server.url()));
    QVERIFY(!p.form->MSComm1.PortOpen());
    // Retries against nothing: still one report. Two probes, so that the
    // first one's refusal has been handled.
    QTRY_VERIFY_WITH_TIMEOUT(p.form->MSComm1.reconnectWatch().attempts() >= 2, 15000);
    QCOMPARE(lost.size(), 1);

    QVERIFY(server.start());
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 1, 10000);
    QVERIFY(p.form->MSComm1.PortOpen());
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
    QCOMPARE(lost.size(), 1);
    QVERIFY2(p.warnings.isEmpty(), qPrintable(p.warnings.join(u'\n')));
}

// A server that drops the line, then answers the next connection's
// negotiation and resets it: the panel's settings, sent on the answer, find
// the connection reset. That line never came back; the wait goes on, and
// the server, healthy again, gets the port back.
void TestNetwork::connectionResetAtOnceIsNotBack() {
    using Step = ScriptedServer::Step;
    ScriptedServer server({Step::Negotiate, Step::NegotiateAndReset, Step::Negotiate});
    NetPanel p(server.url());
    QVERIFY(p.connected());
    QSignalSpy lost(&p.form->MSComm1, &window::MSComm::lineLost);
    QSignalSpy restored(&p.form->MSComm1, &window::MSComm::lineRestored);
    serial::ReconnectWatch &watch = p.form->MSComm1.reconnectWatch();
    server.drop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);

    watch.tick();
    QTRY_COMPARE_WITH_TIMEOUT(server.resets(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!p.form->MSComm1.networkLine()->isOpen() && !watch.isConfirming(), 5000);
    QCOMPARE(restored.size(), 0);
    QVERIFY(watch.isWaiting());
    QCOMPARE(lost.size(), 1);
    QVERIFY2(p.form->Label22->text().contains(u"Waiting for it to come back"), qPrintable(p.form->Label22->text()));

    watch.tick();
    QTRY_VERIFY_WITH_TIMEOUT(watch.isConfirming(), 5000);
    watch.confirm();
    QCOMPARE(restored.size(), 1);
    QCOMPARE(p.form->Label22->text(), QStringLiteral(" COM1 (%1) is back").arg(server.url()));
    QTest::mouseClick(p.form->control("Command17"), Qt::LeftButton);  // POWER ON
    QTRY_VERIFY_WITH_TIMEOUT(server.received().contains("C00\r"), 5000);
    QVERIFY(p.warnings.isEmpty());
}

// A raw TCP server that accepts and closes every connection: the port is
// told lost once, never back, and tried less and less often.
void TestNetwork::serverThatClosesAtOnceIsNotBack() {
    using Step = ScriptedServer::Step;
    ScriptedServer server({Step::AcceptAndClose});
    NetPanel p(server.url("tcp"));
    QSignalSpy lost(&p.form->MSComm1, &window::MSComm::lineLost);
    QSignalSpy restored(&p.form->MSComm1, &window::MSComm::lineRestored);
    serial::ReconnectWatch &watch = p.form->MSComm1.reconnectWatch();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
    QCOMPARE(watch.intervalMs(), 1000);
    QList<int> intervals;
    for (int attempt = 0; attempt < 6; ++attempt) {
        const int connections = server.connections();
        watch.tick();
        QTRY_VERIFY_WITH_TIMEOUT(server.connections() > connections, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!p.form->MSComm1.networkLine()->isOpen() && !watch.isConfirming(), 5000);
        intervals << watch.intervalMs();
    }
    QCOMPARE(intervals, (QList<int>{2000, 4000, 8000, 16000, 30000, 30000}));
    QCOMPARE(restored.size(), 0);
    QCOMPARE(lost.size(), 1);
    QVERIFY(watch.isWaiting());
    QVERIFY(p.warnings.isEmpty());
}

void TestNetwork::failedConnectionKeepsWindowResponsive_data() {
    QTest::addColumn<bool>("silent");
    QTest::newRow("refused") << false;
    QTest::newRow("silent") << true;
}

void TestNetwork::failedConnectionKeepsWindowResponsive() {
    QFETCH(bool, silent);
    SilentPort silentPort;
    RefusingPort refusingPort;
    const QString host = silent ? QStringLiteral("127.0.0.1") : QStringLiteral("[::1]");
    const quint16 port = silent ? silentPort.port() : refusingPort.port();
    QVERIFY(port != 0);
    NetPanel p(QStringLiteral("rfc2217://%1:%2").arg(host).arg(port), 1500);
    // Start-up returned with the attempt under way; the port counts as open.
    QVERIFY(p.form->MSComm1.PortOpen());
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    int ticksAtWarning = -1;
    QTRY_VERIFY_WITH_TIMEOUT(!p.warnings.isEmpty(), 10000);
    ticksAtWarning = ticks;
    const QString cause = silent ? QStringLiteral("timed out") : QStringLiteral("connection refused");
    QCOMPARE(p.warnings,
             QStringList{QStringLiteral("COM1: cannot connect to %1:%2: %3").arg(host).arg(port).arg(cause)});
    QVERIFY(!p.form->MSComm1.PortOpen());
    if (silent)
        QVERIFY(ticksAtWarning > 0);  // the window's events went on during the attempt
    // As after a failed opening, choosing the port tries again.
    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);
    QTest::mouseClick(p.control("Option1"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(p.warnings.size(), 2, 10000);
}

// A query sent while the COM port option is still being agreed: the reply
// window runs from when the query has left, so the reply that follows the
// negotiation is what the window ends with, not " X X X X".
void TestNetwork::replyWindowWaitsForTheNegotiation() {
    SlowComPortServer server(800, false);
    NetPanel p(server.url());
    QStringList rxdAtWindowEnd;
    QObject::connect(&p.form->Timer2, &QTimer::timeout, [&] { rxdAtWindowEnd << p.form->Label12->text(); });
    QTest::mouseClick(p.control("Command44"), Qt::LeftButton);
    QVERIFY(!p.form->Timer2.isActive());  // the query waits for the connection
    QTRY_COMPARE_WITH_TIMEOUT(rxdAtWindowEnd.size(), 1, 10000);
    QCOMPARE(rxdAtWindowEnd.front(), u" 0 0 CR "_qs);
    QCOMPARE(p.status.constLast(), u" Power ON"_qs);
    QCOMPARE(server.data(), QByteArray("CR0\r"));
    QVERIFY(p.warnings.isEmpty());
}

void TestNetwork::negotiationFloodIsGivenUp_data() {
    QTest::addColumn<QByteArray>("flood");
    // NOP, WILL/WONT ECHO, DO/DONT SUPPRESS-GO-AHEAD, a line state notice.
    QTest::newRow("option talk") << bytes({255, 241, 255, 251, 1,   255, 252, 1, 255, 253, 3,
                                           255, 254, 3,   255, 250, 44,  106, 0, 255, 240})
                                        .repeated(500);
    // One subnegotiation that never ends.
    QTest::newRow("endless subnegotiation") << bytes({255, 250, 44}) + QByteArray(64 * 1024, 'x');
}

// A server that sends nothing but negotiation is given up after the
// negotiation limit, as a lost line: said on the STATUS line, and waited
// for as any lost line (the next attempt is flooded and given up again).
void TestNetwork::negotiationFloodIsGivenUp() {
    QFETCH(QByteArray, flood);
    TelnetScriptServer::Script script;
    script.flood = flood;
    TelnetScriptServer server(script);
    NetPanel p(server.url());
    QSignalSpy lost(&p.form->MSComm1, &window::MSComm::lineLost);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 15000);
    const QString givenUp = QStringLiteral(" COM1 (%1) disconnected: the server sent nothing but Telnet negotiation "
                                           "for more than 1 s. Waiting for it to come back...")
                                .arg(server.url());
    QCOMPARE(p.form->Label22->text(), givenUp);
    serial::ReconnectWatch &watch = p.form->MSComm1.reconnectWatch();
    QVERIFY(watch.isWaiting());
    QCOMPARE(watch.intervalMs(), 1000);
    watch.tick();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!p.form->MSComm1.networkLine()->isOpen(), 15000);
    QVERIFY(watch.isWaiting());
    QCOMPARE(watch.intervalMs(), 2000);  // tried less often, as any line that fails again
    QCOMPARE(p.form->Label22->text(), givenUp);
    QVERIFY2(p.warnings.isEmpty(), qPrintable(p.warnings.join(u'\n')));
}

// Much option talk, then the projector's bytes: nothing is given up, lost
// or reordered, and the window works as usual.
void TestNetwork::muchNegotiationThenData() {
    QByteArray talk = bytes({255, 251, 3, 255, 252, 3, 255, 241}).repeated(20000);  // 160 KB
    QByteArray data;
    QByteArray expected;
    for (int i = 0; i < 40000; ++i) {  // 0xFF doubled, amid line state notices
        data += bytes({32 + i % 200, 255, 255, 255, 250, 44, 106, 0, 255, 240, 32 + i / 200});
        expected += bytes({32 + i % 200, 255, 32 + i / 200});
    }

    // The line under the window, then the window itself.
    TelnetScriptServer::Script script;
    script.first = talk + data;
    TelnetScriptServer lineServer(script);
    const std::unique_ptr<serial::Line> line = serial::makeLine(lineServer.url());
    QVERIFY(!line->open(serial::LineSettings{}));
    QByteArray received;
    QObject::connect(line.get(), &serial::Line::dataReady, [&] { received += line->readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 10000);
    QVERIFY(received == expected);
    QVERIFY(line->isUp());

    script.first = talk;
    TelnetScriptServer server(script);
    NetPanel p(server.url());
    QVERIFY(p.connected());
    QTest::keyClick(p.form.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Power ON"));
    QVERIFY(p.form->MSComm1.networkLine()->isConnected());
    QVERIFY2(p.warnings.isEmpty(), qPrintable(p.warnings.join(u'\n')));
}

void TestNetwork::speedNotTakenIsSaid_data() {
    QTest::addColumn<QByteArray>("comPortAnswer");
    QTest::addColumn<int>("confirmSpeed");
    QTest::addColumn<QString>("notice");  // after the port's name; empty: none
    const QString refused = QStringLiteral(
        "the network serial server refused the COM port option, so it carries no line settings; the speed is the "
        "one set at the server");
    QTest::newRow("DONT COM-PORT") << bytes({255, 254, 44}) << 0 << refused;
    QTest::newRow("WONT COM-PORT") << bytes({255, 252, 44}) << 0 << refused;
    QTest::newRow("9600 confirmed for 19200")
        << bytes({255, 253, 44}) << 9600
        << QStringLiteral("19200 bps was chosen, but the network serial server set its port to 9600 bps");
    QTest::newRow("speed confirmed") << bytes({255, 253, 44}) << 0 << QString();
}

// What the server did to the speed chosen is said once on the STATUS line,
// even when the connection is made again.
void TestNetwork::speedNotTakenIsSaid() {
    QFETCH(QByteArray, comPortAnswer);
    QFETCH(int, confirmSpeed);
    QFETCH(QString, notice);
    TelnetScriptServer::Script script;
    script.comPortAnswer = comPortAnswer;
    script.confirmSpeed = confirmSpeed;
    TelnetScriptServer server(script);
    NetPanel p(server.url());
    QSignalSpy notices(&p.form->MSComm1, &window::MSComm::settingsNotCarried);
    QVERIFY(p.connected());
    if (!notice.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(p.form->Label22->text(), QStringLiteral(" COM1 (%1): %2").arg(server.url(), notice),
                                  5000);
    QTest::keyClick(p.form.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Power ON"));  // the speed's confirmation came before it
    QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
    QCOMPARE(server.speedsAsked(), comPortAnswer == bytes({255, 253, 44}) ? QList<qint32>{19200} : QList<qint32>{});

    // Connected again: the same is not said again.
    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);
    QTest::mouseClick(p.control("Option1"), Qt::LeftButton);  // COM1 chosen again: reopened
    QVERIFY(p.connected());
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Power ON"));
    QCOMPARE(server.connections(), 2);
    QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
    QVERIFY2(p.warnings.isEmpty(), qPrintable(p.warnings.join(u'\n')));
}

QTEST_MAIN(TestNetwork)
#include "test_network.moc"
