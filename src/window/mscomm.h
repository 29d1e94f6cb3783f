// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// MSComm: the window's serial component, by the names its handlers have
// always used. A serial::Port (serial/port.h) with the component's property
// API on top: CommPort, Settings, PortOpen, Output, Input, CommEvent and the
// OnComm event. Everything else (the line's events, the wait for a lost
// line) is the port's own.

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include "serial/port.h"

namespace mv70::window {

class MSComm : public serial::Port {
    Q_OBJECT

public:
    // The kind of event OnComm delivers: characters received.
    static constexpr qint16 comEvReceive = 2;

    explicit MSComm(QObject *parent = nullptr);

    int CommPort() const { return portNumber(); }
    serial::CommOutcome setCommPort(int port) { return setPortNumber(port); }

    QString Settings() const { return settings(); }
    // setSettings() is the port's own.

    bool PortOpen() const { return isOpen(); }
    serial::CommOutcome setPortOpen(bool open) { return open ? this->open() : close(); }

    serial::CommOutcome setOutput(QStringView text) { return write(text); }
    QString Input() { return readAll(); }

    // Kind of the event being delivered by OnComm.
    qint16 CommEvent() const { return commEvent_; }

signals:
    // Characters have arrived (CommEvent is comEvReceive).
    void OnComm();

private:
    qint16 commEvent_ = 0;
};

}  // namespace mv70::window
