// SPDX-License-Identifier: GPL-3.0-or-later
// The reply decoder: every table row, the computed readings, and what must
// leave the STATUS line alone.

#include <QtTest>

#include "logic/reply_decoder.h"
#include "logic/trace.h"

using mv70::Reading;
using namespace mv70;

Q_DECLARE_METATYPE(mv70::ReadingValue)

namespace {

Reading decode(const QString &query, const QString &reply, qint16 &pressure) {
    return mv70::decodeReply(query + u'\r', u"", reply, mv70::renderTrace(reply), pressure);
}

}  // namespace

class TestDecoder : public QObject {
    Q_OBJECT

private slots:
    void everyReplyAsValueAndLine_data();
    void everyReplyAsValueAndLine();
    void statusTexts_data();
    void statusTexts();
    void leavesTheStatusAlone_data();
    void leavesTheStatusAlone();
    void lampTime();
    void temperatures_data();
    void temperatures();
    void pressure_data();
    void pressure();
    void pressureOutOfRange_data();
    void pressureOutOfRange();
    void readNumber_data();
    void readNumber();
};

// Every reply of the nine queries, held against what it means and what the
// STATUS line shows, both written out here: a wrong row of a code table, a
// value read from the wrong characters or a mended typo all show.
void TestDecoder::everyReplyAsValueAndLine_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("line");
    QTest::addColumn<ReadingValue>("value");
    QTest::addColumn<bool>("whole");
    const auto row = [](const char *query, const char *reply, const char *line, ReadingValue value, bool whole = true) {
        QTest::addRow("%s %s", query, QByteArray(reply).replace('\r', "").constData())
            << QString::fromLatin1(query) << QString::fromLatin1(reply) << QString::fromLatin1(line) << value << whole;
    };
    using P = Power;
    using U = LampMode::Use;
    // clang-format off
    row("CR0", "00\r", " Power ON",                                OperatingStatus{P::On});
    row("CR0", "80\r", " Stand by",                                OperatingStatus{P::Standby});
    row("CR0", "40\r", " Count down",                              OperatingStatus{P::WarmingUp});
    row("CR0", "20\r", " Cooling down",                            OperatingStatus{P::CoolingDown});
    row("CR0", "10\r", " Power Fail",                              OperatingStatus{.power = P::Standby, .powerFailure = true});
    row("CR0", "08\r", " Temperature Warning",                     OperatingStatus{.power = P::On, .temperatureWarning = true});
    row("CR0", "02\r", " NO Key input ",                           OperatingStatus{.power = P::On, .keyInputOff = true});
    row("CR0", "04\r", " Lamp OFF by PWR Management",              OperatingStatus{.power = P::Standby, .powerManagement = true});
    row("CR0", "28\r", " Temperature Warning & cooling down",      OperatingStatus{.power = P::CoolingDown, .temperatureWarning = true});
    row("CR0", "24\r", "Cooling down  PWR Management",             OperatingStatus{.power = P::CoolingDown, .powerManagement = true});
    row("CR0", "88\r", " Temperature Warning and recoverd",        OperatingStatus{.power = P::Standby, .temperatureWarning = true});
    row("CR0", "21\r", " Cooling down (All Lamp FAIL)",            OperatingStatus{.power = P::CoolingDown, .lampFailure = true});
    row("CR0", "81\r", " Cooling down & sutandby (All Lamp FAIL)", OperatingStatus{.power = P::Standby, .lampFailure = true});
    row("CR0", "80",    " Stand by",                                OperatingStatus{P::Standby});  // the code is all it needs
    row("CR0", "99\r", "",                                         std::monostate{}, false);       // no row: no reading
    row("CR1", "1\r",  " Computer 1",   Source::Computer1);
    row("CR1", "2\r",  " Computer 2",   Source::Computer2);
    row("CR1", "3\r",  " Video",        Source::Video);
    row("CR1", "4\r",  " Input mode 4", Source::Input4);
    row("CR4", "11\r", " Normally",                         Reversal::None);
    row("CR4", "10\r", " Top/Bottom reversal",              Reversal::TopBottom);
    row("CR4", "01\r", " Left/Right reversal",              Reversal::LeftRight);
    row("CR4", "00\r", " Top/Bottom , Left/Right reversal", Reversal::Both);
    row("CRA", "00\r", " Video & Audio mute OFF", MuteStatus{false, false, false});
    row("CRA", "01\r", " Video mute ON",          MuteStatus{true, false, false});
    row("CRA", "02\r", " Audio mute ON",          MuteStatus{false, true, false});
    row("CRA", "03\r", " Video & Audio mute ON",  MuteStatus{true, true, false});
    row("CRA", "80\r", " No signal",              MuteStatus{{}, {}, true});
    row("CRA", "FF\r", " Stand by",               MuteStatus{});
    row("CR7", "00\r", " All OFF : 2 Lamp mode",          LampMode{U::Both, false, false});
    row("CR7", "01\r", " No1 ON  : 2 Lamp mode",          LampMode{U::Both, true, false});
    row("CR7", "02\r", " No2 ON  : 2 Lamp mode",          LampMode{U::Both, false, true});
    row("CR7", "03\r", " No1,2 ON  : 2 Lamp mode",        LampMode{U::Both, true, true});
    row("CR7", "10\r", " All OFF : 1 Lamp mode(No1 USE)", LampMode{U::Lamp1, false, false});
    row("CR7", "11\r", " No1 ON  : 1 Lamp mode(No1 USE)", LampMode{U::Lamp1, true, false});
    row("CR7", "20\r", " All OFF : 1 Lamp mode(No2 USE)", LampMode{U::Lamp2, false, false});
    row("CR7", "22\r", " No2 ON  : 1 Lamp mode(No2 USE)", LampMode{U::Lamp2, false, true});
    row("CR3", "1234\r", " 1 2 3 4 CR  Hour Use", LampTime{1234});
    row("CR3", " 98765 \r", "   9 8 7 6 5   CR  Hour Use", LampTime{98765});
    row("CR3", "ERR\r",  " E R R CR  Hour Use",   LampTime{});
    row("CR3", "12",      " 1 2  Hour Use",        LampTime{12}, false);  // more digits may follow
    row("CR6", " 35.0, 48.0, 41.0\r", "  S1=   3 5 . 0 C  ,   S2=  4 8 . 0 C , S3=   4 1 . 0 C",
        Temperatures{{35.0, 48.0, 41.0}});
    row("CR6", " -3.5,100.0, 41.0\r", "  S1=   - 3 . 5 C  ,   S2=  0 0 . 0 C , S3=   4 1 . 0 C",
        Temperatures{{-3.5, 100.0, 41.0}});
    row("CR6", " 35.5, 4\r", "  S1=   3 5 . 5 C  ,   S2=  4 CR  C , S3= C", Temperatures{{35.5, {}, {}}});
    row("CR6", " 35.5;48.0, x1.0\r", "  S1=   3 5 . 5 C  ,   S2=  8 . 0 , C , S3= x 1 . 0 C C",
        Temperatures{{35.5, {}, {}}});  // no comma: no second field, nor a third
    row("CR9", "MV70 SIMULATOR\r", " M V 7 0   S I M U L A T O R CR ", Info{QStringLiteral("MV70 SIMULATOR")});
    row("CR PRESSURE", "853\r",  "1013 hPa", Pressure{1013});
    row("CR PRESSURE", "-100\r", "-1 hPa",   Pressure{-1});
    row("CR PRESSURE", "7000\r", " PRESSURE reading out of range (-6553 to 6553)", Pressure{});
    // clang-format on
}

void TestDecoder::everyReplyAsValueAndLine() {
    QFETCH(QString, query);
    QFETCH(QString, reply);
    QFETCH(ReadingValue, value);
    qint16 pressure = 0;
    const Reading reading = decode(query, reply, pressure);
    QTEST(reading.text, "line");
    QVERIFY(reading.value == value);
    QTEST(reading.whole, "whole");
    const Reading::Outcome outcome = std::holds_alternative<std::monostate>(value) ? Reading::Outcome::NoMatch
                                   : value == ReadingValue(Pressure{})             ? Reading::Outcome::OutOfRange
                                                                                   : Reading::Outcome::Status;
    QCOMPARE(int(reading.outcome), int(outcome));
}

void TestDecoder::statusTexts_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    // clang-format off
    const struct {
        const char *query, *reply;
        const char16_t *status;
    } rows[] = {
        {"CR0", "00\r", u" Power ON"}, {"CR0", "80\r", u" Stand by"}, {"CR0", "40\r", u" Count down"},
        {"CR0", "20\r", u" Cooling down"}, {"CR0", "10\r", u" Power Fail"},
        {"CR0", "08\r", u" Temperature Warning"}, {"CR0", "02\r", u" NO Key input "},
        {"CR0", "04\r", u" Lamp OFF by PWR Management"}, {"CR0", "28\r", u" Temperature Warning & cooling down"},
        {"CR0", "24\r", u"Cooling down  PWR Management"}, {"CR0", "88\r", u" Temperature Warning and recoverd"},
        {"CR0", "21\r", u" Cooling down (All Lamp FAIL)"},
        {"CR0", "81\r", u" Cooling down & sutandby (All Lamp FAIL)"},
        {"CR0", "001", u" Power ON"},  // more characters than the code covers
        {"CR1", "1\r", u" Computer 1"}, {"CR1", "2\r", u" Computer 2"}, {"CR1", "3\r", u" Video"},
        {"CR1", "4", u" Input mode 4"},
        {"CR4", "11\r", u" Normally"}, {"CR4", "10\r", u" Top/Bottom reversal"},
        {"CR4", "01\r", u" Left/Right reversal"}, {"CR4", "00\r", u" Top/Bottom , Left/Right reversal"},
        {"CRA", "00\r", u" Video & Audio mute OFF"}, {"CRA", "01\r", u" Video mute ON"},
        {"CRA", "02\r", u" Audio mute ON"}, {"CRA", "03\r", u" Video & Audio mute ON"},
        {"CRA", "80\r", u" No signal"}, {"CRA", "FF\r", u" Stand by"},
        {"CR7", "00\r", u" All OFF : 2 Lamp mode"}, {"CR7", "01\r", u" No1 ON  : 2 Lamp mode"},
        {"CR7", "02\r", u" No2 ON  : 2 Lamp mode"}, {"CR7", "03\r", u" No1,2 ON  : 2 Lamp mode"},
        {"CR7", "10\r", u" All OFF : 1 Lamp mode(No1 USE)"}, {"CR7", "11\r", u" No1 ON  : 1 Lamp mode(No1 USE)"},
        {"CR7", "20\r", u" All OFF : 1 Lamp mode(No2 USE)"}, {"CR7", "22\r", u" No2 ON  : 1 Lamp mode(No2 USE)"},
        {"CR9", "AB 1\r", u" A B   1 CR "},  // the whole trace
        {"CR9", "", u" "},
    };
    // clang-format on
    for (const auto &row : rows)
        QTest::addRow("%s %s", row.query, QByteArray(row.reply).replace('\r', "<CR>").constData())
            << QString::fromLatin1(row.query) << QString::fromLatin1(row.reply) << QString::fromUtf16(row.status);
}

void TestDecoder::statusTexts() {
    QFETCH(QString, query);
    QFETCH(QString, reply);
    qint16 pressure = 7;
    const Reading reading = decode(query, reply, pressure);
    QCOMPARE(int(reading.outcome), int(Reading::Outcome::Status));
    QTEST(reading.text, "status");
    QCOMPARE(pressure, qint16(7));  // only the pressure reading touches it
}

void TestDecoder::leavesTheStatusAlone_data() {
    QTest::addColumn<QString>("lastCommand");
    QTest::addColumn<QString>("reply");
    // clang-format off
    QTest::newRow("first piece of a reply") << "CR0\r" << "0";
    QTest::newRow("acknowledge first") << "CR0\r" << "\x06" "00\r";
    QTest::newRow("unknown code") << "CR0\r" << "99\r";
    QTest::newRow("code of another table") << "CR1\r" << "5\r";
    QTest::newRow("nothing received") << "CR4\r" << "";
    QTest::newRow("not a query") << "C00\r" << "00\r";
    QTest::newRow("lower case query") << "cr0\r" << "00\r";
    QTest::newRow("query with a blank") << "CR0 \r" << "00\r";
    QTest::newRow("query without CR") << "CR0" << "00\r";
    QTest::newRow("query with LF too") << "CR0\r\n" << "00\r";
    QTest::newRow("query with CR doubled") << "CR0\r\r" << "00\r";
    QTest::newRow("pressure in lower case") << "cr pressure\r" << "300\r";
    QTest::newRow("empty command") << "" << "00\r";
    // clang-format on
}

void TestDecoder::leavesTheStatusAlone() {
    QFETCH(QString, lastCommand);
    QFETCH(QString, reply);
    qint16 pressure = 7;
    const Reading reading = mv70::decodeReply(lastCommand, u"", reply, mv70::renderTrace(reply), pressure);
    QCOMPARE(int(reading.outcome), int(Reading::Outcome::NoMatch));
    QCOMPARE(pressure, qint16(7));
}

void TestDecoder::lampTime() {
    qint16 pressure = 0;
    // Five digits: the whole trace, terminator token included.
    QCOMPARE(decode("CR3", "01234\r", pressure).text, QStringLiteral(" 0 1 2 3 4 CR  Hour Use"));
    // Twenty characters: only the first nineteen, each after its blank.
    const Reading long_ = decode("CR3", "ABCDEFGHIJKLMNOPQRST\r", pressure);
    QCOMPARE(long_.text, QStringLiteral(" A B C D E F G H I J K L M N O P Q R S Hour Use"));
    QCOMPARE(decode("CR3", "", pressure).text, QStringLiteral("  Hour Use"));
}

void TestDecoder::temperatures_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    QTest::newRow("three readings") << "035.5,040.0,045.5\r"
                                    << "  S1= 0 3 5 . 5 C  ,   S2=  4 0 . 0 C , S3= 0 4 5 . 5 C";
    // A trace shorter than 25 characters leaves S3 empty and still ends in " C".
    // clang-format off
    QTest::newRow("short") << "035.5,040\r" << "  S1= 0 3 5 . 5 C  ,   S2=  4 0 CR  C , S3= C";
    QTest::newRow("nothing") << "" << "  S1=  C  ,   S2=  C , S3= C";
    // clang-format on
}

void TestDecoder::temperatures() {
    QFETCH(QString, reply);
    qint16 pressure = 0;
    QTEST(decode("CR6", reply, pressure).text, "status");
}

void TestDecoder::pressure_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("hectopascals");
    QTest::addColumn<int>("value");
    QTest::newRow("300") << "300\r" << 425 << 425;
    QTest::newRow("0") << "0\r" << 106 << 106;
    QTest::newRow("1023") << "1023\r" << 1194 << 1194;
    QTest::newRow("no digits") << "ERR\r" << 106 << 106;
    QTest::newRow("nothing") << "" << 106 << 106;
    QTest::newRow("negative") << "-100\r" << -1 << -1;
    QTest::newRow("largest") << "6553\r" << 7077 << 7077;
    QTest::newRow("smallest") << "-6553\r" << -6865 << -6865;
    QTest::newRow("fraction rounds to even down") << "300.5\r" << 425 << 425;  // 300.5 -> 300
    QTest::newRow("fraction rounds to even up") << "301.5\r" << 427 << 427;    // 301.5 -> 302
    QTest::newRow("ack before digits") << "\x06"
                                          "300\r"
                                       << 106 << 106;  // "ACK" stops the number
}

void TestDecoder::pressure() {
    QFETCH(QString, reply);
    QFETCH(int, hectopascals);
    qint16 pressure = 0;
    const Reading reading = decode("CR PRESSURE", reply, pressure);
    QCOMPARE(int(reading.outcome), int(Reading::Outcome::Status));
    QCOMPARE(reading.text, QString::number(hectopascals) + QStringLiteral(" hPa"));
    QTEST(int(pressure), "value");
}

void TestDecoder::pressureOutOfRange_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("pressureAfter");  // what the reading left behind
    QTest::newRow("6554: product overflows") << "6554\r" << 6554;
    QTest::newRow("-6554") << "-6554\r" << -6554;
    QTest::newRow("32767") << "32767\r" << 32767;
    QTest::newRow("32768: reading overflows") << "32768\r" << 7;
    QTest::newRow("huge") << QString(400, u'9') + u'\r' << 7;
}

void TestDecoder::pressureOutOfRange() {
    QFETCH(QString, reply);
    qint16 pressure = 7;
    const Reading reading = decode("CR PRESSURE", reply, pressure);
    QCOMPARE(int(reading.outcome), int(Reading::Outcome::OutOfRange));
    QCOMPARE(reading.text, mv70::kPressureOutOfRange);
    QTEST(int(pressure), "pressureAfter");
}

void TestDecoder::readNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("trace of 300") << " 3 0 0 CR " << 300.0;
    QTest::newRow("tabs and line feeds") << "\t1\n2 3" << 123.0;
    QTest::newRow("sign then blanks") << " -  4 2" << -42.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("fraction") << " 1 . 2 5 x" << 1.25;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("lone sign") << " - " << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("sign twice") << "--5" << 0.0;
    QTest::newRow("no exponent") << "1E3" << 1.0;
    QTest::newRow("no radix prefix") << "&H10" << 0.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
}

void TestDecoder::readNumber() {
    QFETCH(QString, text);
    QTEST(mv70::readNumber(text), "number");
}

QTEST_APPLESS_MAIN(TestDecoder)
#include "test_decoder.moc"
