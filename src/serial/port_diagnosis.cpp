#include "serial/port_diagnosis.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "serial/port_device.h"
#include "serial/port_listing.h"

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
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
        return Holder{pid, program, true, lines.value(1).trimmed().isEmpty()};
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
            holders.append(Holder{pid, programOf(pid), false, false});
    }
    ::closedir(proc);
    return holders;
}

bool programRunning(const QString &program) {
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber && programOf(pid) == program)
            return true;
    }
    return false;
}

QString userName() {
    const passwd *user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER");
}

#endif  // Q_OS_UNIX

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

// The command-line tool shares the panel's words, but its user names a
// device with --port and tries again by running it again.
bool toldToCommandLineTool() { return QCoreApplication::applicationName() == QLatin1String("mv70-ctl"); }

QString adaptersPresent(int port) {
    const QList<ListedPort> ports = listPorts();
    if (ports.isEmpty())
        return toldToCommandLineTool()
                 ? QStringLiteral("No serial adapter is present: plug it in (check the cable), then try again.")
                 : QStringLiteral("No serial adapter is present: plug it in (check the cable), then choose COM%1 in "
                                  "the COM panel to try again.")
                       .arg(port);
    QString text = QStringLiteral("Serial devices present now:\n");
    for (const ListedPort &present : ports)
        text += QStringLiteral("  %1\n").arg(describePort(present));
    if (toldToCommandLineTool())
        text += QStringLiteral("To use one, name it with --port, e.g.\n  mv70-ctl --port %1 status")
                    .arg(ports.first().bestName());
    else
        text += QStringLiteral("To use one, start the panel with its name, e.g.\n  mv70-control --com%1 %2\n"
                               "(or set MV70_COM%1 to it).")
                    .arg(port)
                    .arg(ports.first().bestName());
    return text;
}

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

QString permissionAdvice(const QString &device) {
#ifdef Q_OS_UNIX
    const QByteArray path = device.toLocal8Bit();
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return {};
    struct stat status {};
    if (::stat(path.constData(), &status) != 0)
        return {};
    const QString user = userName();
    const group *owning = ::getgrgid(status.st_gid);
    const QString groupName = owning ? QString::fromLocal8Bit(owning->gr_name) : QString::number(status.st_gid);
    const bool groupMayUse = (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (status.st_gid == 0 || !groupMayUse)
        return QStringLiteral("It is open to its owner alone, not to a group of users. Serial devices usually belong "
                              "to the group dialout: ask the administrator to give it to that group "
                              "(sudo chgrp dialout %1 && sudo chmod g+rw %1), and to add you to it "
                              "(sudo adduser %2 dialout), then log out and in again.")
            .arg(device, user);

    // In the group already, by the user database, but not in this session?
    bool member = false;
    if (const passwd *account = ::getpwuid(::geteuid())) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            ::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count);
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        member = std::find(groups.begin(), groups.end(), status.st_gid) != groups.end();
    }
    if (member)
        return QStringLiteral("It belongs to the group %1. User %2 has been added to that group, but after this "
                              "session began: log out and in again (or restart the machine).")
            .arg(groupName, user);
    return QStringLiteral("It belongs to the group %1, and user %2 is not in it. To allow it, run\n"
                          "  sudo adduser %2 %1\nthen log out and in again.")
        .arg(groupName, user);
#else
    Q_UNUSED(device);
    return {};
#endif
}

QString describeOpenFailure(int port, const QString &name, const QString &device, QSerialPort::SerialPortError error,
                            const QString &errorString) {
    const QString which = device == name ? name : QStringLiteral("%1 (%2)").arg(name, device);
    if (!QFileInfo::exists(device))
        return QStringLiteral("COM%1: no such device %2.\n").arg(port).arg(name) + adaptersPresent(port);
#ifdef Q_OS_UNIX
    if (const QString advice = permissionAdvice(device); !advice.isEmpty())
        return QStringLiteral("COM%1: no permission to open %2.\n%3").arg(port).arg(which, advice);
#endif
    if (isPortWithoutHardware(device))
        return QStringLiteral("COM%1: %2 is not a real serial port: the system keeps the name, but this machine "
                              "has no port behind it.\n")
                   .arg(port)
                   .arg(which)
             + adaptersPresent(port);
    const QList<Holder> holders = findHolders(device, name);
    if (error == QSerialPort::PermissionError || !holders.isEmpty()) {
        QString text = QStringLiteral("COM%1: %2 is in use by another program").arg(port).arg(which);
        if (holders.isEmpty()) {
            text += QStringLiteral(", which this user may not see.");
#ifdef Q_OS_UNIX
            for (const char *suspect : {"ModemManager", "brltty"})
                if (programRunning(QString::fromLatin1(suspect)))
                    text += QStringLiteral("\n%1 is running and may be the one: %2")
                                .arg(QString::fromLatin1(suspect), adviceFor(QString::fromLatin1(suspect)));
#endif
            return text;
        }
        QStringList who;
        for (const Holder &holder : holders)
            who << describeHolder(holder);
        text += QStringLiteral(": %1.").arg(who.join(QStringLiteral(", ")));
        QString advice;
        for (const Holder &holder : holders)
            if (advice = adviceFor(holder.program); !advice.isEmpty())
                break;
        text += u'\n' + (advice.isEmpty() ? QStringLiteral("Close that program, or choose the other port.") : advice);
        return text;
    }
    return QStringLiteral("COM%1: cannot open %2: %3").arg(port).arg(which, errorString);
}

QString describeLoss(const QString &name, const QString &what) {
    return devicePresent(name) ? what : QStringLiteral("the device is gone");
}

}  // namespace mv70::serial
