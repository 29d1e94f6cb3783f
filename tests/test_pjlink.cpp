// SPDX-License-Identifier: GPL-3.0-or-later
// PJLink without the network: what each request line gets for a given
// projector state, and the login on the first command.

#include <QtTest>

#include "pjlink/mapping.h"
#include "pjlink/protocol.h"

using namespace mv70;
using bridge::Power;
using bridge::ProjectorState;
using pjlink::Session;

namespace {

// A few states by name: "on", "standby", "warming", "cooling", "lost",
// "unread" (line up, nothing read yet), and "on" with extras after '+'.
ProjectorState stateNamed(const QByteArray &name) {
    ProjectorState state;
    state.lineUp = true;
    state.power = Power::On;
    state.input = bridge::Source::Computer2;
    state.pictureMute = false;
    state.soundMute = false;
    state.lampHours = 1234;
    const QByteArrayList parts = name.split('+');
    const QByteArray base = parts.first();
    if (base == "standby")
        state.power = Power::Standby;
    else if (base == "warming")
        state.power = Power::WarmingUp;
    else if (base == "cooling")
        state.power = Power::CoolingDown;
    else if (base == "lost")
        state.lineUp = false;
    else if (base == "unread")
        state = ProjectorState(), state.lineUp = true;
    for (const QByteArray &extra : parts.mid(1)) {
        if (extra == "picture")
            state.pictureMute = true;
        if (extra == "sound")
            state.soundMute = true;
        if (extra == "faults")
            state.lampFailure = state.temperatureWarning = true;
        if (extra == "powerfail")
            state.powerFailure = true;
        if (extra == "frozen")
            state.freeze = true;
    }
    return state;
}

// What one line gets: the reply, "codes: ..." for a set that goes to the
// projector, or "close".
QByteArray outcome(const QByteArray &line, const ProjectorState &state, const pjlink::Identity &identity) {
    Session session({}, {});
    session.feed(line);
    const std::optional<Session::Step> step = session.next();
    if (!step)
        return "nothing";
    switch (step->kind) {
    case Session::Step::Kind::Request: {
        const pjlink::Plan plan = pjlink::plan(step->request, state, identity);
        if (plan.codes.isEmpty())
            return plan.reply;
        return "codes: " + plan.codes.join(QLatin1Char(',')).toLatin1();
    }
    case Session::Step::Kind::Reply:
        return step->reply;
    case Session::Step::Kind::AuthFailed:
        return "auth failed";
    case Session::Step::Kind::Close:
        break;
    }
    return "close";
}

const QByteArray kPassword = "JBMIAProjectorLink";
const QByteArray kRandom = "498e4a67";
const QByteArray kDigest = "5d8409bc1c3fa39749434aa3a5c38682";  // MD5 of the two, the protocol's own example

}  // namespace

class TestPjlink : public QObject {
    Q_OBJECT

private slots:
    void requests_data() {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray overlong = "%1POWR " + QByteArray(200, '1') + '\r';
        // clang-format off
        const struct { const char *name, *state; QByteArray line, expected; } rows[] = {
            {"power on",                "on",       "%1POWR ?\r",  "%1POWR=1\r"},
            {"warming, class mirrored", "warming",  "%2POWR ?\r",  "%2POWR=3\r"},
            {"cooling",                 "cooling",  "%1POWR ?\r",  "%1POWR=2\r"},
            {"standby",                 "standby",  "%1POWR ?\r",  "%1POWR=0\r"},
            {"lower case command",      "on",       "%1powr ?\r",  "%1POWR=1\r"},
            {"CR LF client",            "on",       "\n%1POWR ?\r", "%1POWR=1\r"},
            {"power on sends",          "standby",  "%1POWR 1\r",  "codes: C00"},
            {"power off sends",         "on",       "%1POWR 0\r",  "codes: C01"},
            {"on while cooling",        "cooling",  "%1POWR 1\r",  "%1POWR=ERR3\r"},
            {"off while warming",       "warming",  "%1POWR 0\r",  "%1POWR=ERR3\r"},
            {"bad power",               "on",       "%1POWR 2\r",  "%1POWR=ERR2\r"},
            {"no separator",            "on",       "%1POWR\r",    "%1POWR=ERR2\r"},
            {"overlong line",           "on",       overlong,      "%1POWR=ERR2\r"},
            {"unknown command",         "on",       "%1XYZW ?\r",  "%1XYZW=ERR1\r"},
            {"unknown class",           "on",       "%3POWR ?\r",  "%3POWR=ERR1\r"},
            {"not PJLink",              "on",       "GET / HTTP/1.1\r", "close"},
            {"input pc2",               "on",       "%1INPT 12\r", "codes: C06"},
            {"input video",             "on",       "%2INPT 21\r", "codes: C07"},
            {"input in standby",        "standby",  "%1INPT 11\r", "%1INPT=ERR3\r"},
            {"input while warming",     "warming",  "%1INPT 11\r", "%1INPT=ERR3\r"},
            {"no such input",           "on",       "%1INPT 31\r", "%1INPT=ERR2\r"},
            {"input query",             "on",       "%1INPT ?\r",  "%1INPT=12\r"},
            {"input list",              "lost",     "%1INST ?\r",  "%1INST=11 12 21\r"},
            {"mute both",               "on",       "%1AVMT 31\r", "codes: C0D,C0B"},
            {"unmute both",             "on",       "%1AVMT 30\r", "codes: C0E,C0C"},
            {"video mute",              "on",       "%1AVMT 11\r", "codes: C0D"},
            {"audio unmute",            "on",       "%1AVMT 20\r", "codes: C0C"},
            {"mute in standby",         "standby",  "%1AVMT 31\r", "%1AVMT=ERR3\r"},
            {"mute: none",              "on",       "%1AVMT ?\r",  "%1AVMT=30\r"},
            {"mute: video",             "on+picture", "%1AVMT ?\r", "%1AVMT=11\r"},
            {"mute: audio",             "on+sound", "%1AVMT ?\r",  "%1AVMT=21\r"},
            {"mute: both",              "on+picture+sound", "%1AVMT ?\r", "%1AVMT=31\r"},
            {"mute not read",           "unread",   "%1AVMT ?\r",  "%1AVMT=ERR3\r"},
            {"no errors",               "on",       "%1ERST ?\r",  "%1ERST=000000\r"},
            {"lamp and temperature",    "cooling+faults", "%1ERST ?\r", "%1ERST=021000\r"},
            {"power failure",           "standby+powerfail", "%1ERST ?\r", "%1ERST=000002\r"},
            {"lamp lit",                "on",       "%1LAMP ?\r",  "%1LAMP=1234 1\r"},
            {"lamp out",                "standby",  "%1LAMP ?\r",  "%1LAMP=1234 0\r"},
            {"lamp not read",           "unread",   "%1LAMP ?\r",  "%1LAMP=ERR3\r"},
            {"class",                   "on",       "%1CLSS ?\r",  "%1CLSS=2\r"},
            {"maker",                   "on",       "%1INF1 ?\r",  "%1INF1=OLVA\r"},
            {"model",                   "on",       "%1INF2 ?\r",  "%1INF2=MV70\r"},
            {"line lost: query",        "lost",     "%1POWR ?\r",  "%1POWR=ERR4\r"},
            {"line lost: set",          "lost",     "%1POWR 1\r",  "%1POWR=ERR4\r"},
            {"line lost: name",         "lost",     "%1NAME ?\r",  "%1NAME=Hall A\r"},
            {"volume up",               "on",       "%2SVOL 1\r",  "codes: C09"},
            {"volume down",             "on",       "%2SVOL 0\r",  "codes: C0A"},
            {"class 2 only",            "on",       "%1SVOL 1\r",  "%1SVOL=ERR1\r"},
            {"freeze",                  "on",       "%2FREZ 1\r",  "codes: C43"},
            {"not frozen",              "on",       "%2FREZ ?\r",  "%2FREZ=0\r"},
            {"frozen",                  "on+frozen", "%2FREZ ?\r", "%2FREZ=1\r"},
            {"input name",              "on",       "%2INNM ?12\r", "%2INNM=PC2\r"},
            {"no such input name",      "on",       "%2INNM ?13\r", "%2INNM=ERR2\r"},
            {"no serial number given",  "on",       "%2SNUM ?\r",  "%2SNUM=\r"},
            {"line lost: lamp as read", "lost",     "%1LAMP ?\r",  "%1LAMP=1234 0\r"},
            {"mic volume",              "on",       "%2MVOL 1\r",  "%2MVOL=ERR1\r"},
        };
        // clang-format on
        for (const auto &row : rows)
            QTest::newRow(row.name) << QByteArray(row.state) << row.line << row.expected;
    }
    void requests() {
        QFETCH(QByteArray, state);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, expected);
        QCOMPARE(outcome(line, stateNamed(state), {"Hall A", "mv70-bridge 1.40"}), expected);
    }

    // A name is cut to 64 bytes, never inside a character, and nothing in it
    // can end the reply early.
    void nameStaysOneLine() {
        const QByteArray name = pjlink::cutUtf8(QString(40, QChar(0xE9)).toUtf8(), 64);
        QCOMPARE(name.size(), 64);
        QVERIFY(QString::fromUtf8(name).toUtf8() == name);
        QCOMPARE(pjlink::cutUtf8("ab\xc3\xa9", 3), QByteArray("ab"));
        QCOMPARE(outcome("%1NAME ?\r", stateNamed("on"), {"Hall\rA", {}}), QByteArray("%1NAME=Hall A\r"));
    }

    void login_data() {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArrayList>("expected");  // per line: the command, a reply, or "auth failed"
        QTest::newRow("right digest, then none")
            << QByteArrayList{kDigest + "%1POWR ?\r", "%1LAMP ?\r"} << QByteArrayList{"POWR", "LAMP"};
        QTest::newRow("upper-case digest")
            << QByteArrayList{kDigest.toUpper() + "%1POWR ?\r"} << QByteArrayList{"POWR"};
        QTest::newRow("wrong digest") << QByteArrayList{"5d8409bc1c3fa39749434aa3a5c38683%1POWR ?\r"}
                                      << QByteArrayList{"auth failed"};
        QTest::newRow("no digest") << QByteArrayList{"%1POWR ?\r"} << QByteArrayList{"auth failed"};
        QTest::newRow("digest alone") << QByteArrayList{kDigest + "\r"} << QByteArrayList{"auth failed"};
        QTest::newRow("overlong first line")
            << QByteArrayList{kDigest + "%1POWR " + QByteArray(200, '?') + "\r"} << QByteArrayList{"auth failed"};
        QTest::newRow("SHA-256 asked, MD5 goes on")
            << QByteArrayList{"PJLINK 2\r", kDigest + "%1POWR ?\r"} << QByteArrayList{"PJLINK ERR1\r", "POWR"};
    }
    void login() {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArrayList, expected);
        Session session(kPassword, kRandom);
        QCOMPARE(session.greeting(), QByteArray("PJLINK 1 498e4a67\r"));
        QByteArrayList got;
        for (const QByteArray &line : lines) {
            session.feed(line);
            const std::optional<Session::Step> step = session.next();
            QVERIFY(step);
            if (step->kind == Session::Step::Kind::Request)
                got += step->request.command;
            else if (step->kind == Session::Step::Kind::AuthFailed)
                got += "auth failed";
            else
                got += step->reply;
        }
        QCOMPARE(got, expected);
    }

    void greetings() {
        QCOMPARE(Session({}, {}).greeting(), QByteArray("PJLINK 0\r"));
        const QByteArray first = pjlink::freshRandom();
        QCOMPARE(first.size(), 8);
        QVERIFY(QByteArray::fromHex(first).toHex() == first);
        QVERIFY(pjlink::freshRandom() != first || pjlink::freshRandom() != first);
        // The pause after failed logins grows, and stops growing.
        QCOMPARE(pjlink::failureDelayMs(0), 0);
        QVERIFY(pjlink::failureDelayMs(2) > pjlink::failureDelayMs(1));
        QCOMPARE(pjlink::failureDelayMs(100), pjlink::failureDelayMs(7));
    }
};

QTEST_GUILESS_MAIN(TestPjlink)
#include "test_pjlink.moc"
