// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/line_settings.h"

#include <QList>

#include <algorithm>

namespace mv70::serial {
namespace {

QString invalid(QStringView text, const QString &why) {
    return QStringLiteral("Invalid line settings \"%1\": %2").arg(text, why);
}

}  // namespace

std::variant<LineSettings, QString> parseLineSettings(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4)
        return invalid(text, QStringLiteral("expected four fields (baud,parity,data bits,stop bits)"));

    LineSettings settings;

    bool ok = false;
    const QStringView baud = fields[0];
    const bool allDigits =
        !baud.isEmpty() && std::all_of(baud.begin(), baud.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    settings.baudRate = allDigits ? baud.toInt(&ok) : 0;
    if (!ok || settings.baudRate <= 0)
        return invalid(text, QStringLiteral("the baud rate must be a positive decimal number"));

    const QStringView parity = fields[1];
    if (parity.size() != 1)
        return invalid(text, QStringLiteral("the parity must be one letter of N, E, O, M, S"));
    switch (parity[0].toUpper().unicode()) {
    case u'N':
        settings.parity = LineSettings::Parity::None;
        break;
    case u'E':
        settings.parity = LineSettings::Parity::Even;
        break;
    case u'O':
        settings.parity = LineSettings::Parity::Odd;
        break;
    case u'M':
        settings.parity = LineSettings::Parity::Mark;
        break;
    case u'S':
        settings.parity = LineSettings::Parity::Space;
        break;
    default:
        return invalid(text, QStringLiteral("the parity must be one letter of N, E, O, M, S"));
    }

    const QStringView dataBits = fields[2];
    if (dataBits.size() != 1 || dataBits[0] < u'5' || dataBits[0] > u'8')
        return invalid(text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));
    settings.dataBits = dataBits[0].unicode() - u'0';

    const QStringView stopBits = fields[3];
    if (stopBits == u"1")
        settings.stopBits = LineSettings::StopBits::One;
    else if (stopBits == u"1.5")
        settings.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (stopBits == u"2")
        settings.stopBits = LineSettings::StopBits::Two;
    else
        return invalid(text, QStringLiteral("the stop bits must be 1, 1.5 or 2"));

    return settings;
}

}  // namespace mv70::serial
