// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_device.h"

#include <QFileInfo>
#include <QHash>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace mv70::serial {
namespace {

QHash<int, QString> &options() {
    static QHash<int, QString> fromCommandLine;
    return fromCommandLine;
}

}  // namespace

QString portDevice(int port) {
    if (const QString option = options().value(port); !option.isEmpty())
        return option;
    const QByteArray fromEnvironment = qgetenv(QStringLiteral("MV70_COM%1").arg(port).toLatin1().constData());
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

void setPortDeviceOption(int port, const QString &device) {
    if (device.isEmpty())
        options().remove(port);
    else
        options().insert(port, device);
}

QString resolveDevice(const QString &name) {
#ifdef Q_OS_UNIX
    if (!name.startsWith(u'/'))
        return name;
    const QString target = QFileInfo(name).canonicalFilePath();
    return target.isEmpty() ? name : target;
#else
    return name;
#endif
}

bool devicePresent(const QString &name) {
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::stat(name.toLocal8Bit().constData(), &status) == 0 && S_ISCHR(status.st_mode);
#else
    Q_UNUSED(name);
    return true;
#endif
}

}  // namespace mv70::serial
