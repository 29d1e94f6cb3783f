// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/device_line.h"

#include <QFileInfo>
#include <QScopedValueRollback>

#include "serial/port_device.h"
#include "serial/port_diagnosis.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

namespace mv70::serial {
namespace {

QSerialPort::Parity toQt(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

bool isFatal(QSerialPort::SerialPortError error) {
    // Modem-line calls are refused by pseudo-terminals and some adapters;
    // that is not a reason to give the port up.
    return error != QSerialPort::NoError && error != QSerialPort::UnsupportedOperationError
        && error != QSerialPort::TimeoutError;
}

// A device that has hung up already (its far end gone) opens all the same;
// it is not up.
bool hungUp([[maybe_unused]] qintptr handle) {
#ifdef Q_OS_UNIX
    pollfd fd{static_cast<int>(handle), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

}  // namespace

DeviceLine::DeviceLine(const QString &device, QObject *parent) : Line(device, parent) {
    // A child, so that what the port reports can be watched from outside.
    port_.setParent(this);
    connect(&port_, &QSerialPort::readyRead, this, &Line::dataReady);
    connect(&port_, &QSerialPort::errorOccurred, this, &DeviceLine::onError);
}

DeviceLine::~DeviceLine() {
    if (port_.isOpen())
        port_.close();
}

LineFailure DeviceLine::openFailure(QSerialPort::SerialPortError error, const QString &errorString) const {
    LineFailure failure;
    failure.device = device();
    failure.resolved = resolveDevice(device());
    failure.detail = errorString;
    using Cause = LineFailure::Cause;
    if (!QFileInfo::exists(failure.resolved))
        failure.cause = Cause::NoSuchDevice;
    else if (!mayOpen(failure.resolved))
        failure.cause = Cause::NoPermission;
    else if (isPortWithoutHardware(failure.resolved))
        failure.cause = Cause::NoHardware;
    else if (isNotSerialPort(failure.resolved))
        failure.cause = Cause::NotSerialPort;  // everyone holds /dev/null: not "in use"
    else if (error == QSerialPort::PermissionError)
        failure.cause = Cause::InUse;
    else
        failure.cause = Cause::CannotOpen;
    return failure;
}

std::optional<LineFailure> DeviceLine::open(const LineSettings &settings) {
    if (port_.isOpen())
        port_.close();
    {
        const QScopedValueRollback busy(inOperation_, true);
        // By the file the name leads to now: the lock and the exclusive
        // open then keep out a second user whatever name it gave.
        const QString name = device();
        const QString resolved = resolveDevice(name);
        // The serial library takes a lock file in the shared form of other
        // serial programs (minicom, picocom: the process number alone) for
        // a stale one of its own; a live owner keeps the device.
        const auto heldByLock = [](const QString &lockedName) {
            const std::optional<Holder> owner = lockOwner(lockedName);
            return owner && owner->lockOfSharedForm;
        };
        if (heldByLock(resolved) || (name != resolved && heldByLock(name)))
            return openFailure(QSerialPort::PermissionError, {});
        port_.setPortName(resolved);
        port_.clearError();
        if (!port_.open(QIODevice::ReadWrite))
            return openFailure(port_.error(), port_.errorString());
        // A legacy name with no port behind it may open, and then carries
        // nothing: better told now than as silence later.
        if (isPortWithoutHardware(resolved)) {
            port_.close();
            return openFailure(QSerialPort::OpenError, {});
        }
        if (hungUp(port_.handle())) {
            port_.close();
            return openFailure(QSerialPort::ResourceError, QStringLiteral("the line hangs up at once"));
        }
    }
    if (std::optional<LineFailure> refused = applySettings(settings)) {
        port_.close();
        return refused;
    }
    return std::nullopt;
}

void DeviceLine::close() {
    if (port_.isOpen())
        port_.close();
}

std::optional<LineFailure> DeviceLine::applySettings(const LineSettings &line) {
    if (!port_.isOpen())
        return std::nullopt;
    const QScopedValueRollback busy(inOperation_, true);
    const bool applied = port_.setBaudRate(line.baudRate) && port_.setParity(toQt(line.parity))
                      && port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits))
                      && port_.setStopBits(toQt(line.stopBits)) && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (applied)
        return std::nullopt;
    LineFailure failure;
    failure.cause = LineFailure::Cause::SettingsRefused;
    failure.device = device();
    failure.resolved = port_.portName();
    failure.detail = port_.errorString();
    return failure;
}

std::optional<LineFailure> DeviceLine::write(QByteArrayView bytes) {
    if (!port_.isOpen()) {
        LineFailure failure;
        failure.cause = LineFailure::Cause::WriteFailed;
        failure.device = device();
        failure.detail = QStringLiteral("not open");
        return failure;
    }
    if (bytes.isEmpty())
        return std::nullopt;
    QString failure;
    {
        const QScopedValueRollback busy(inOperation_, true);
        port_.clearError();
        if (port_.write(bytes.data(), bytes.size()) != bytes.size())
            failure = port_.errorString();
        else
            port_.flush();  // hand the bytes to the driver now rather than on the next loop pass
        if (failure.isEmpty() && isFatal(port_.error()))
            failure = port_.errorString();
    }
    if (failure.isEmpty()) {
        emit outputWritten();
        return std::nullopt;
    }
    return lose(LineFailure::Cause::WriteFailed, failure);
}

QByteArray DeviceLine::readAll() { return port_.isOpen() ? port_.readAll() : QByteArray(); }

bool DeviceLine::mayBeBack() const { return devicePresent(resolveDevice(device())); }

void DeviceLine::onError(QSerialPort::SerialPortError error) {
    if (!isFatal(error) || inOperation_ || !port_.isOpen())
        return;
    (void)lose(LineFailure::Cause::LineFailed, port_.errorString());
}

LineFailure DeviceLine::lose(LineFailure::Cause cause, const QString &detail) {
    LineFailure failure;
    failure.device = device();
    failure.resolved = port_.portName();
    failure.detail = detail;
    failure.cause = cause;
    if (!port_.isOpen())
        return failure;
    port_.close();
    // Closed first: a device that was unplugged has gone from /dev by now.
    if (!devicePresent(device()))
        failure.cause = LineFailure::Cause::DeviceGone;
    emit lost(failure);
    return failure;
}

}  // namespace mv70::serial
