// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/run.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "ctl/reading_json.h"
#include "logic/exchange_log.h"

namespace mv70::ctl {
namespace {

// The signals that end a run from outside (kill, Ctrl+C, the terminal
// closed). The handler only writes the signal's number into a pipe; the run
// reads it on its event loop and ends as it would have: every port closed
// and its lock released, the answers so far printed, the log finished.
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
int endPipe[2] = {-1, -1};

extern "C" void onEndSignal(int signo) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(endPipe[1], &byte, 1);
    errno = savedErrno;
}

// For the length of one run; the handlers found before are put back after
// it. A signal ignored when the run began (nohup, a background job) stays
// ignored.
class EndSignals {
public:
    explicit EndSignals(std::function<void(int)> ended) {
        if (::pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            qWarning("mv70-ctl: no pipe for the end signals: %s", strerror(errno));
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(endPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this, ended = std::move(ended)] {
                             unsigned char byte = 0;
                             int signo = 0;
                             while (::read(endPipe[0], &byte, 1) > 0)
                                 signo = signo ? signo : byte;
                             if (signo == 0)
                                 return;
                             notifier_->setEnabled(false);  // the first signal ends the run
                             ended(signo);
                         });
        for (std::size_t i = 0; i < std::size(kEndSignals); ++i) {
            struct sigaction &previous = previous_[i];
            if (::sigaction(kEndSignals[i], nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            struct sigaction action {};
            action.sa_handler = onEndSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            installed_[i] = ::sigaction(kEndSignals[i], &action, nullptr) == 0;
        }
    }
    ~EndSignals() {
        for (std::size_t i = 0; i < std::size(kEndSignals); ++i)
            if (installed_[i])
                ::sigaction(kEndSignals[i], &previous_[i], nullptr);
        notifier_.reset();
        for (int &fd : endPipe)
            if (fd >= 0)
                ::close(std::exchange(fd, -1));
    }
    EndSignals(const EndSignals &) = delete;
    EndSignals &operator=(const EndSignals &) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[std::size(kEndSignals)]{};
    bool installed_[std::size(kEndSignals)] = {};
};

QString signalName(int signo) {
    switch (signo) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signo);
    }
}

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
    const EndSignals endSignals([&](int signo) {
        endedBy = signo;
        for (const auto &exchange : exchanges)
            exchange->end(kEndedBySignal + signo, QStringLiteral("ended by %1").arg(signalName(signo)));
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
    return run(options, out, err);
}

}  // namespace mv70::ctl
