// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-mqtt-bench: mv70-bridge on MQTT, against mv70-sim processes and
// Debian's mosquitto on loopback. Prints Markdown; lines that start with
// "GOAL|" carry one goal each.
//
//   mv70-mqtt-bench [--cycles N] [--projectors N] [--idle-seconds S]
//
// - Latency: a change at the projector (the end of its count-down or its
//   cooling-down) until the new power state arrives at a subscriber. The
//   change happens the count-down's length after the simulator received the
//   command (its log line, read as it comes); the figure is from there to the
//   message.
// - Many projectors: one bridge publishing for N projectors; each must show
//   off, warming up, on after a power on sent to all of them at once.
// - Idle: what the broker counts from the bridge ($SYS) while nothing
//   changes at the projectors.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <vector>

#include "mosquitto_process.h"
#include "mqtt_client/mqtt_client.h"
#include "stats.h"

using namespace bench;
using mv70::bridge::MqttClient;

namespace {

QTextStream out(stdout);

const QString kUser = QStringLiteral("bench");
const QString kPassword = QStringLiteral("bench-password");

struct Sim {
    QProcess process;
    QString path;
    QList<std::pair<qint64, QByteArray>> commands;  // when each command's log line arrived
    Sim(const QStringList &options, const QElapsedTimer *clock) {
        QObject::connect(&process, &QProcess::readyReadStandardError, [this, clock] {
            const qint64 now = clock->elapsed();
            for (const QByteArray &line : process.readAllStandardError().split('\n'))
                if (line.startsWith('"'))
                    commands.append({now, line.split('"').value(1)});
        });
        process.start(QStringLiteral(MV70_SIM_PROGRAM), options);
        if (process.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    qint64 lastTime(const QByteArray &command) const {
        for (auto it = commands.crbegin(); it != commands.crend(); ++it)
            if (it->second == command)
                return it->first;
        return -1;
    }
};

struct Bridge {
    QProcess process;
    Bridge(const QString &config) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(MV70_BRIDGE_PROGRAM), {QStringLiteral("--config"), config});
        process.waitForStarted(5000);
    }
    ~Bridge() {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

// A subscriber in this process: every message on mv70/# and $SYS/# kept with
// the time it arrived.
struct Watcher {
    MqttClient client;
    QHash<QString, QList<std::pair<qint64, QByteArray>>> seen;
    Watcher(const MosquittoProcess &broker, const QElapsedTimer *clock)
        : client([&] {
              MqttClient::Options options;
              options.host = QStringLiteral("127.0.0.1");
              options.port = broker.port();
              options.user = kUser;
              options.password = kPassword.toUtf8();
              options.clientId = QStringLiteral("bench-watcher");
              return options;
          }()) {
        QObject::connect(&client, &MqttClient::connected, [this] {
            client.subscribe(QStringLiteral("mv70/#"));
            client.subscribe(QStringLiteral("$SYS/broker/#"), 0);  // no acknowledgements of its own
        });
        QObject::connect(&client, &MqttClient::messageReceived,
                         [this, clock](const QString &topic, const QByteArray &payload, bool) {
                             seen[topic].append({clock->elapsed(), payload});
                         });
        client.start();
    }
    QByteArray last(const QString &topic) const {
        const auto it = seen.constFind(topic);
        return it == seen.cend() || it->isEmpty() ? QByteArray() : it->constLast().second;
    }
    QList<QByteArray> changes(const QString &topic) const {
        QList<QByteArray> result;
        for (const auto &[when, payload] : seen.value(topic))
            if (result.isEmpty() || result.constLast() != payload)
                result << payload;
        return result;
    }
    int count(const QString &prefix) const {
        int total = 0;
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            if (it.key().startsWith(prefix))
                total += int(it->size());
        return total;
    }
};

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

QString writeConfig(const QTemporaryDir &dir, const MosquittoProcess &broker, const QStringList &devices,
                    int statusPollMs) {
    QFile password(dir.filePath(QStringLiteral("password")));
    password.open(QIODevice::WriteOnly);
    password.write(kPassword.toUtf8() + '\n');
    password.close();
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QFile config(dir.filePath(QStringLiteral("bridge.conf")));
    config.open(QIODevice::WriteOnly);
    for (int i = 0; i < devices.size(); ++i)
        config.write(QStringLiteral("[p%1]\nport=%2\nmqtt=%3\nmqtt-user=%4\nmqtt-password-file=password\n"
                                    "status-poll=%5\n\n")
                         .arg(i + 1)
                         .arg(devices[i], broker.url(), kUser)
                         .arg(statusPollMs)
                         .toUtf8());
    config.close();
    return config.fileName();
}

void latency(int cycles) {
    constexpr int kPollMs = 1000;
    constexpr int kStateMs = 1500;  // count-down and cooling-down
    QElapsedTimer clock;
    clock.start();
    MosquittoProcess broker(kUser, kPassword);
    Sim sim({"--verbose", "--countdown", QString::number(kStateMs), "--cooling", QString::number(kStateMs)}, &clock);
    QTemporaryDir dir;
    Bridge bridge(writeConfig(dir, broker, {sim.path}, kPollMs));
    Watcher watcher(broker, &clock);
    const QString state = QStringLiteral("mv70/p1/power_state");
    if (!waitUntil([&] { return watcher.last(state) == "off" && watcher.client.isConnected(); }, 20000)) {
        out << "the bridge did not publish its state\n";
        return;
    }
    std::vector<double> samples;
    for (int i = 0; i < cycles; ++i) {
        for (const auto &[command, code, ending] : {std::tuple{"ON", "C00", "on"}, std::tuple{"OFF", "C01", "off"}}) {
            const int before = int(watcher.seen.value(state).size());
            watcher.client.publish(QStringLiteral("mv70/p1/power/set"), command, false);
            if (!waitUntil([&] { return watcher.seen.value(state).size() > before && watcher.last(state) == ending; },
                           20000)) {
                out << "no " << ending << " after " << command << "\n";
                return;
            }
            const qint64 changedAt = sim.lastTime(code) + kStateMs;
            samples.push_back(double(watcher.seen.value(state).constLast().first - changedAt));
        }
    }
    const Summary s = summarize(samples);
    out << "## MQTT: a change at the projector to the subscriber\n\n"
        << "One bridge, status poll " << kPollMs << " ms; the simulator's count-down and cooling-down " << kStateMs
        << " ms; " << s.count << " changes (end of count-down, end of cooling-down).\n\n"
        << "| min | median | p90 | max |\n|---|---|---|---|\n"
        << "| " << ms(s.min, 0) << " | " << ms(s.median, 0) << " | " << ms(s.p90, 0) << " | " << ms(s.max, 0)
        << " |\n\n";
    out << "GOAL|MQTT: a change at the projector to a subscriber|within one poll period (" << kPollMs
        << " ms) plus 100 ms|median " << ms(s.median, 0) << " ms, max " << ms(s.max, 0) << " ms|"
        << (s.max <= kPollMs + 100 ? "met" : "**missed**") << "\n\n";
}

void manyProjectors(int count, int idleSeconds) {
    QElapsedTimer clock;
    clock.start();
    MosquittoProcess broker(kUser, kPassword);
    std::vector<std::unique_ptr<Sim>> sims;
    QStringList devices;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<Sim>(QStringList{"--countdown", "1000", "--cooling", "1000"}, &clock));
        devices << sims.back()->path;
    }
    Watcher watcher(broker, &clock);
    QTemporaryDir dir;
    const qint64 start = clock.elapsed();
    Bridge bridge(writeConfig(dir, broker, devices, 5000));
    const auto all = [&](const char *key, const char *payload) {
        for (int i = 1; i <= count; ++i)
            if (watcher.last(QStringLiteral("mv70/p%1/%2").arg(i).arg(QLatin1String(key))) != payload)
                return false;
        return true;
    };
    if (!waitUntil([&] { return all("power_state", "off") && all("line", "online"); }, 60000)) {
        out << "not every projector published its state\n";
        return;
    }
    const qint64 allUp = clock.elapsed() - start;
    const int firstState = watcher.count(QStringLiteral("mv70/"));
    // Idle: stand-by, nothing changes; what the broker counts.
    waitUntil([] { return false; }, 3000);
    const auto sysCount = [&](const char *topic) { return watcher.last(QLatin1String(topic)).toLongLong(); };
    const qint64 idleFrom = clock.elapsed();
    const long long publishFrom = sysCount("$SYS/broker/publish/messages/received");
    const long long bytesFrom = sysCount("$SYS/broker/bytes/received");
    const long long messagesFrom = sysCount("$SYS/broker/messages/received");
    const int oursFrom = watcher.count(QStringLiteral("mv70/"));
    waitUntil([] { return false; }, idleSeconds * 1000);
    const double minutes = double(clock.elapsed() - idleFrom) / 60000.0;
    const long long publishes = sysCount("$SYS/broker/publish/messages/received") - publishFrom;
    const long long bytes = sysCount("$SYS/broker/bytes/received") - bytesFrom;
    const long long messages = sysCount("$SYS/broker/messages/received") - messagesFrom;
    const int ours = watcher.count(QStringLiteral("mv70/")) - oursFrom;
    // Which readings changed meanwhile.
    QMap<QString, int> byKey;
    for (auto it = watcher.seen.cbegin(); it != watcher.seen.cend(); ++it)
        if (it.key().startsWith(u"mv70/"))
            for (const auto &[when, payload] : *it)
                if (when >= idleFrom)
                    ++byKey[it.key().section(u'/', 2)];
    QStringList keys;
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        keys << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    out << "## MQTT: the broker's view at idle, " << count << " projectors in stand-by\n\n"
        << "Over " << QString::number(minutes * 60, 'f', 0) << " s, from mosquitto's $SYS counters (this benchmark's "
        << "subscriber takes them at QoS 0 and publishes nothing: what the broker receives is the bridge's).\n\n"
        << "| | per minute | per projector per minute |\n|---|---|---|\n"
        << "| PUBLISH messages received by the broker | " << QString::number(double(publishes) / minutes, 'f', 1)
        << " | " << QString::number(double(publishes) / minutes / count, 'f', 2) << " |\n"
        << "| all MQTT messages received (PINGREQ, PUBACK included) | "
        << QString::number(double(messages) / minutes, 'f', 1) << " | "
        << QString::number(double(messages) / minutes / count, 'f', 2) << " |\n"
        << "| bytes received by the broker | " << QString::number(double(bytes) / minutes, 'f', 0) << " | "
        << QString::number(double(bytes) / minutes / count, 'f', 1) << " |\n"
        << "| state messages seen on mv70/# | " << QString::number(double(ours) / minutes, 'f', 1) << " | "
        << QString::number(double(ours) / minutes / count, 'f', 2) << " |\n\n"
        << "Topics that changed: " << (keys.isEmpty() ? QStringLiteral("none") : keys.join(QStringLiteral(", ")))
        << ".\n\n";

    const qint64 sent = clock.elapsed();
    for (int i = 1; i <= count; ++i)
        watcher.client.publish(QStringLiteral("mv70/p%1/power/set").arg(i), "ON", false);
    const bool allOn = waitUntil([&] { return all("power_state", "on"); }, 60000);
    const qint64 onAfter = clock.elapsed() - sent;
    int complete = 0;
    for (int i = 1; i <= count; ++i)
        complete += watcher.changes(QStringLiteral("mv70/p%1/power_state").arg(i))
                 == QList<QByteArray>{"off", "warming up", "on"};
    for (int i = 1; i <= count; ++i)
        watcher.client.publish(QStringLiteral("mv70/p%1/power/set").arg(i), "OFF", false);
    waitUntil([&] { return all("power_state", "off"); }, 60000);

    out << "## MQTT: one bridge publishing for " << count << " projectors\n\n"
        << "Each projector a simulator on its own pseudo-terminal, status poll 5000 ms; one MQTT connection per "
           "projector.\n\n"
        << "| | |\n|---|---|\n"
        << "| every projector's state on the broker, from the bridge's start | " << allUp << " ms |\n"
        << "| retained messages at start (state and availability) | " << firstState << " |\n"
        << "| power on sent to all at once: all on after | " << onAfter << " ms" << (allOn ? "" : " (NOT ALL)")
        << " |\n"
        << "| projectors showing off, warming up, on in order | " << complete << " of " << count << " |\n"
        << "| messages the broker dropped ($SYS/broker/publish/messages/dropped) | "
        << (watcher.last(QStringLiteral("$SYS/broker/publish/messages/dropped")).isEmpty()
                ? QByteArray("0")
                : watcher.last(QStringLiteral("$SYS/broker/publish/messages/dropped")))
        << " |\n\n";
    out << "GOAL|MQTT: one bridge for " << count << " projectors|every change of every projector, nothing dropped|"
        << complete << " of " << count << " complete|" << (complete == count ? "met" : "**missed**") << "\n\n";
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto option = [&](const char *name, int fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1].toInt() : fallback;
    };
    latency(option("--cycles", 10));
    manyProjectors(option("--projectors", 50), option("--idle-seconds", 120));
    out.flush();
    return 0;
}
