// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/run.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <vector>

#include <signal.h>

#include "ctl/reading_json.h"
#include "logic/exchange_log.h"
#include "process/signals.h"

namespace mv70::ctl {
namespace {

// The signals that end a run from outside (kill, Ctrl+C, the terminal
// closed). The run reads them on its event loop and ends as it would have:
// every port closed and its lock released, the answers so far printed, the
// log finished. The first one ends the run.
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

QByteArray toJson(const PortResult &result) {
    QJsonObject object{
        {QStringLiteral("port"), result.port},
        {QStringLiteral("command"), result.command},
        {QStringLiteral("sent"), QString::fromLatin1(result.sent)},
        {QStringLiteral("reply"), QString::fromLatin1(result.reply)},
        {QStringLiteral("trace"), result.trace},
        {QStringLiteral("reading"), result.reading},
        {QStringLiteral("ms"), result.ms},
        {QStringLiteral("status"), result.status},
    };
    if (const QJsonObject value = readingJson(result.value); !value.isEmpty())
        object.insert(QStringLiteral("value"), value);
    if (!result.error.isEmpty())
        object.insert(QStringLiteral("error"), result.error);
    if (!result.notices.isEmpty())
        object.insert(QStringLiteral("notices"), QJsonArray::fromStringList(result.notices));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int run(const Options &options, QTextStream &out, QTextStream &err) {
    std::unique_ptr<ExchangeLog> log;
    bool logFailureSaid = false;
    const auto sayLogFailure = [&](const QString &description) {
        if (logFailureSaid)
            return;
        logFailureSaid = true;
        err << "mv70-ctl: " << description << Qt::endl;
    };
    if (!options.logPath.isEmpty()) {
        log = std::make_unique<ExchangeLog>(options.logPath);
        QObject::connect(log.get(), &ExchangeLog::failed, log.get(), sayLogFailure);
    }

    std::vector<std::unique_ptr<PortExchange>> exchanges;
    for (const QString &port : options.ports)
        exchanges.push_back(std::make_unique<PortExchange>(port, options, log.get()));
    QEventLoop loop;
    qsizetype running = static_cast<qsizetype>(exchanges.size());
    for (const auto &exchange : exchanges)
        QObject::connect(exchange.get(), &PortExchange::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    int endedBy = 0;
    // For the length of the run; the handlers found before are put back after it.
    process::SignalWatch endSignals;
    for (const int watched : kEndSignals)
        endSignals.on(watched, [&](int signo) {
            if (endedBy)
                return;
            endedBy = signo;
            for (const auto &exchange : exchanges)
                exchange->end(kEndedBySignal + signo,
                              QStringLiteral("ended by %1").arg(process::SignalWatch::name(signo)));
        });
    for (const auto &exchange : exchanges)
        if (!endedBy)
            exchange->start();
    if (running > 0 && !endedBy)
        loop.exec();

    const bool several = exchanges.size() > 1;
    int worst = kAnswered;
    for (const auto &exchange : exchanges) {
        const PortResult &result = exchange->result();
        worst = std::max(worst, result.status);
        const QString prefix = several ? result.port + QStringLiteral(": ") : QString();
        if (!options.json)
            for (const QString &notice : result.notices)
                err << "mv70-ctl: " << notice << '\n';
        if (options.json)
            out << toJson(result) << '\n';
        else if (result.status == kAnswered)
            out << prefix << result.reading << '\n';
        else
            err << "mv70-ctl: " << (several ? prefix : QString()) << result.error << '\n';
    }
    out.flush();
    err.flush();
    if (log) {
        // The log waits a bounded time for its file: the answer is out already.
        if (const qint64 dropped = log->finish(); dropped > 0)
            err << "mv70-ctl: " << ExchangeLog::droppedAtExit(log->path(), dropped) << Qt::endl;
        if (const QString failure = log->failure(); !failure.isEmpty())
            sayLogFailure(failure);
    }
    // Ended from outside: as a shell reports a program a signal killed.
    return endedBy ? kEndedBySignal + endedBy : worst;
}

int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err) {
    const std::variant<Options, QString> parsed = parseArguments(arguments);
    if (const QString *problem = std::get_if<QString>(&parsed)) {
        err << "mv70-ctl: " << *problem << "\n"
            << "Try 'mv70-ctl --help'." << Qt::endl;
        return kUsageError;
    }
    const Options &options = std::get<Options>(parsed);
    if (options.help) {
        out << usage() << Qt::flush;
        return kAnswered;
    }
    if (options.version) {
        out << "mv70-ctl " << MV70_VERSION << Qt::endl;
        return kAnswered;
    }
    return run(options, out, err);
}

}  // namespace mv70::ctl
