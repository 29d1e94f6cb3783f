// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line_failure.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace mv70::serial {

QString LineFailure::key() const {
    return QStringLiteral("%1 %2 %3").arg(static_cast<int>(cause)).arg(resolved.isEmpty() ? device : resolved, detail);
}

LineFailure diagnose(LineFailure failure) {
    switch (failure.cause) {
    case LineFailure::Cause::NoSuchDevice:
    case LineFailure::Cause::NoHardware:
        failure.present = listPorts();
        break;
    case LineFailure::Cause::NoPermission:
        failure.access = groupAccess(failure.resolved);
        break;
    case LineFailure::Cause::InUse:
        failure.holders = findHolders(failure.resolved, failure.device);
        if (failure.holders.isEmpty())
            for (const char *taker : kAdapterTakers)
                if (programRunning(QString::fromLatin1(taker)))
                    failure.suspects << QString::fromLatin1(taker);
        break;
    default:
        break;
    }
    failure.diagnosed = true;
    return failure;
}

void diagnoseInBackground(const LineFailure &failure, QObject *context, std::function<void(const LineFailure &)> done) {
    QtConcurrent::run(diagnose, failure).then(context, [context, done = std::move(done)](const LineFailure &diagnosed) {
        // Qt runs a continuation at once, within then(), when the look-up
        // has ended already; posted again, `done` always comes from the
        // event loop, never from within this call (a probe, a serial event).
        QMetaObject::invokeMethod(
            context, [done, diagnosed] { done(diagnosed); }, Qt::QueuedConnection);
    });
}

QString logText(const LineFailure &failure) {
    const QString device = failure.resolved.isEmpty() || failure.resolved == failure.device
                             ? failure.device
                             : QStringLiteral("%1 (%2)").arg(failure.device, failure.resolved);
    QString text;
    switch (failure.cause) {
    case LineFailure::Cause::NoSuchDevice:
        text = QStringLiteral("no such device");
        break;
    case LineFailure::Cause::NoPermission:
        text = QStringLiteral("no permission");
        if (!failure.access.group.isEmpty())
            text += QStringLiteral(" (group %1, user %2)").arg(failure.access.group, failure.access.user);
        break;
    case LineFailure::Cause::NoHardware:
        text = QStringLiteral("no port hardware behind the name");
        break;
    case LineFailure::Cause::NotSerialPort:
        text = QStringLiteral("not a serial port");
        break;
    case LineFailure::Cause::InUse: {
        QStringList who;
        for (const Holder &holder : failure.holders)
            who << describeHolder(holder);
        text = QStringLiteral("in use");
        if (!who.isEmpty())
            text += QStringLiteral(" by ") + who.join(QStringLiteral(", "));
        if (!failure.suspects.isEmpty())
            text += QStringLiteral(" (running: %1)").arg(failure.suspects.join(QStringLiteral(", ")));
        break;
    }
    case LineFailure::Cause::CannotOpen:
        text = QStringLiteral("cannot open: ") + failure.detail;
        break;
    case LineFailure::Cause::SettingsRefused:
        text = QStringLiteral("settings \"%1\" refused: %2").arg(failure.settings, failure.detail);
        break;
    case LineFailure::Cause::BadAddress:
        text = failure.detail;
        break;
    case LineFailure::Cause::CannotConnect:
        text = QStringLiteral("cannot connect: ") + failure.detail;
        break;
    case LineFailure::Cause::Backlog:
        text = QStringLiteral("too much waiting for the connection");
        break;
    case LineFailure::Cause::WriteFailed:
        text = QStringLiteral("write failed: ") + failure.detail;
        break;
    case LineFailure::Cause::LineFailed:
        text = QStringLiteral("line failed: ") + failure.detail;
        break;
    case LineFailure::Cause::DeviceGone:
        text = QStringLiteral("device gone");
        break;
    case LineFailure::Cause::ConnectionLost:
        text = QStringLiteral("connection lost: ") + failure.detail;
        break;
    }
    return QStringLiteral("%1: %2").arg(device, text);
}

}  // namespace mv70::serial
