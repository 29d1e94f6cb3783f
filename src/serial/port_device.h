// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which device a port number means, and the device file a name leads to.

#include <QString>

namespace mv70::serial {

// The device named for port N (1 to 16): the command line's --comN when it
// was given, else the environment variable MV70_COMN when it is set, else the
// platform's own: /dev/ttyS<N-1> on Linux, COMN on Windows.
QString portDevice(int port);

// Records --comN for portDevice(); an empty device forgets it.
void setPortDeviceOption(int port, const QString &device);

// The device file a name leads to now, every symlink followed (a
// /dev/serial/by-id link leads to whichever /dev/ttyUSB* the adapter got at
// its last plugging in). The name itself when nothing is there.
QString resolveDevice(const QString &name);

// True when the name leads to a character device now.
bool devicePresent(const QString &name);

}  // namespace mv70::serial
