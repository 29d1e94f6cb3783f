// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// mv70-bridge's command line and configuration file, read into one
// BridgeSection per projector. Everything that can be wrong with them is
// found here, before anything opens: a usage error has a message and the
// program ends with status 2.

#include <QList>
#include <QString>
#include <QStringList>

#include "bridge/config.h"

namespace mv70::bridge {

struct CommandLine {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::UsageError;
    QList<BridgeSection> sections;  // for Run
    QString message;                // for UsageError: what is wrong, in one line
};

// `arguments` without the program's name.
CommandLine parseCommandLine(const QStringList &arguments);

QString usageText();

// Reads a password file that only its owner may read: the first line,
// without its line break. A file that others may read, or that cannot be
// read, gives an error (and no password).
QByteArray readPasswordFile(const QString &path, QString *error);

// "ADDRESS:PORT" with an IPv6 address in brackets. False when malformed.
bool parseHostPort(const QString &text, QHostAddress *address, quint16 *port);

}  // namespace mv70::bridge
