// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-bridge: the projectors on their serial lines, as PJLink projectors
// and on an MQTT broker. No widgets; one thread; everything on the event loop.

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bridge/options.h"
#include "logic/exchange_log.h"
#include "mqtt_bridge/mqtt_bridge.h"
#include "pjlink_server/pjlink_server.h"
#include "projector/projector.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop; SIGPIPE is ignored (a log on a
// FIFO whose reader left must not end the bridge).
bool endOnSignals(QCoreApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// The bridge's own log: standard error, which systemd's journal keeps.
void say(const QString &text) {
    QTextStream err(stderr);
    err << text << Qt::endl;
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
    if (!endOnSignals(app)) {
        say(QStringLiteral("mv70-bridge: cannot watch for signals"));
        return 1;
    }

    // One exchange log per file, shared by the projectors that name it.
    QHash<QString, std::shared_ptr<mv70::ExchangeLog>> logs;
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
            }
            projector->setExchangeLog(log.get());
        }
        if (section.pjlink) {
            auto server = std::make_unique<mv70::bridge::PjlinkServer>(*projector, *section.pjlink, nullptr);
            QString error;
            if (!server->listen(&error)) {
                say(QStringLiteral("%1: PJLink cannot listen on %2:%3: %4")
                        .arg(name, section.pjlink->address.toString())
                        .arg(section.pjlink->port)
                        .arg(error));
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
    }
    faces.clear();
    projectors.clear();
    logs.clear();  // each log writes what is left, within its bounded wait
    return status;
}
