// mv70-ctl-bench: mv70-ctl as a script runs it, against mv70-sim processes.
// Prints Markdown; lines that start with "GOAL|" carry one goal each.
//
//   mv70-ctl-bench [--runs N] [--projectors N]
//
// - One projector: from the start of an `mv70-ctl status` process to its
//   reading on the pipe, less the simulator's reply delay.
// - Many projectors: `status` on every one in one call, from the start of
//   the process to its end, every port answered.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

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
        << kReplyDelayMs << " ms the simulator waits before replying. This is the tool's own share: starting the "
           "process, opening the port, sending, reading and decoding. "
        << wrong << " runs gave a wrong answer.\n\n"
        << "| | median | p90 | max |\n|---|---:|---:|---:|\n"
        << "| start → reading, less the reply delay (ms) | " << ms(s.median, 1) << " | " << ms(s.p90, 1) << " | "
        << ms(s.max, 1) << " |\n\n";
    goal(QStringLiteral("mv70-ctl status, one projector"), QStringLiteral("under 50 ms"),
         QStringLiteral("median %1 ms, p90 %2 ms, max %3 ms").arg(ms(s.median, 1), ms(s.p90, 1), ms(s.max, 1)),
         wrong == 0 && s.count > 0 && s.p90 < 50.0);
}

void manyPorts(int projectors, int runs) {
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList arguments;
    for (int i = 0; i < projectors; ++i) {
        sims.push_back(std::make_unique<Sim>(QStringList{}));
        arguments << QStringLiteral("--port") << sims.back()->path;
    }
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
    out << "## mv70-ctl: " << projectors << " projectors at once\n\n"
        << projectors << " `mv70-sim` processes (no reply delay), each on its own pseudo-terminal, and one "
        << "`mv70-ctl --json status` call naming all of them, " << runs << " times. *Total* is from just before the "
           "process is started to its end; *slowest port* is the largest `ms` of the ports in a call (each port "
           "counts from its own opening). " << unanswered << " answers were missing or wrong over all runs.\n\n"
        << "| | median | max |\n|---|---:|---:|\n"
        << "| total (ms) | " << ms(t.median, 1) << " | " << ms(t.max, 1) << " |\n"
        << "| slowest port (ms) | " << ms(p.median, 1) << " | " << ms(p.max, 1) << " |\n\n";
    goal(QStringLiteral("mv70-ctl status, %1 projectors").arg(projectors), QStringLiteral("under 2 s, all answered"),
         QStringLiteral("median %1 ms, max %2 ms; %3 unanswered").arg(ms(t.median, 1), ms(t.max, 1)).arg(unanswered),
         unanswered == 0 && t.max < 2000.0);
}

int argument(const QStringList &args, const QString &name, int fallback) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = argument(args, QStringLiteral("--runs"), 30);
    onePort(runs);
    manyPorts(argument(args, QStringLiteral("--projectors"), 50), std::max(1, runs / 3));
    out.flush();
    return 0;
}
