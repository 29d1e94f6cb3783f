// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings text of the serial line: "19200,N,8,1" — baud rate, parity
// letter, data bits, stop bits, comma-separated, no spaces.

#include <QString>
#include <QStringView>

#include <variant>

namespace mv70::serial {

struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// A malformed text gives a description of what is wrong with it.
std::variant<LineSettings, QString> parseLineSettings(QStringView text);

}  // namespace mv70::serial
