// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/network_address.h"

#include <algorithm>

namespace mv70::serial {
namespace {

constexpr QStringView kRfc2217 = u"rfc2217://";
constexpr QStringView kTcp = u"tcp://";

QString invalid(QStringView device, const QString &why) {
    return QStringLiteral("Invalid network address \"%1\": %2").arg(device, why);
}

bool isHostCharacter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.'
        || c == u'_';
}

}  // namespace

QString NetworkAddress::hostAndPort() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1:%2").arg(shownHost).arg(port);
}

bool isNetworkDevice(QStringView device) {
    return device.startsWith(kRfc2217, Qt::CaseInsensitive) || device.startsWith(kTcp, Qt::CaseInsensitive);
}

std::variant<NetworkAddress, QString> parseNetworkAddress(QStringView device) {
    NetworkAddress address;
    QStringView rest;
    if (device.startsWith(kRfc2217, Qt::CaseInsensitive)) {
        address.mode = TelnetReader::Mode::Rfc2217;
        rest = device.sliced(kRfc2217.size());
    } else if (device.startsWith(kTcp, Qt::CaseInsensitive)) {
        address.mode = TelnetReader::Mode::Raw;
        rest = device.sliced(kTcp.size());
    } else {
        return invalid(device, QStringLiteral("it must start with rfc2217:// or tcp://"));
    }
    if (rest.endsWith(u'/'))
        rest.chop(1);

    QStringView host;
    QStringView port;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || close + 1 >= rest.size() || rest[close + 1] != u':')
            return invalid(device, QStringLiteral("an IPv6 address is written [ADDRESS]:PORT"));
        host = rest.sliced(1, close - 1);
        port = rest.sliced(close + 2);
        const bool ipv6 = !host.isEmpty() && std::all_of(host.begin(), host.end(), [](QChar c) {
            return c == u':' || c == u'.' || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')
                || (c >= u'A' && c <= u'F');
        });
        if (!ipv6)
            return invalid(device, QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return invalid(device, QStringLiteral("the port number is missing (HOST:PORT)"));
        host = rest.first(colon);
        port = rest.sliced(colon + 1);
        if (host.isEmpty() || !std::all_of(host.begin(), host.end(), isHostCharacter))
            return invalid(device, QStringLiteral("the host must be a name or an address"));
    }
    const bool digits = !port.isEmpty() && port.size() <= 5
                     && std::all_of(port.begin(), port.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const int number = digits ? port.toInt() : 0;
    if (number < 1 || number > 65535)
        return invalid(device, QStringLiteral("the port must be a number from 1 to 65535"));
    address.host = host.toString();
    address.port = static_cast<quint16>(number);
    return address;
}

}  // namespace mv70::serial
