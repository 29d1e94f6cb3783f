// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Facts about a device that will not open: who holds it, whether it is a
// real port, whether this user may use it. Reads /dev, /sys, the lock
// directories, /proc and the user database; nothing here changes anything,
// and nothing here is worded for an operator.

#include <QList>
#include <QString>

#include <optional>

namespace mv70::serial {

// A process that holds a device.
struct Holder {
    qint64 pid = 0;
    QString program;          // control characters made visible: any user may name any process
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

// A name that leads to something other than a terminal: a file, a
// directory, a character device of another kind (/dev/null). False when it
// cannot be told (a pseudo-terminal has no entry in `sysDevChar`); opens
// nothing, so a real port's lines are left alone.
bool isNotSerialPort(const QString &device, const QString &sysDevChar = QStringLiteral("/sys/dev/char"));

// A device this user may not open: its group and whether this user is in it.
struct GroupAccess {
    enum class Kind {
        Allowed,      // this user may open it
        OwnerOnly,    // no group of users may use it
        NotMember,    // `group` may use it; `user` is not in it
        JoinedLater,  // `user` was added to `group` after this session began
    };
    Kind kind = Kind::Allowed;
    QString user;
    QString group;
};

// Quick: whether this user may read and write the device (one system call).
bool mayOpen(const QString &device);

// The device's group and this user's place in it; looks the user up.
GroupAccess groupAccess(const QString &device);

// Whether a process of that program runs now (reads every /proc/N/cmdline).
bool programRunning(const QString &program);

// The services known to take USB serial adapters for their own.
inline constexpr const char *kAdapterTakers[] = {"ModemManager", "brltty"};

}  // namespace mv70::serial
