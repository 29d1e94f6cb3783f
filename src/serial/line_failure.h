// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a line would not open or went away, as data: the cause and the facts
// that go with it. Each program words it for its own user (the panel, the
// command-line tool, a log); nothing here is a sentence for an operator.
//
// A line fills in what it learns at no cost (the cause, the device, the
// system's own words); diagnose() adds the facts that take looking around
// the system (who holds the device, which devices are present, the group
// that may use it). Those look-ups read /proc and the user database, so they
// run on a worker thread (diagnoseInBackground).

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "serial/port_diagnosis.h"
#include "serial/port_listing.h"

namespace mv70::serial {

struct LineFailure {
    enum class Cause {
        NoSuchDevice,     // the name leads to nothing
        NoPermission,     // this user may not open the device
        NoHardware,       // a legacy /dev/ttyS* name with no port behind it
        NotSerialPort,    // the name leads to a file or device that is no terminal (/dev/null)
        InUse,            // another program holds the device
        CannotOpen,       // refused for another reason: detail
        SettingsRefused,  // the device refused `settings`: detail
        BadAddress,       // a malformed network address: detail
        CannotConnect,    // a network connection not made: detail ("connection refused")
        Backlog,          // too much waiting for a network connection to be made
        WriteFailed,      // an open line refused a write: detail
        LineFailed,       // an open line failed: detail
        DeviceGone,       // an open line's device has gone from the system
        ConnectionLost,   // an open network line was dropped: detail
    };

    Cause cause = Cause::CannotOpen;
    QString device;    // the name as given
    QString resolved;  // the device file it led to (a local device)
    QString detail;    // the system's or the server's own words
    QString settings;  // the settings text, for SettingsRefused

    // Added by diagnose():
    bool diagnosed = false;
    QList<Holder> holders;      // InUse: who holds it, as far as this user may see
    QStringList suspects;       // InUse with no holder seen: services known to take adapters, running
    QList<ListedPort> present;  // NoSuchDevice, NoHardware: the serial devices there are
    GroupAccess access;         // NoPermission: the device's group and this user

    // True for a line that was open and went away (rather than one that did
    // not open).
    bool isLoss() const {
        return cause == Cause::WriteFailed || cause == Cause::LineFailed || cause == Cause::DeviceGone
            || cause == Cause::ConnectionLost;
    }
    // What identifies the cause for telling it once: the same cause on the
    // same device is not told again.
    QString key() const;
};

// The facts of the failure's cause, looked up now. Reads /dev, /sys, the
// lock directories, /proc and the user database; safe on any thread.
LineFailure diagnose(LineFailure failure);

// diagnose() on a worker thread; `done` runs on the thread of `context`
// with the result, from its event loop (never within this call), unless
// `context` has gone by then.
void diagnoseInBackground(const LineFailure &failure, QObject *context, std::function<void(const LineFailure &)> done);

// The failure in one line with its facts, for a log: "/dev/ttyUSB0: in use
// by minicom (process 1234)".
QString logText(const LineFailure &failure);

}  // namespace mv70::serial

Q_DECLARE_METATYPE(mv70::serial::LineFailure)
