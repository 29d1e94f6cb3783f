// SPDX-License-Identifier: GPL-3.0-or-later
// The line-settings parser: the widget-free part of the serial settings.

#include <QtTest>

#include <variant>

#include "logic/line_settings.h"
#include "support/settings_cases.h"

using mv70::serial::LineSettings;

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void settingsParsed_data();
    void settingsParsed();
    void malformedSettingsFail_data() { addMalformedSettingsRows(); }
    void malformedSettingsFail();
};

void TestSettings::settingsParsed_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("19200") << "19200,N,8,1" << 19200 << int(LineSettings::Parity::None) << 8
                           << int(LineSettings::StopBits::One);
    QTest::newRow("9600") << "9600,N,8,1" << 9600 << int(LineSettings::Parity::None) << 8
                          << int(LineSettings::StopBits::One);
    QTest::newRow("even 7 2") << "2400,E,7,2" << 2400 << int(LineSettings::Parity::Even) << 7
                              << int(LineSettings::StopBits::Two);
    QTest::newRow("odd 1.5") << "1200,o,5,1.5" << 1200 << int(LineSettings::Parity::Odd) << 5
                             << int(LineSettings::StopBits::OneAndHalf);
}

void TestSettings::settingsParsed() {
    QFETCH(QString, text);
    const auto parsed = mv70::serial::parseLineSettings(text);
    QVERIFY(std::holds_alternative<LineSettings>(parsed));
    const auto &settings = std::get<LineSettings>(parsed);
    QTEST(int(settings.baudRate), "baud");
    QTEST(int(settings.parity), "parity");
    QTEST(settings.dataBits, "dataBits");
    QTEST(int(settings.stopBits), "stopBits");
}

void TestSettings::malformedSettingsFail() {
    QFETCH(QString, text);
    QFETCH(QString, mentions);
    const auto parsed = mv70::serial::parseLineSettings(text);
    QVERIFY(std::holds_alternative<QString>(parsed));
    QVERIFY2(std::get<QString>(parsed).contains(mentions), qPrintable(std::get<QString>(parsed)));
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
