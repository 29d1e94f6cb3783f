#pragma once
// Why a port will not open, or why an open line went away, told in words an
// operator can act on: the cause, and what to do about it. Reads /dev, /sys,
// the lock directories and /proc; nothing here changes anything.

#include <QList>
#include <QSerialPort>
#include <QString>

#include <optional>

namespace mv70::serial {

// A process that holds a device.
struct Holder {
    qint64 pid = 0;
    QString program;
    bool byLockFile = false;  // else: seen holding the device open
    // The lock file gives the process number alone, as minicom and picocom
    // write it (Qt's own also names the program, and Qt judges those itself).
    bool lockOfSharedForm = false;
};

// Who holds the device, as far as this user may see: the owner of its lock
// file (the convention serial programs share: LCK..<name> in /run/lock or
// /var/lock, its owner's process number on the first line), else the
// processes that have it open (all of them as root; only this user's
// otherwise). `device` is the resolved device file; `alsoNamed` another name
// of it whose lock file counts too. Our own process counts only through a
// lock file.
QList<Holder> findHolders(const QString &device, const QString &alsoNamed = {});

// The live owner of the device's lock file, if any (see findHolders).
std::optional<Holder> lockOwner(const QString &device);

// "minicom (process 1234)".
QString describeHolder(const Holder &holder);

// A legacy /dev/ttyS* name with no port hardware behind it: the kernel
// keeps the name, but the port's type is unknown. `sysClassTty` is where the
// kernel lists its terminals.
bool isPortWithoutHardware(const QString &device, const QString &sysClassTty = QStringLiteral("/sys/class/tty"));

// What the user may do about a device they may not open: the group that owns
// it and the command that puts this user in it. Empty when access is allowed.
QString permissionAdvice(const QString &device);

// The warning for a port that would not open. `name` is the device as given
// (for --comN or MV70_COMN), `device` what it led to, `error` and
// `errorString` what the serial library said.
QString describeOpenFailure(int port, const QString &name, const QString &device, QSerialPort::SerialPortError error,
                            const QString &errorString);

// The reason a line that was open went away, for after the port was closed:
// "the device is gone" when the name leads nowhere now.
QString describeLoss(const QString &name, const QString &what);

}  // namespace mv70::serial
