// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A local serial device (a USB adapter, a built-in port, a pseudo-terminal)
// through Qt SerialPort, on the event loop of the thread that owns it.
//
// The device is opened by the file its name leads to at that moment, so that
// one device is one port whatever name it was given; its lock file and the
// exclusive open keep out a second user.

#include <QSerialPort>

#include "serial/line.h"

namespace mv70::serial {

class DeviceLine : public Line {
    Q_OBJECT

public:
    explicit DeviceLine(const QString &device, QObject *parent = nullptr);
    ~DeviceLine() override;

    std::optional<LineFailure> open(const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    bool isUp() const override { return port_.isOpen(); }
    std::optional<LineFailure> applySettings(const LineSettings &settings) override;
    std::optional<LineFailure> write(QByteArrayView bytes) override;
    QByteArray readAll() override;
    bool mayBeBack() const override;

    // The failure of an opening, as far as it is known without looking
    // around the system: the cause, from the device and the library's error.
    LineFailure openFailure(QSerialPort::SerialPortError error, const QString &errorString) const;

private:
    void onError(QSerialPort::SerialPortError error);
    LineFailure lose(LineFailure::Cause cause, const QString &detail);

    QSerialPort port_;
    bool inOperation_ = false;  // our own calls report their failures themselves
};

}  // namespace mv70::serial
