// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge: the projectors on their serial lines, as PJLink projectors
// and on an MQTT broker. No widgets; one thread; everything on the event loop.

#include <QCoreApplication>
#include <QHash>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <vector>

#include "bridge/options.h"
#include "logic/exchange_log.h"
#include "mqtt_bridge/mqtt_bridge.h"
#include "pjlink_server/pjlink_server.h"
#include "process/signals.h"
#include "projector/projector.h"

namespace {

// The bridge's own log: standard error, which systemd's journal keeps.
void say(const QString &text) {
    QTextStream err(stderr);
    err << text << Qt::endl;
}

// Every signal from outside whose default would end the bridge ends it on
// its event loop instead, every line closed and its lock file removed:
// SIGTERM and SIGINT with status 0, the others with 128 + the signal's
// number. SIGHUP ends nothing (the logs are reopened); SIGPIPE is ignored (a
// log on a FIFO whose reader left must not end the bridge). The faults of
// the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP,
// SIGSYS) keep their default: they cannot wait for the event loop.
std::vector<int> endSignals() {
    std::vector<int> list = {SIGTERM, SIGINT,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                             SIGPROF, SIGSTKFLT, SIGIO,   SIGPWR,  SIGXCPU, SIGXFSZ};
    for (int signo = SIGRTMIN; signo <= SIGRTMAX; ++signo)
        list.push_back(signo);
    return list;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mv70-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MV70_VERSION));

    using mv70::bridge::CommandLine;
    const CommandLine commandLine = mv70::bridge::parseCommandLine(app.arguments().mid(1));
    switch (commandLine.kind) {
    case CommandLine::Kind::Help:
        QTextStream(stdout) << mv70::bridge::usageText();
        return 0;
    case CommandLine::Kind::Version:
        QTextStream(stdout) << "mv70-bridge " << QCoreApplication::applicationVersion() << Qt::endl;
        return 0;
    case CommandLine::Kind::UsageError:
        say(QStringLiteral("mv70-bridge: %1\nTry 'mv70-bridge --help'.").arg(commandLine.message));
        return 2;
    case CommandLine::Kind::Run:
        break;
    }

    // Made first and destroyed last: a signal while the bridge ends is still
    // read here, never left to end it with its lines open.
    mv70::process::SignalWatch signalWatch;
    if (!signalWatch.isValid()) {
        say(QStringLiteral("mv70-bridge: cannot watch for signals"));
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    int endedBy = 0;
    for (const int watched : endSignals())
        signalWatch.on(watched, [&endedBy](int signo) {
            if (endedBy == 0)
                say(QStringLiteral("mv70-bridge: ending on %1").arg(mv70::process::SignalWatch::name(signo)));
            endedBy = signo;
            QCoreApplication::quit();
        });

    // One exchange log per file, shared by the projectors that name it.
    QHash<QString, std::shared_ptr<mv70::ExchangeLog>> logs;
    signalWatch.on(SIGHUP, [&logs](int) {
        for (const auto &log : std::as_const(logs))
            log->reopen();
        say(logs.isEmpty() ? QStringLiteral("mv70-bridge: SIGHUP: no exchange log to open again")
                           : QStringLiteral("mv70-bridge: SIGHUP: the exchange logs are opened again"));
    });
    std::vector<std::unique_ptr<mv70::bridge::Projector>> projectors;
    std::vector<std::unique_ptr<QObject>> faces;  // destroyed before the projectors they use
    int status = 0;
    for (const mv70::bridge::BridgeSection &section : commandLine.sections) {
        auto projector = std::make_unique<mv70::bridge::Projector>(section.projector);
        const QString name = section.projector.name;
        QObject::connect(projector.get(), &mv70::bridge::Projector::lineReport, &app,
                         [name](const QString &text) { say(name + QStringLiteral(": ") + text); });
        if (!section.logPath.isEmpty()) {
            auto &log = logs[section.logPath];
            if (!log) {
                log = std::make_shared<mv70::ExchangeLog>(section.logPath);
                QObject::connect(log.get(), &mv70::ExchangeLog::failed, &app,
                                 [path = section.logPath](const QString &why) {
                                     say(QStringLiteral("the exchange log %1 stopped: %2").arg(path, why));
                                 });
                QObject::connect(log.get(), &mv70::ExchangeLog::noReader, &app, &say);
            }
            projector->setExchangeLog(log.get());
        }
        if (section.pjlink) {
            auto server = std::make_unique<mv70::bridge::PjlinkServer>(*projector, *section.pjlink, nullptr);
            QString error;
            if (!server->listen(&error)) {
                say(name + QStringLiteral(": ") + error);  // where and why, in the server's words
                status = 1;
                break;
            }
            say(QStringLiteral("%1: PJLink on %2:%3")
                    .arg(name, section.pjlink->address.toString())
                    .arg(section.pjlink->port));
            faces.push_back(std::move(server));
        }
        if (section.mqtt) {
            auto mqtt = std::make_unique<mv70::bridge::MqttBridge>(*projector, *section.mqtt, nullptr);
            mqtt->start();
            faces.push_back(std::move(mqtt));
        }
        say(QStringLiteral("%1: projector on %2").arg(name, section.projector.device));
        projectors.push_back(std::move(projector));
    }
    if (status == 0) {
        for (auto &projector : projectors)
            projector->start();
        status = app.exec();
        if (endedBy != 0 && endedBy != SIGTERM && endedBy != SIGINT)
            status = 128 + endedBy;
    }
    faces.clear();
    projectors.clear();
    // Each log writes what is left, within its bounded wait.
    for (const auto &log : std::as_const(logs))
        if (const qint64 dropped = log->finish(); dropped > 0)
            say(mv70::ExchangeLog::droppedAtExit(log->path(), dropped));
    logs.clear();
    return status;
}
