// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge's figures: the program as installed, simulated projectors on
// pseudo-terminals, PJLink controllers on loopback in this process.
//   cached  a cached query's round trip while three controllers poll
//   powr    POWR 1 from the request to the command's last byte on the wire
//   fifty   one bridge, fifty projectors, a controller each
//   cost    the bridge's CPU and memory, idle and under polling
// Prints Markdown for bench/RESULTS.md.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "service_process.h"
#include "sim_process.h"
#include "wire_tap.h"

namespace {

QTextStream out(stdout);

// A PJLink controller: after each reply (the greeting first) `next` gives
// the request to send, if any; every round trip is timed.
struct Controller {
    Controller(quint16 port, std::function<QByteArray(Controller &)> next) : next_(std::move(next)) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            buffer += socket.readAll();
            for (qsizetype end; (end = buffer.indexOf('\r')) >= 0; buffer.remove(0, end + 1)) {
                replies.append(buffer.first(end));
                if (sentAt >= 0)
                    roundTripsUs.push_back((clock.nsecsElapsed() - sentAt) / 1000);
                sentAt = -1;
                send(next_(*this));
            }
        });
        clock.start();
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void send(const QByteArray &request) {
        if (request.isEmpty())
            return;
        sentAt = clock.nsecsElapsed();
        socket.write(request + '\r');
    }
    QTcpSocket socket;
    QByteArray buffer;
    QList<QByteArray> replies;
    std::vector<qint64> roundTripsUs;
    QElapsedTimer clock;
    qint64 sentAt = -1;

private:
    std::function<QByteArray(Controller &)> next_;
};

// The bridge listening for PJLink; `arguments(port)` gives its command line
// for its (first) PJLink port.
struct Bridge {
    explicit Bridge(ServiceProcess::Prepare arguments)
        : service(QStringLiteral(MV70_BRIDGE_PROGRAM), ServiceProcess::Port::Given, std::move(arguments)) {
        started = service.start();
    }
    ~Bridge() { service.terminate(); }
    quint16 port() const { return service.port(); }
    // utime + stime in clock ticks, and the resident and peak sizes in kB.
    qint64 cpuTicks() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(service.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return fields.value(12).toLongLong() + fields.value(13).toLongLong();
    }
    qint64 statusKb(const QByteArray &key) const {
        QFile status(QStringLiteral("/proc/%1/status").arg(service.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(key + ':'))
                return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong();
        return -1;
    }
    ServiceProcess service;
    bool started = false;
};

// The event loop for `ms`: a real one, not QTest's, which sleeps 10 ms
// between its rounds and would be in every figure.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > ms)
            loop.quit();
    });
    check.start(0);
    loop.exec();
    return condition();
}

// Waits until the bridge answers on `port`.
bool listening(quint16 port) {
    return waitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        },
        15000);
}

QString percentiles(std::vector<qint64> us) {
    if (us.empty())
        return QStringLiteral("no samples");
    std::sort(us.begin(), us.end());
    const auto at = [&](double p) {
        return double(us[std::min(us.size() - 1, size_t(p * double(us.size())))]) / 1000.0;
    };
    return QStringLiteral("p50 %1 ms, p99 %2 ms, max %3 ms (%4 samples)")
        .arg(at(0.5), 0, 'f', 2)
        .arg(at(0.99), 0, 'f', 2)
        .arg(double(us.back()) / 1000.0, 0, 'f', 2)
        .arg(us.size());
}

// The three controllers of a room: a new connection per poll each second,
// a poll of everything every 3 s on one connection, a held connection that
// asks every 100 ms.
struct Room {
    explicit Room(quint16 port) : port_(port) {
        QObject::connect(&companionTimer, &QTimer::timeout, [this] {
            companions.push_back(std::make_unique<Controller>(
                port_, [](Controller &c) { return c.replies.size() == 1 ? QByteArray("%1POWR ?") : QByteArray(); }));
        });
        companionTimer.start(1000);
        assistant = std::make_unique<Controller>(port_, [](Controller &c) {
            static const QList<QByteArray> all = {"%1POWR ?", "%1INPT ?", "%1AVMT ?", "%1LAMP ?", "%1ERST ?"};
            const qsizetype i = (c.replies.size() - 1) % (all.size() + 1);
            if (i == all.size()) {
                QTimer::singleShot(3000, &c.socket, [&c] { c.send("%1POWR ?"); });
                return QByteArray();
            }
            return all[i];
        });
        openlp = std::make_unique<Controller>(port_, [](Controller &c) {
            QTimer::singleShot(100, &c.socket, [&c] { c.send("%1POWR ?"); });
            return QByteArray();
        });
    }
    qsizetype answered() const {
        qsizetype n = assistant->replies.size() + openlp->replies.size();
        for (const auto &c : companions)
            n += c->replies.size();
        return n;
    }
    quint16 port_;
    QTimer companionTimer;
    std::vector<std::unique_ptr<Controller>> companions;
    std::unique_ptr<Controller> assistant, openlp;
};

void cached(int seconds) {
    SimProcess sim({QStringLiteral("--delay"), QStringLiteral("100")});
    Bridge bridge([&](quint16 port) {
        return QStringList{QStringLiteral("--port"), sim.path(), QStringLiteral("--pjlink"),
                           QStringLiteral("127.0.0.1:%1").arg(port)};
    });
    if (!bridge.started)
        return;
    const quint16 port = bridge.port();
    runFor(2000);  // the first readings
    Room room(port);
    Controller probe(port, [](Controller &c) {
        QTimer::singleShot(20, &c.socket, [&c] { c.send("%1POWR ?"); });
        return QByteArray();
    });
    runFor(seconds * 1000);
    out << "- Cached `POWR ?` round trip on a held connection, while a room's three controllers poll "
           "(projector answering after 100 ms): "
        << percentiles(probe.roundTripsUs) << "; the room's controllers were answered " << room.answered()
        << " times; the projector heard " << sim.received("CR0") << " status queries in " << seconds + 2 << " s.\n";
}

void powr(int samples) {
    SimProcess sim({QStringLiteral("--countdown"), QStringLiteral("0")});
    WireTap tap(sim.path());
    // No polls in the way: the figure is for a free line.
    Bridge bridge([&](quint16 port) {
        return QStringList{QStringLiteral("--port"),        tap.path(),
                           QStringLiteral("--pjlink"),      QStringLiteral("127.0.0.1:%1").arg(port),
                           QStringLiteral("--status-poll"), QStringLiteral("3600000"),
                           QStringLiteral("--slow-poll"),   QStringLiteral("3600000")};
    });
    if (!bridge.started)
        return;
    const quint16 port = bridge.port();
    waitFor([&] { return tap.count("CR PRESSURE") > 0; }, 10000);
    QElapsedTimer clock;
    clock.start();
    Controller client(port, [](Controller &) { return QByteArray(); });
    waitFor([&] { return client.replies.size() == 1; }, 5000);
    std::vector<qint64> us;
    for (int i = 0; i < samples; ++i) {
        const qsizetype before = tap.commands().size();
        const qsizetype replies = client.replies.size();
        const qint64 sent = tap.sinceStartNs();
        client.send("%1POWR 1");
        if (!waitFor([&] { return client.replies.size() > replies; }, 5000))
            break;
        for (qsizetype j = before; j < tap.commands().size(); ++j)
            if (tap.commands()[j].text == "C00") {
                us.push_back((tap.commands()[j].ns - sent) / 1000);
                break;
            }
        runFor(30);
    }
    out << "- `POWR 1` from the controller's write to the command's carriage return read at the "
           "projector's end, line free: "
        << percentiles(us) << ".\n";
}

void fifty(int seconds) {
    constexpr int kProjectors = 50;
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kProjectors; ++i)
        sims.push_back(std::make_unique<SimProcess>());
    QTemporaryDir dir;
    std::vector<quint16> ports;
    // The first projector's port is the one the fixture gives; the others
    // are found free alike, anew at each start.
    Bridge bridge([&](quint16 first) {
        QFile config(dir.filePath(QStringLiteral("bridge.conf")));
        ports.clear();
        if (config.open(QIODevice::WriteOnly))
            for (int i = 0; i < kProjectors; ++i) {
                ports.push_back(i == 0 ? first : ServiceProcess::portFreeNow());
                config.write(QStringLiteral("[p%1]\nport=%2\npjlink=127.0.0.1:%3\n")
                                 .arg(i)
                                 .arg(sims[size_t(i)]->path())
                                 .arg(ports.back())
                                 .toUtf8());
            }
        return QStringList{QStringLiteral("--config"), config.fileName()};
    });
    if (!bridge.started || !listening(ports.back()))
        return;
    runFor(3000);
    const qint64 cpuBefore = bridge.cpuTicks();
    std::vector<std::unique_ptr<Controller>> controllers;
    qsizetype asked = 0;
    bool asking = true;
    for (const quint16 port : ports)
        controllers.push_back(std::make_unique<Controller>(port, [&asked, &asking](Controller &c) {
            static const QList<QByteArray> all = {"%1POWR ?", "%1INPT ?", "%1LAMP ?", "%1ERST ?"};
            QTimer::singleShot(1000, &c.socket, [&c, &asked, &asking] {
                if (!asking)
                    return;
                ++asked;
                c.send(all[c.replies.size() % all.size()]);
            });
            return QByteArray();
        }));
    runFor(seconds * 1000);
    asking = false;
    runFor(1500);
    qsizetype answered = 0, errors = 0;
    std::vector<qint64> us;
    for (const auto &c : controllers) {
        answered += c->replies.size() - 1;
        errors +=
            std::count_if(c->replies.begin(), c->replies.end(), [](const QByteArray &r) { return r.contains("=ERR"); });
        us.insert(us.end(), c->roundTripsUs.begin(), c->roundTripsUs.end());
    }
    const double cpu = double(bridge.cpuTicks() - cpuBefore) / double(sysconf(_SC_CLK_TCK)) / (seconds + 1.5);
    out << "- One bridge, " << kProjectors << " projectors, a controller each asking once a second for " << seconds
        << " s: " << answered << " of " << asked << " requests answered, " << errors << " errors; round trip "
        << percentiles(us) << "; the bridge used " << QString::number(cpu * 100, 'f', 1) << " % of a core, "
        << bridge.statusKb("VmRSS") << " kB resident.\n";
}

void cost(int seconds) {
    SimProcess sim;
    Bridge bridge([&](quint16 port) {
        return QStringList{QStringLiteral("--port"), sim.path(), QStringLiteral("--pjlink"),
                           QStringLiteral("127.0.0.1:%1").arg(port)};
    });
    if (!bridge.started)
        return;
    const quint16 port = bridge.port();
    runFor(2000);
    const double tick = double(sysconf(_SC_CLK_TCK));
    qint64 before = bridge.cpuTicks();
    runFor(seconds * 1000);
    const double idle = double(bridge.cpuTicks() - before) / tick / seconds;
    const qint64 idleKb = bridge.statusKb("VmRSS");
    Room room(port);
    before = bridge.cpuTicks();
    runFor(seconds * 1000);
    const double polled = double(bridge.cpuTicks() - before) / tick / seconds;
    out << "- The bridge with one projector (status every 5 s, the rest every 60 s), over " << seconds << " s: idle "
        << QString::number(idle * 100, 'f', 2) << " % of a core, " << idleKb
        << " kB resident; with a room's three controllers polling " << QString::number(polled * 100, 'f', 2)
        << " % of a core, " << bridge.statusKb("VmRSS") << " kB resident (peak " << bridge.statusKb("VmHWM") << " kB), "
        << room.answered() << " replies.\n";
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const bool quick = arguments.contains(QStringLiteral("--quick"));
    const auto wanted = [&](const char *part) {
        return arguments.contains(QLatin1String(part)) || arguments.size() == int(quick);
    };
    if (wanted("cached"))
        cached(quick ? 5 : 30);
    if (wanted("powr"))
        powr(quick ? 20 : 200);
    if (wanted("fifty"))
        fifty(quick ? 5 : 20);
    if (wanted("cost"))
        cost(quick ? 5 : 30);
    out.flush();
    return 0;
}
