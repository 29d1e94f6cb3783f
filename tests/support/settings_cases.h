// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Malformed line settings and the word the refusal must mention: read by
// the parser's test and by the serial component's.

#include <QtTest>

inline void addMalformedSettingsRows() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("mentions");
    // clang-format off
    QTest::newRow("empty") << "" << "four fields";
    QTest::newRow("three fields") << "19200,N,8" << "four fields";
    QTest::newRow("five fields") << "19200,N,8,1,0" << "four fields";
    QTest::newRow("blank inside") << "19200, N,8,1" << "parity";
    QTest::newRow("baud not a number") << "fast,N,8,1" << "baud";
    QTest::newRow("baud signed") << "+9600,N,8,1" << "baud";
    QTest::newRow("baud zero") << "0,N,8,1" << "baud";
    QTest::newRow("baud too large") << "99999999999,N,8,1" << "baud";
    QTest::newRow("parity word") << "9600,None,8,1" << "parity";
    QTest::newRow("parity unknown") << "9600,X,8,1" << "parity";
    QTest::newRow("data bits 9") << "9600,N,9,1" << "data bits";
    QTest::newRow("data bits 4") << "9600,N,4,1" << "data bits";
    QTest::newRow("stop bits 3") << "9600,N,8,3" << "stop bits";
    QTest::newRow("stop bits empty") << "9600,N,8," << "stop bits";
    // clang-format on
}
