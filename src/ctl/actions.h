// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// mv70-ctl's actions and options. Every action is a row of the panel's own
// tables: a one-shot or press-and-hold button with its action words, or a
// query the reply decoder knows; the command it sends and the reply window it
// waits are the panel's.

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace mv70::ctl {

enum class ActionKind { OneShot, Hold, Query, Send };

struct Action {
    QString words;  // as named on the command line: "power on"
    QString code;   // what is sent, without the carriage return
    ActionKind kind = ActionKind::OneShot;
    int replyWindow = 0;   // ms after the last send
    int repeatPeriod = 0;  // ms between the steps of a press-and-hold action
};

// Every action but "send", in table order: buttons first, then queries.
QList<Action> allActions();

// The action that `words` name (for "send", the words after it are the
// code, joined by blanks); nullopt for none.
std::optional<Action> findAction(const QStringList &words);

// Every action by name, one per line, as --help lists them.
QStringList actionList();

struct Options {
    QStringList ports;  // devices, in the order given
    QString settings;   // "19200,N,8,1" or "9600,N,8,1"
    Action action;
    int steps = 1;  // sends of a press-and-hold action
    bool json = false;
    QString waitFor;        // a reading to wait for; empty: none
    int timeoutMs = 60000;  // for waitFor
    QString logPath;
    bool help = false;
    bool version = false;
};

inline constexpr int kMaxSteps = 10000;
// The pace of the status queries while waiting for a reading.
inline constexpr int kWaitPollMs = 1000;

// Options from the arguments after the program's name, or what is wrong
// with them. The default port is what the panel's COM1 would open.
std::variant<Options, QString> parseArguments(const QStringList &arguments);

QString usage();

}  // namespace mv70::ctl
