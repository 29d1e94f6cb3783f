// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial devices present: their device files, the stable names that lead
// to them, the USB adapter's maker and product where known, and whether some
// program holds them.

#include <QList>
#include <QString>
#include <QStringList>

#include "serial/port_diagnosis.h"

namespace mv70::serial {

struct ListedPort {
    QString device;           // /dev/ttyUSB0
    QStringList stableNames;  // /dev/serial/by-id/usb-…: survive re-plugging
    QString maker;            // "FTDI"; both with control characters made visible
    QString product;          // "FT232R USB UART"
    quint16 vendorId = 0;     // USB ids; 0 when unknown
    quint16 productId = 0;
    QList<Holder> holders;

    // The name to give --comN: the first stable one, else the device.
    QString bestName() const { return stableNames.isEmpty() ? device : stableNames.first(); }
};

inline constexpr const char *kStableNameDirectory = "/dev/serial/by-id";

// The serial ports the system knows (real hardware only: a legacy
// /dev/ttyS* with nothing behind it is left out) together with every device
// that a link in `stableNameDirectory` leads to, sorted by device.
QList<ListedPort> listPorts(const QString &stableNameDirectory = QString::fromLatin1(kStableNameDirectory));

// One port in a line or two: "/dev/serial/by-id/… (/dev/ttyUSB0, USB 0403:6001 FTDI FT232R USB UART)".
QString describePort(const ListedPort &port);

// The listing as --list-ports prints it.
QString formatListing(const QList<ListedPort> &ports);

}  // namespace mv70::serial
