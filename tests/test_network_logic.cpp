// SPDX-License-Identifier: GPL-3.0-or-later
// What a network port is made of, without a network: the Telnet and
// RFC 2217 reader byte by byte, and the addresses of network ports.

#include <QtTest>

#include "logic/network_address.h"
#include "logic/telnet_reader.h"

using namespace mv70;
using serial::TelnetReader;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

}  // namespace

class TestNetworkLogic : public QObject {
    Q_OBJECT

private slots:
    void telnetReader_data();
    void telnetReader();
    void telnetEncoding();
    void networkAddresses_data();
    void networkAddresses();
};

void TestNetworkLogic::telnetReader_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<int>("baud");  // confirmed by the server

    const QByteArray iac(1, '\xff');
    QTest::newRow("plain bytes") << QByteArray("80\r\x06") << QByteArray("80\r\x06") << QByteArray() << 0;
    QTest::newRow("doubled 0xFF is one byte")
        << bytes({'a', 255, 255, 'b', 255, 255}) << bytes({'a', 255, 'b', 255}) << QByteArray() << 0;
    // What ser2net 4.3 says first: WILL/DO SGA, WILL ECHO, DONT ECHO, DO/WILL BINARY, DO COM-PORT.
    QTest::newRow("ser2net greeting") << bytes(
        {255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0, 255, 251, 0, 255, 253, 44})
                                      << QByteArray() << bytes({255, 253, 3, 255, 251, 3, 255, 254, 1}) << 0;
    QTest::newRow("unknown options refused once") << bytes({255, 253, 24, 255, 253, 24, 255, 251, 31, 255, 251, 31})
                                                  << QByteArray() << bytes({255, 252, 24, 255, 254, 31}) << 0;
    QTest::newRow("speed confirmed amid data")
        << bytes({'x', 255, 250, 44, 101, 0, 0, 0x25, 0x80, 255, 240, 'y'}) << QByteArray("xy") << QByteArray() << 9600;
    QTest::newRow("0xFF doubled inside a subnegotiation")
        << bytes({255, 250, 44, 101, 0, 0, 0, 255, 255, 255, 240}) << QByteArray() << QByteArray() << 255;
    QTest::newRow("overlong subnegotiation dropped")
        << bytes({255, 250, 44, 101, 0, 0, 0x25, 0x80}) + QByteArray(200, 'q') + bytes({255, 240, 'z'})
        << QByteArray("z") << QByteArray() << 0;
    QTest::newRow("broken subnegotiation end read as a command")
        << bytes({255, 250, 44, 101, 1, 255, 253, 24, 'k'}) << QByteArray("k") << bytes({255, 252, 24}) << 0;
    QTest::newRow("CR NUL before binary is agreed")
        << QByteArray("x\r\0y", 4) << QByteArray("x\ry") << QByteArray() << 0;
    QTest::newRow("CR NUL once binary") << bytes({255, 251, 0, '\r', 0}) << QByteArray("\r\0", 2) << QByteArray() << 0;
    // A server flipping an option for ever gets a bounded number of answers.
    QByteArray flipping;
    for (int i = 0; i < 1000; ++i)
        flipping += bytes({255, 253, 0, 255, 254, 0});
    QTest::newRow("endless negotiation") << flipping << QByteArray() << bytes({255, 252, 0, 255, 251, 0}).repeated(32)
                                         << 0;
}

void TestNetworkLogic::telnetReader() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, answers);
    QFETCH(int, baud);
    // Whole, and one byte at a time: a reply may come in any pieces.
    for (const bool bytewise : {false, true}) {
        TelnetReader reader(TelnetReader::Mode::Rfc2217);
        (void)reader.opening();
        QByteArray gotData;
        QByteArray gotAnswers;
        if (bytewise) {
            for (char c : input)
                reader.feed(QByteArrayView(&c, 1), gotData, gotAnswers);
        } else {
            reader.feed(input, gotData, gotAnswers);
        }
        QCOMPARE(gotData.toHex(' '), data.toHex(' '));
        QCOMPARE(gotAnswers.toHex(' '), answers.toHex(' '));
        QCOMPARE(reader.confirmed().baudRate, baud);
    }
}

void TestNetworkLogic::telnetEncoding() {
    TelnetReader raw(TelnetReader::Mode::Raw);
    QVERIFY(raw.opening().isEmpty());
    QCOMPARE(raw.encodeData("\xff\r"), QByteArray("\xff\r"));
    QVERIFY(raw.encodeSettings({}).isEmpty());

    TelnetReader telnet(TelnetReader::Mode::Rfc2217);
    QCOMPARE(telnet.opening().toHex(' '), bytes({255, 251, 0, 255, 251, 44, 255, 253, 0}).toHex(' '));
    QVERIFY(!telnet.comPortSettled());
    // Until the server agrees to binary, a carriage return goes as CR NUL.
    QCOMPARE(telnet.encodeData("C\xff\r").toHex(' '), bytes({'C', 255, 255, '\r', 0}).toHex(' '));
    QByteArray data, answers;
    telnet.feed(bytes({255, 253, 0, 255, 253, 44}), data, answers);
    QVERIFY(telnet.comPortAgreed());
    QCOMPARE(telnet.encodeData("C\xff\r").toHex(' '), bytes({'C', 255, 255, '\r'}).toHex(' '));
    serial::LineSettings line;
    line.baudRate = 0x0100FF;  // a 0xFF inside a value is doubled too
    QCOMPARE(telnet.encodeSettings(line).toHex(' '),
             bytes({255, 250, 44, 1,   0,   1,   0,   255, 255, 255, 240, 255, 250, 44,  2,  8, 255, 240, 255, 250,
                    44,  3,   1,  255, 240, 255, 250, 44,  4,   1,   255, 240, 255, 250, 44, 5, 1,   255, 240})
                 .toHex(' '));
}

void TestNetworkLogic::networkAddresses_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("parsed");  // mode host port, or the error's tail

    QTest::newRow("RFC 2217, IPv4") << "rfc2217://127.0.0.1:3000" << true << "telnet 127.0.0.1 3000";
    QTest::newRow("raw, host name, any case") << "TCP://projector-3.hall:2001/" << true << "raw projector-3.hall 2001";
    QTest::newRow("IPv6 literal") << "rfc2217://[::1]:65535" << true << "telnet ::1 65535";
    QTest::newRow("local device") << "/dev/ttyUSB0" << false << "it must start with rfc2217:// or tcp://";
    QTest::newRow("no port") << "tcp://127.0.0.1" << true << "the port number is missing (HOST:PORT)";
    QTest::newRow("port 0") << "tcp://host:0" << true << "the port must be a number from 1 to 65535";
    QTest::newRow("port too big") << "tcp://host:65536" << true << "the port must be a number from 1 to 65535";
    QTest::newRow("IPv6 without brackets") << "tcp://::1:3000" << true << "the host must be a name or an address";
    QTest::newRow("not IPv6 in brackets") << "tcp://[host]:3000" << true << "\"host\" is not an IPv6 address";
    QTest::newRow("user part") << "tcp://me@host:3000" << true << "the host must be a name or an address";
}

void TestNetworkLogic::networkAddresses() {
    QFETCH(QString, device);
    QFETCH(bool, network);
    QFETCH(QString, parsed);
    QCOMPARE(serial::isNetworkDevice(device), network);
    const auto result = serial::parseNetworkAddress(device);
    if (const auto *address = std::get_if<serial::NetworkAddress>(&result)) {
        const char *mode = address->mode == TelnetReader::Mode::Rfc2217 ? "telnet" : "raw";
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(mode, address->host).arg(address->port), parsed);
    } else {
        QCOMPARE(std::get<QString>(result), QStringLiteral("Invalid network address \"%1\": %2").arg(device, parsed));
    }
}

QTEST_GUILESS_MAIN(TestNetworkLogic)
#include "test_network_logic.moc"
