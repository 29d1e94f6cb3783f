// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_diagnosis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "logic/visible_text.h"

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>
#endif

namespace mv70::serial {
namespace {

#ifdef Q_OS_UNIX

// The program's name: from its command line, whole (the kernel's own name
// for a process is cut at 15 characters).
QString programOf(qint64 pid) {
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (commandLine.open(QIODevice::ReadOnly)) {
        const QByteArray first = commandLine.read(4096).split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QString::fromLocal8Bit(first)).fileName();
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.read(256)).trimmed();
}

bool processAlive(qint64 pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3: what serial
// programs, Qt's among them, call the lock of a device.
QString lockFileName(const QString &device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    return QStringLiteral("LCK..") + name;
}

#endif  // Q_OS_UNIX

}  // namespace

std::optional<Holder> lockOwner(const QString &device) {
#ifdef Q_OS_UNIX
    QSet<QString> seen;
    for (const char *directory : {"/run/lock", "/var/lock", "/tmp"}) {
        const QString canonical = QFileInfo(QString::fromLatin1(directory)).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        QFile lock(canonical + u'/' + lockFileName(device));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        bool isNumber = false;
        const qint64 pid = lines.value(0).trimmed().toLongLong(&isNumber);
        if (!isNumber || !processAlive(pid))
            continue;  // stale: its owner is gone
        QString program = programOf(pid);
        if (program.isEmpty())
            program = QString::fromLocal8Bit(lines.value(1).trimmed());
        // Any user may write a lock file, and name any process in it.
        return Holder{pid, visibleText(program), true, lines.value(1).trimmed().isEmpty()};
    }
#else
    Q_UNUSED(device);
#endif
    return std::nullopt;
}

namespace {

#ifdef Q_OS_UNIX

// Every other process with the device open that this user may look into.
QList<Holder> openedBy(const QString &device) {
    QList<Holder> holders;
    struct stat target {};
    if (::stat(device.toLocal8Bit().constData(), &target) != 0 || !S_ISCHR(target.st_mode))
        return holders;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return holders;
    const qint64 self = ::getpid();
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        const QByteArray fdDirectory = "/proc/" + QByteArray(entry->d_name) + "/fd";
        DIR *fds = ::opendir(fdDirectory.constData());
        if (!fds)
            continue;  // another user's process, or gone meanwhile
        bool holds = false;
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            struct stat opened {};
            if (::fstatat(::dirfd(fds), fd->d_name, &opened, 0) == 0 && S_ISCHR(opened.st_mode)
                && opened.st_rdev == target.st_rdev) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (holds)
            holders.append(Holder{pid, visibleText(programOf(pid)), false, false});
    }
    ::closedir(proc);
    return holders;
}

#endif  // Q_OS_UNIX

}  // namespace

QList<Holder> findHolders(const QString &device, const QString &alsoNamed) {
#ifdef Q_OS_UNIX
    // The lock file's owner is the one that counts; others may have the
    // device open too (a simulator holds its own end, for one).
    for (const QString &name : {device, alsoNamed})
        if (!name.isEmpty())
            if (const std::optional<Holder> owner = lockOwner(name))
                return {*owner};
    return openedBy(device);
#else
    Q_UNUSED(device);
    Q_UNUSED(alsoNamed);
    return {};
#endif
}

QString describeHolder(const Holder &holder) {
    const QString program = holder.program.isEmpty() ? QStringLiteral("a program") : holder.program;
    return QStringLiteral("%1 (process %2)").arg(program).arg(holder.pid);
}

bool isPortWithoutHardware(const QString &device, const QString &sysClassTty) {
    static const QLatin1String legacy("/dev/ttyS");
    if (!device.startsWith(legacy))
        return false;
    QFile type(sysClassTty + u'/' + device.mid(5) + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;  // cannot be told
    return type.readAll().trimmed() == "0";
}

bool isNotSerialPort(const QString &device, const QString &sysDevChar) {
#ifdef Q_OS_UNIX
    struct stat status {};
    if (::stat(device.toLocal8Bit().constData(), &status) != 0)
        return false;  // gone: told as such elsewhere
    if (!S_ISCHR(status.st_mode))
        return true;
    // The kernel's class of the device: every serial port is a "tty".
    const QFileInfo subsystem(
        QStringLiteral("%1/%2:%3/subsystem").arg(sysDevChar).arg(major(status.st_rdev)).arg(minor(status.st_rdev)));
    if (!subsystem.exists())
        return false;
    return QFileInfo(subsystem.symLinkTarget()).fileName() != QLatin1String("tty");
#else
    Q_UNUSED(device);
    Q_UNUSED(sysDevChar);
    return false;
#endif
}

bool programRunning(const QString &program) {
#ifdef Q_OS_UNIX
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber && programOf(pid) == program)
            return true;
    }
#else
    Q_UNUSED(program);
#endif
    return false;
}

bool mayOpen(const QString &device) {
#ifdef Q_OS_UNIX
    return ::access(device.toLocal8Bit().constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(device);
    return true;
#endif
}

GroupAccess groupAccess(const QString &device) {
    GroupAccess facts;
#ifdef Q_OS_UNIX
    const QByteArray path = device.toLocal8Bit();
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return facts;
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return facts;
    const passwd *account = ::getpwuid(::geteuid());
    facts.user = account ? QString::fromLocal8Bit(account->pw_name) : QStringLiteral("$USER");
    const group *owning = ::getgrgid(status.st_gid);
    facts.group = owning ? QString::fromLocal8Bit(owning->gr_name) : QString::number(status.st_gid);
    const bool groupMayUse = (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (status.st_gid == 0 || !groupMayUse) {
        facts.kind = GroupAccess::Kind::OwnerOnly;
        return facts;
    }
    // In the group already, by the user database, but not in this session?
    bool member = false;
    if (account) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            ::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count);
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        member = std::find(groups.begin(), groups.end(), status.st_gid) != groups.end();
    }
    facts.kind = member ? GroupAccess::Kind::JoinedLater : GroupAccess::Kind::NotMember;
#else
    Q_UNUSED(device);
#endif
    return facts;
}

}  // namespace mv70::serial
