// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl/port_words.h"

#include "logic/network_address.h"

namespace mv70::ctl {
namespace {

using serial::LineFailure;

QString adaptersPresent(const QList<serial::ListedPort> &ports) {
    if (ports.isEmpty())
        return QStringLiteral("No serial adapter is present: plug it in (check the cable), then try again.");
    QString text = QStringLiteral("Serial devices present now:\n");
    for (const serial::ListedPort &present : ports)
        text += QStringLiteral("  %1\n").arg(serial::describePort(present));
    return text
         + QStringLiteral("To use one, name it with --port, e.g.\n  mv70-ctl --port %1 status")
               .arg(ports.first().bestName());
}

QString permissionAdvice(const QString &device, const serial::GroupAccess &access) {
    using Kind = serial::GroupAccess::Kind;
    switch (access.kind) {
    case Kind::Allowed:
        return {};
    case Kind::OwnerOnly:
        return QStringLiteral("It is open to its owner alone. Ask the administrator to give it to the group dialout "
                              "(sudo chgrp dialout %1 && sudo chmod g+rw %1) and to add %2 to that group.")
            .arg(device, access.user);
    case Kind::JoinedLater:
        return QStringLiteral("User %1 was added to the group %2 after this session began: log in again.")
            .arg(access.user, access.group);
    case Kind::NotMember:
        return QStringLiteral("It belongs to the group %1; add user %2 to it (sudo adduser %2 %1), then log in again.")
            .arg(access.group, access.user);
    }
    return {};
}

QString inUse(const QString &which, const LineFailure &failure) {
    QString text = QStringLiteral("%1 is in use by another program").arg(which);
    if (failure.holders.isEmpty()) {
        text += QStringLiteral(", which this user may not see.");
        for (const QString &suspect : failure.suspects)
            text += QStringLiteral("\n%1 is running and may hold it: it takes newly plugged USB serial adapters for "
                                   "its own.")
                        .arg(suspect);
        return text;
    }
    QStringList who;
    for (const serial::Holder &holder : failure.holders)
        who << serial::describeHolder(holder);
    return text
         + QStringLiteral(": %1.\nEnd that program, then run mv70-ctl again.").arg(who.join(QStringLiteral(", ")));
}

}  // namespace

QString describeFailure(const LineFailure &failure) {
    const QString &name = failure.device;
    const QString which = failure.resolved.isEmpty() || failure.resolved == name
                            ? name
                            : QStringLiteral("%1 (%2)").arg(name, failure.resolved);
    switch (failure.cause) {
    case LineFailure::Cause::NoSuchDevice:
        return QStringLiteral("no such device %1.\n").arg(name) + adaptersPresent(failure.present);
    case LineFailure::Cause::NoPermission:
        return QStringLiteral("no permission to open %1.\n%2")
            .arg(which, permissionAdvice(failure.resolved, failure.access));
    case LineFailure::Cause::NoHardware:
        return QStringLiteral("%1 is not a real serial port: the system keeps the name, but this machine has no port "
                              "behind it.\n")
                   .arg(which)
             + adaptersPresent(failure.present);
    case LineFailure::Cause::NotSerialPort:
        return QStringLiteral("%1 is not a serial port: name the serial adapter's device with --port.").arg(which);
    case LineFailure::Cause::InUse:
        return inUse(which, failure);
    case LineFailure::Cause::CannotOpen:
        return QStringLiteral("cannot open %1: %2").arg(which, failure.detail);
    case LineFailure::Cause::SettingsRefused:
        return QStringLiteral("%1 refused the settings \"%2\": %3").arg(which, failure.settings, failure.detail);
    case LineFailure::Cause::BadAddress:
        return failure.detail;
    case LineFailure::Cause::CannotConnect: {
        const auto address = serial::parseNetworkAddress(name);
        const QString where = std::holds_alternative<serial::NetworkAddress>(address)
                                ? std::get<serial::NetworkAddress>(address).hostAndPort()
                                : name;
        return QStringLiteral("cannot connect to %1: %2").arg(where, failure.detail);
    }
    case LineFailure::Cause::Backlog:
        return QStringLiteral("%1: too much waiting for the connection").arg(name);
    case LineFailure::Cause::DeviceGone:
        return QStringLiteral("%1 disconnected: the device is gone").arg(name);
    case LineFailure::Cause::WriteFailed:
        return QStringLiteral("%1 disconnected: write failed: %2").arg(name, failure.detail);
    case LineFailure::Cause::LineFailed:
        return QStringLiteral("%1 disconnected: the line failed: %2").arg(name, failure.detail);
    case LineFailure::Cause::ConnectionLost:
        return QStringLiteral("%1 disconnected: %2").arg(name, failure.detail);
    }
    return serial::logText(failure);
}

QString describeSettingsNotice(const QString &device, const serial::SettingsNotice &notice) {
    using Kind = serial::SettingsNotice::Kind;
    switch (notice.kind) {
    case Kind::NotCarried:
        break;
    case Kind::OptionRefused:
        return QStringLiteral("%1: the server refused the COM port option; the speed is the one set at the server")
            .arg(device);
    case Kind::OptionUnanswered:
        return QStringLiteral("%1: the server did not answer the COM port option; the speed is the one set at the "
                              "server")
            .arg(device);
    case Kind::OtherSpeed:
        return QStringLiteral("%1: --speed %2 asked for, but the server set its port to %3 bps")
            .arg(device)
            .arg(notice.asked)
            .arg(notice.confirmed);
    }
    return QStringLiteral("%1: raw TCP carries no line settings; the speed is the one set at the server").arg(device);
}

}  // namespace mv70::ctl
