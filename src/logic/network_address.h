// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A port's device may name a port of a network serial server instead of a
// local device:
//   rfc2217://HOST:PORT   Telnet with the COM port control option (RFC 2217):
//                         the line settings travel to the server's port
//   tcp://HOST:PORT       raw bytes; the line settings are the server's own
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ("rfc2217://[::1]:3000").

#include <QString>
#include <QStringView>

#include <variant>

#include "logic/telnet_reader.h"

namespace mv70::serial {

struct NetworkAddress {
    TelnetReader::Mode mode = TelnetReader::Mode::Raw;
    QString host;  // without brackets
    quint16 port = 0;

    // "HOST:PORT", an IPv6 address in brackets.
    QString hostAndPort() const;
};

// Whether the device is meant as a network address: it starts with one of
// the schemes above (any case). Everything else is a local device.
bool isNetworkDevice(QStringView device);

// A malformed address gives a description of what is wrong with it.
std::variant<NetworkAddress, QString> parseNetworkAddress(QStringView device);

}  // namespace mv70::serial
