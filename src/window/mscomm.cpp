// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/mscomm.h"

namespace mv70::window {

MSComm::MSComm(QObject *parent) : serial::Port(parent) {
    connect(this, &serial::Port::received, this, [this] {
        commEvent_ = comEvReceive;
        emit OnComm();
    });
}

}  // namespace mv70::window
