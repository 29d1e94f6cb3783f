// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/port_words.h"

#include "logic/network_address.h"

namespace mv70::window {
namespace {

using serial::LineFailure;

QString portLabel(int port, const QString &device) { return QStringLiteral("COM%1 (%2)").arg(port).arg(device); }

// What to do about a program known to take serial adapters.
QString adviceFor(const QString &program) {
    if (program.compare(QLatin1String("ModemManager"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "ModemManager, the mobile-broadband service, tries every newly plugged USB serial adapter as a modem. "
            "It usually lets go within about 10 seconds: choose the port again then. To keep it away for good, "
            "stop it when no mobile-broadband modem is used (sudo systemctl disable --now ModemManager), or give "
            "the adapter a udev rule with ENV{ID_MM_DEVICE_IGNORE}=\"1\".");
    if (program.compare(QLatin1String("brltty"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(
            "brltty, the braille display service, takes some USB serial adapters (CH340, CP210x) for a braille "
            "display. If someone on this machine reads it with a braille display, leave brltty alone and use an "
            "adapter of another make. Otherwise stop it from taking adapters (sudo systemctl mask brltty-udev.service, "
            "then sudo systemctl stop brltty.service) and plug the adapter in again.");
    return {};
}

QString adaptersPresent(int port, const QList<serial::ListedPort> &ports) {
    if (ports.isEmpty())
        return QStringLiteral("No serial adapter is present: plug it in (check the cable), then choose COM%1 in "
                              "the COM panel to try again.")
            .arg(port);
    QString text = QStringLiteral("Serial devices present now:\n");
    for (const serial::ListedPort &present : ports)
        text += QStringLiteral("  %1\n").arg(serial::describePort(present));
    text += QStringLiteral("To use one, start the panel with its name, e.g.\n  mv70-control --com%1 %2\n"
                           "(or set MV70_COM%1 to it).")
                .arg(port)
                .arg(ports.first().bestName());
    return text;
}

QString permissionAdvice(const QString &device, const serial::GroupAccess &access) {
    using Kind = serial::GroupAccess::Kind;
    switch (access.kind) {
    case Kind::Allowed:
        return {};
    case Kind::OwnerOnly:
        return QStringLiteral("It is open to its owner alone, not to a group of users. Serial devices usually belong "
                              "to the group dialout: ask the administrator to give it to that group "
                              "(sudo chgrp dialout %1 && sudo chmod g+rw %1), and to add you to it "
                              "(sudo adduser %2 dialout), then log out and in again.")
            .arg(device, access.user);
    case Kind::JoinedLater:
        return QStringLiteral("It belongs to the group %1. User %2 has been added to that group, but after this "
                              "session began: log out and in again (or restart the machine).")
            .arg(access.group, access.user);
    case Kind::NotMember:
        return QStringLiteral("It belongs to the group %1, and user %2 is not in it. To allow it, run\n"
                              "  sudo adduser %2 %1\nthen log out and in again.")
            .arg(access.group, access.user);
    }
    return {};
}

QString inUse(int port, const QString &which, const LineFailure &failure) {
    QString text = QStringLiteral("COM%1: %2 is in use by another program").arg(port).arg(which);
    if (failure.holders.isEmpty()) {
        text += QStringLiteral(", which this user may not see.");
        for (const QString &suspect : failure.suspects)
            text += QStringLiteral("\n%1 is running and may be the one: %2").arg(suspect, adviceFor(suspect));
        return text;
    }
    QStringList who;
    for (const serial::Holder &holder : failure.holders)
        who << serial::describeHolder(holder);
    text += QStringLiteral(": %1.").arg(who.join(QStringLiteral(", ")));
    QString advice;
    for (const serial::Holder &holder : failure.holders)
        if (advice = adviceFor(holder.program); !advice.isEmpty())
            break;
    return text + u'\n' + (advice.isEmpty() ? QStringLiteral("Close that program, or choose the other port.") : advice);
}

QString whatWentAway(const LineFailure &failure) {
    switch (failure.cause) {
    case LineFailure::Cause::DeviceGone:
        return QStringLiteral("the device is gone");
    case LineFailure::Cause::WriteFailed:
        return QStringLiteral("write failed: ") + failure.detail;
    case LineFailure::Cause::LineFailed:
        return QStringLiteral("the line failed: ") + failure.detail;
    default:  // a network line's cause is its own words already
        return failure.detail;
    }
}

}  // namespace

QString describeFailure(int port, const LineFailure &failure) {
    if (failure.isLoss())
        return QStringLiteral("%1 disconnected: %2. Waiting for it to come back...")
            .arg(portLabel(port, failure.device), whatWentAway(failure));
    const QString &name = failure.device;
    const QString which = failure.resolved.isEmpty() || failure.resolved == name
                            ? name
                            : QStringLiteral("%1 (%2)").arg(name, failure.resolved);
    switch (failure.cause) {
    case LineFailure::Cause::NoSuchDevice:
        return QStringLiteral("COM%1: no such device %2.\n").arg(port).arg(name)
             + adaptersPresent(port, failure.present);
    case LineFailure::Cause::NoPermission:
        return QStringLiteral("COM%1: no permission to open %2.\n%3")
            .arg(port)
            .arg(which, permissionAdvice(failure.resolved, failure.access));
    case LineFailure::Cause::NoHardware:
        return QStringLiteral("COM%1: %2 is not a real serial port: the system keeps the name, but this machine "
                              "has no port behind it.\n")
                   .arg(port)
                   .arg(which)
             + adaptersPresent(port, failure.present);
    case LineFailure::Cause::NotSerialPort:
        return QStringLiteral("COM%1: %2 is not a serial port: point COM%1 at the serial adapter's device "
                              "(mv70-control --com%1 DEVICE, or MV70_COM%1).")
            .arg(port)
            .arg(which);
    case LineFailure::Cause::InUse:
        return inUse(port, which, failure);
    case LineFailure::Cause::CannotOpen:
        return QStringLiteral("COM%1: cannot open %2: %3").arg(port).arg(which, failure.detail);
    case LineFailure::Cause::SettingsRefused:
        return QStringLiteral("%1 refused the settings \"%2\": %3")
            .arg(portLabel(port, name), failure.settings, failure.detail);
    case LineFailure::Cause::BadAddress:
        return QStringLiteral("COM%1: %2").arg(port).arg(failure.detail);
    case LineFailure::Cause::CannotConnect: {
        const auto address = serial::parseNetworkAddress(name);
        const QString where = std::holds_alternative<serial::NetworkAddress>(address)
                                ? std::get<serial::NetworkAddress>(address).hostAndPort()
                                : name;
        return QStringLiteral("COM%1: cannot connect to %2: %3").arg(port).arg(where, failure.detail);
    }
    case LineFailure::Cause::Backlog:
        return QStringLiteral("%1: write failed: too much waiting for the connection").arg(portLabel(port, name));
    default:
        return serial::logText(failure);
    }
}

QString describeStillAway(int port, const LineFailure &failure, int intervalMs) {
    const int seconds = qMax(1, intervalMs / 1000);
    return describeFailure(port, failure).section(u'\n', 0, 0)
         + (seconds == 1 ? QStringLiteral(" Trying again every second...")
                         : QStringLiteral(" Trying again every %1 seconds...").arg(seconds));
}

QString describeRestored(int port, const QString &device) {
    return QStringLiteral("%1 is back").arg(portLabel(port, device));
}

QString describeSettingsNotCarried(int port, const QString &device, const serial::SettingsNotice &notice) {
    using Kind = serial::SettingsNotice::Kind;
    switch (notice.kind) {
    case Kind::NotCarried:
        break;
    case Kind::OptionRefused:
        return QStringLiteral("%1: the network serial server refused the COM port option, so it carries no line "
                              "settings; the speed is the one set at the server")
            .arg(portLabel(port, device));
    case Kind::OptionUnanswered:
        return QStringLiteral("%1: the network serial server did not answer the COM port option, so it carries no "
                              "line settings; the speed is the one set at the server")
            .arg(portLabel(port, device));
    case Kind::OtherSpeed:
        return QStringLiteral("%1: %2 bps was chosen, but the network serial server set its port to %3 bps")
            .arg(portLabel(port, device))
            .arg(notice.asked)
            .arg(notice.confirmed);
    }
    return QStringLiteral("%1: raw TCP carries no line settings; the speed is the one set at the network serial server")
        .arg(portLabel(port, device));
}

}  // namespace mv70::window
