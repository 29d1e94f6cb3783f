// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One projector as the bridge sees it: the line to it, a poller that keeps
// a cache of what the projector last said, and one queue through which every
// command (a controller's or a poll) goes to the line, one at a time: never
// two commands in one reply window. A reply is credited only to the command
// that asked for it: what waits on the line when it opens, what comes after
// a reply window that ended without a reply (the line must then be quiet a
// while before the next command) and a window that brings more than one
// reply are dropped, and said so in the exchange log and lineReport().
//
// The network faces of the bridge (PJLink, MQTT) read the cache and queue
// commands; they never touch the line. Nothing here knows either protocol.

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

#include "logic/projector_state.h"

namespace mv70 {
class ExchangeLog;
}

namespace mv70::bridge {

struct ProjectorConfig {
    QString name;    // also the MQTT topic's and the PJLink NAME
    QString device;  // anything the panel accepts: /dev/ttyUSB0, by-id, rfc2217://, tcp://
    QString settings = QStringLiteral("19200,N,8,1");
    int statusPollMs = 5000;  // the operating status
    int slowPollMs = 60000;   // lamp time, temperatures and the other readings
    // How long a reply is waited for; the window ends early once the reply
    // is complete, so a longer one costs nothing while the projector answers.
    // The panel waits 500 ms, which a projector at rest keeps to; while its
    // lamp warms up or cools down a projector is known to answer late (its
    // controller busy with the lamp and the fans), and this projector's own
    // panel gives its picture commands 2 s and its signal commands 5 s. Two
    // seconds take replies four times as slow as the panel's window; a reply
    // later than that counts as none, and the guard after it (as long again)
    // keeps it from being taken for the next command's. A projector that
    // stops answering is found in three windows (two queries and a guard).
    int replyWindowMs = 2000;
};

class Projector : public QObject {
    Q_OBJECT

public:
    explicit Projector(ProjectorConfig config, QObject *parent = nullptr);
    ~Projector() override;

    const ProjectorConfig &config() const;
    const ProjectorState &state() const;
    // When the operating status was last read; invalid before the first reading.
    QDateTime statusReadAt() const;

    // Opens the line and starts polling.
    void start();

    // Who queued a command: any address that is the caller's own (a PJLink
    // connection, an MQTT face), only compared. Polls have none; callers
    // that give none share one owner, null.
    using Owner = const void *;

    // What waits for the line is bounded. An owner has at most
    // kMaxWaitingPerOwner commands waiting (the one on the line not
    // counted); once kMaxWaiting wait in all, only an owner with none
    // waiting may queue one more, so a flood never shuts another caller
    // out: the queue holds at most kMaxWaiting plus one per owner.
    static constexpr int kMaxWaiting = 32;
    static constexpr int kMaxWaitingPerOwner = 16;

    // Queues the command `code` (a code of the command table, without the
    // carriage return) for `owner`. `done` is called once, on this thread,
    // with how it ended; Outcome::Busy at once when the owner may queue no
    // more. A command that changes what a poll reads (power, input, mute)
    // is followed by a poll of that reading.
    //
    // Owners take turns: the line carries one command of each owner that
    // has any waiting before the second of any of them (and a waiting poll
    // between callers' commands), so one owner's burst delays another's
    // command by one command per owner at most.
    void perform(const QString &code, std::function<void(Outcome)> done, Owner owner = nullptr);

    // Drops the commands `owner` queued that have not gone to the line yet,
    // without calling their `done` (the owner is going away). A command on
    // the line is finished, and its `done` called, as usual.
    void dropPending(Owner owner);

    // Callers' commands waiting for the line, all owners.
    int waitingCount() const;

    // Every command sent and every reply received is added to `log` (may
    // be null), under the projector's name. Not owned.
    void setExchangeLog(ExchangeLog *log);

signals:
    // After every poll or command that changed the cache.
    void stateChanged(const mv70::bridge::ProjectorState &previous, const mv70::bridge::ProjectorState &now);
    // What happened to the line (lost, back, would not open), in words for
    // the bridge's log, without the projector's name (the log puts it first).
    void lineReport(const QString &description);

private:
    class Private;
    Private *d;
};

}  // namespace mv70::bridge
