// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_listing.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

#include "logic/visible_text.h"
#include "serial/port_device.h"

namespace mv70::serial {

QList<ListedPort> listPorts(const QString &stableNameDirectory) {
    QList<ListedPort> ports;
    const auto find = [&ports](const QString &device) -> ListedPort * {
        for (ListedPort &port : ports)
            if (port.device == device)
                return &port;
        return nullptr;
    };
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        ListedPort port;
        port.device = resolveDevice(info.systemLocation());
        // The adapter's maker chooses these strings.
        port.maker = visibleText(info.manufacturer());
        port.product = visibleText(info.description());
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        if (!find(port.device))
            ports.append(port);
    }
    const QDir links(stableNameDirectory);
    for (const QFileInfo &link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!link.isSymLink())
            continue;
        const QString device = resolveDevice(link.absoluteFilePath());
        if (!devicePresent(device))
            continue;  // a link left behind by an adapter that is gone
        ListedPort *port = find(device);
        if (!port) {
            ports.append(ListedPort{device, {}, {}, {}, 0, 0, {}});
            port = &ports.last();
        }
        port->stableNames.append(link.absoluteFilePath());
    }
    std::ranges::sort(ports, {}, &ListedPort::device);
    for (ListedPort &port : ports)
        port.holders = findHolders(port.device);
    return ports;
}

QString describePort(const ListedPort &port) {
    QStringList about;
    if (!port.stableNames.isEmpty())
        about << port.device;
    if (port.vendorId != 0 || port.productId != 0)
        about << QStringLiteral("USB %1:%2")
                     .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(port.productId, 4, 16, QLatin1Char('0'));
    const QString product = QStringList{port.maker, port.product}.join(u' ').trimmed();
    if (!product.isEmpty())
        about << product;
    return about.isEmpty() ? port.bestName()
                           : QStringLiteral("%1 (%2)").arg(port.bestName(), about.join(QStringLiteral(", ")));
}

QString formatListing(const QList<ListedPort> &ports) {
    if (ports.isEmpty())
        return QStringLiteral("No serial devices found.\n");
    QString text;
    for (const ListedPort &port : ports) {
        text += port.device + u'\n';
        for (const QString &name : port.stableNames)
            text += QStringLiteral("    stable name: %1\n").arg(name);
        if (port.vendorId != 0 || port.productId != 0)
            text += QStringLiteral("    USB %1:%2 %3\n")
                        .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                        .arg(port.productId, 4, 16, QLatin1Char('0'))
                        .arg(QStringList{port.maker, port.product}.join(u' ').trimmed());
        else if (!port.product.isEmpty() || !port.maker.isEmpty())
            text += QStringLiteral("    %1\n").arg(QStringList{port.maker, port.product}.join(u' ').trimmed());
        if (port.holders.isEmpty()) {
            text += QStringLiteral("    free\n");
        } else {
            QStringList who;
            for (const Holder &holder : port.holders)
                who << describeHolder(holder);
            text +=
                QStringLiteral("    %1 %2\n")
                    .arg(port.holders.first().byLockFile ? QStringLiteral("in use by") : QStringLiteral("held open by"),
                         who.join(QStringLiteral(", ")));
        }
    }
    return text;
}

}  // namespace mv70::serial
