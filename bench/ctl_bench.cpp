// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-ctl-bench: mv70-ctl as a script runs it, against mv70-sim processes.
// Prints Markdown; lines that start with "GOAL|" carry one goal each.
//
//   mv70-ctl-bench [--runs N] [--projectors N]
//
// - One projector: from the start of an `mv70-ctl status` process to its
//   reading on the pipe, less the simulator's reply delay.
// - Many projectors: `status` on every one in one call, from the start of
//   the process to its end, every port answered: behind one ser2net, and on
//   their own pseudo-terminals.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <memory>
#include <vector>

#include "stats.h"

using namespace bench;

namespace {

QTextStream out(stdout);

constexpr int kReplyDelayMs = 10;

// A simulated projector; its device is the first line it prints.
struct Sim {
    QProcess process;
    QString path;
    explicit Sim(const QStringList &options) {
        process.start(QStringLiteral(MV70_SIM_PROGRAM), options);
        if (process.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

void goal(const QString &id, const QString &target, const QString &measured, bool met) {
    out << "GOAL|" << id << '|' << target << '|' << measured << '|' << (met ? "met" : "**missed**") << '\n';
}

void onePort(int runs) {
    Sim sim({QStringLiteral("--delay"), QString::number(kReplyDelayMs)});
    std::vector<double> samples;
    int wrong = 0;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess ctl;
        QElapsedTimer clock;
        clock.start();
        ctl.start(QStringLiteral(MV70_CTL_PROGRAM), {QStringLiteral("--port"), sim.path, QStringLiteral("status")});
        const bool read = ctl.waitForReadyRead(10000);
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        const QByteArray line = ctl.readLine();
        ctl.waitForFinished(10000);
        if (!read || line != "Stand by\n" || ctl.exitCode() != 0)
            ++wrong;
        else if (i > 0)  // the first run warms the caches
            samples.push_back(elapsed - kReplyDelayMs);
    }
    const Summary s = summarize(samples);
    out << "## mv70-ctl: one projector\n\n"
        << "`mv70-ctl --port DEVICE status` started " << runs << " times against one `mv70-sim --delay "
        << kReplyDelayMs << "`: from just before the process is started to its reading on the pipe, less the "
        << kReplyDelayMs
        << " ms the simulator waits before replying. This is the tool's own share: starting the "
           "process, opening the port, sending, reading and decoding. "
        << wrong << " runs gave a wrong answer.\n\n"
        << "| | median | p90 | max |\n|---|---:|---:|---:|\n"
        << "| start → reading, less the reply delay (ms) | " << ms(s.median, 1) << " | " << ms(s.p90, 1) << " | "
        << ms(s.max, 1) << " |\n\n";
    goal(QStringLiteral("mv70-ctl status, one projector"), QStringLiteral("under 50 ms"),
         QStringLiteral("median %1 ms, p90 %2 ms, max %3 ms").arg(ms(s.median, 1), ms(s.p90, 1), ms(s.max, 1)),
         wrong == 0 && s.count > 0 && s.p90 < 50.0);
}

// One ser2net on loopback with a raw TCP port for each projector; the
// ports to name, or none when it did not come up.
QStringList behindSer2net(const std::vector<std::unique_ptr<Sim>> &sims, QProcess &server, QTemporaryDir &dir) {
    std::vector<std::unique_ptr<QTcpServer>> holders;  // distinct ports, let go just before ser2net takes them
    QStringList urls;
    QByteArray configuration;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        holders.push_back(std::make_unique<QTcpServer>());
        holders.back()->listen(QHostAddress::LocalHost);
        const quint16 port = holders.back()->serverPort();
        urls << QStringLiteral("tcp://127.0.0.1:%1").arg(port);
        configuration += QStringLiteral("connection: &p%1\n  accepter: tcp,127.0.0.1,%2\n"
                                        "  connector: serialdev,%3,19200n81,local\n")
                             .arg(i)
                             .arg(port)
                             .arg(sims[i]->path)
                             .toLocal8Bit();
    }
    QFile file(dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(configuration) != configuration.size())
        return {};
    file.close();
    holders.clear();
    server.start(QStringLiteral("ser2net"),
                 {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), file.fileName()});
    if (!server.waitForStarted(5000))
        return {};
    QThread::msleep(1000);  // it listens on every port well within this
    return urls;
}

void manyPorts(int projectors, int runs, bool ser2net) {
    std::vector<std::unique_ptr<Sim>> sims;
    for (int i = 0; i < projectors; ++i)
        sims.push_back(std::make_unique<Sim>(QStringList{}));
    QProcess server;
    QTemporaryDir dir;
    QStringList ports;
    if (ser2net) {
        ports = behindSer2net(sims, server, dir);
    } else {
        for (const auto &sim : sims)
            ports << sim->path;
    }
    QStringList arguments;
    for (const QString &port : ports)
        arguments << QStringLiteral("--port") << port;
    arguments << QStringLiteral("--json") << QStringLiteral("status");
    std::vector<double> totals;
    std::vector<double> slowestPort;
    int unanswered = 0;
    for (int i = 0; i < runs; ++i) {
        QProcess ctl;
        QElapsedTimer clock;
        clock.start();
        ctl.start(QStringLiteral(MV70_CTL_PROGRAM), arguments);
        ctl.waitForFinished(30000);
        totals.push_back(double(clock.nsecsElapsed()) / 1e6);
        int answered = 0;
        double slowest = 0;
        for (const QByteArray &line : ctl.readAllStandardOutput().split('\n')) {
            const QJsonObject result = QJsonDocument::fromJson(line).object();
            if (result.value(u"status").toInt(-1) == 0 && result.value(u"reading").toString() == u"Stand by")
                ++answered;
            slowest = std::max(slowest, result.value(u"ms").toDouble());
        }
        unanswered += projectors - answered;
        slowestPort.push_back(slowest);
    }
    const Summary t = summarize(totals);
    const Summary p = summarize(slowestPort);
    server.kill();
    server.waitForFinished(5000);
    const QString where = ser2net ? QStringLiteral("behind one ser2net on loopback (raw TCP, one port each)")
                                  : QStringLiteral("on their own pseudo-terminals");
    out << "## mv70-ctl: " << projectors << " projectors at once, " << where << "\n\n"
        << projectors << " `mv70-sim` processes (no reply delay), " << where << ", and one "
        << "`mv70-ctl --json status` call naming all of them, " << runs
        << " times. *Total* is from just before the "
           "process is started to its end; *slowest port* is the largest `ms` of the ports in a call (each port "
           "counts from its own opening). "
        << unanswered << " answers were missing or wrong over all runs.\n\n"
        << "| | median | max |\n|---|---:|---:|\n"
        << "| total (ms) | " << ms(t.median, 1) << " | " << ms(t.max, 1) << " |\n"
        << "| slowest port (ms) | " << ms(p.median, 1) << " | " << ms(p.max, 1) << " |\n\n";
    goal(
        QStringLiteral("mv70-ctl status, %1 projectors %2").arg(projectors).arg(ser2net ? "behind ser2net" : "on ptys"),
        QStringLiteral("under 2 s, all answered"),
        QStringLiteral("median %1 ms, max %2 ms; %3 unanswered").arg(ms(t.median, 1), ms(t.max, 1)).arg(unanswered),
        unanswered == 0 && t.max < 2000.0);
}

int argument(const QStringList &args, const QString &name, int fallback) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);  // ser2net must be installed (scripts/deps.sh)
    const QStringList args = QCoreApplication::arguments();
    const int runs = argument(args, QStringLiteral("--runs"), 30);
    onePort(runs);
    const int projectors = argument(args, QStringLiteral("--projectors"), 50);
    manyPorts(projectors, std::max(1, runs / 3), true);
    manyPorts(projectors, std::max(1, runs / 3), false);
    out.flush();
    return 0;
}
