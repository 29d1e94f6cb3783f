// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: the real window against the simulated projector (mv70-sim,
// a separate process) over a real pseudo-terminal, driven by mouse and key
// events. The timers run on their own here, so the waits are real: each is
// short, with a bound of seconds.

#include <QApplication>
#include <QtTest>

#include <functional>
#include <memory>

#include "form_fixture.h"
#include "sim_process.h"

using namespace mv70;

namespace {

class Panel {
public:
    SimProcess sim;
    std::unique_ptr<Form1> form;
    QStringList warnings;
    // What the RXD and STATUS lines showed right after each receive event,
    // and the RXD line at each end of the reply window: a record that the
    // display hold cannot blank before the test looks.
    QStringList rxd;
    QStringList status;
    QStringList rxdAtReplyWindowEnd;

    explicit Panel(const QStringList &simOptions = {}) : sim(simOptions) {
        if (sim.path().isEmpty())
            return;
        qputenv("MV70_COM1", sim.path().toLocal8Bit());
        qputenv("MV70_COM2", missingDevice());
        form = std::make_unique<Form1>();
        form->showWarning = [this](const QString &description) { warnings << description; };
        // Connected after the window's own handlers, so these run after them.
        QObject::connect(&form->MSComm1, &window::MSComm::OnComm, [this] {
            rxd << form->Label12->text();
            status << form->Label22->text();
        });
        QObject::connect(&form->Timer2, &QTimer::timeout, [this] { rxdAtReplyWindowEnd << form->Label12->text(); });
        form->Form_Load();
        form->show();
    }
    ~Panel() {
        form.reset();
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }

    bool ready() { return form && form->MSComm1.PortOpen() && QTest::qWaitForWindowActive(form.get()); }

    QWidget *control(const char *name) { return form->control(name); }

    void pressCtrlJ() {
        QWidget *focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : form.get(), Qt::Key_J, Qt::ControlModifier);
    }
    void openServiceBand() {
        pressCtrlJ();
        QTest::mouseDClick(form->Image1, Qt::LeftButton);
    }

    // Clicks a button once the reply window of the command before has
    // closed (a reply that came earlier would still be at the head of the
    // receive buffer), and waits until `done` holds for the RXD line.
    bool click(const char *name, const std::function<bool(const QString &)> &done) {
        if (!QTest::qWaitFor([this] { return !form->Timer2.isActive(); }, 10000))
            return false;
        rxd.clear();
        status.clear();
        QTest::mouseClick(control(name), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !rxd.isEmpty() && done(rxd.constLast()); }, 5000);
    }
    // A query: the STATUS line once the whole reply is in.
    QString ask(const char *button) {
        if (!click(button, [](const QString &line) { return line.endsWith(u"CR "); }))
            return QStringLiteral("<no reply>");
        return status.constLast();
    }
    // An operation command: true when the projector acknowledged it.
    bool operate(const char *button) {
        return click(button, [](const QString &line) { return line == u" ACK "; });
    }
    // Types a command on the service band's line and sends it.
    void typeAndSend(const QString &text) {
        QTest::mouseClick(control("Command96"), Qt::LeftButton);  // CLS
        QTest::keyClicks(form->Text1, text);
        rxd.clear();
        status.clear();
        QTest::mouseClick(control("Command95"), Qt::LeftButton);  // SEND
    }
};

}  // namespace

class TestE2E : public QObject {
    Q_OBJECT

private slots:
    void powerOnCountsDownThenReportsOn();
    void everyQueryIsDecoded_data();
    void everyQueryIsDecoded();
    void inputChangeReadBackWithMode();
    void heldVolumePlusRepeats();
    void silentProjectorTimesOut();
    void replyInPiecesIsShownAsItGrows();
    void typedPressureShowsHectopascals();
    void speedsMustAgree();
};

void TestE2E::powerOnCountsDownThenReportsOn() {
    Panel p({QStringLiteral("--countdown"), QStringLiteral("2000")});
    QVERIFY(p.ready());
    p.pressCtrlJ();  // the data band with the query buttons
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
    QVERIFY(p.operate("Command17"));  // ON
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Count down"));
    QTRY_COMPARE_WITH_TIMEOUT(p.ask("Command44"), QStringLiteral(" Power ON"), 15000);
    QVERIFY(p.operate("Command18"));  // OFF
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Cooling down"));
    QVERIFY(p.warnings.isEmpty());
}

void TestE2E::everyQueryIsDecoded_data() {
    QTest::addColumn<QString>("how");  // a button, or a text typed and sent
    QTest::addColumn<QString>("status");
    // clang-format off
    QTest::newRow("STATUS") << "Command44" << " Stand by";
    QTest::newRow("MODE") << "Command45" << " Computer 1";
    QTest::newRow("L-TIME") << "Command46" << " 1 2 3 4 CR  Hour Use";
    QTest::newRow("SETTING") << "Command47" << " Normally";
    QTest::newRow("TEMP") << "Command54" << "  S1=   2 5 . 0 C  ,   S2=  2 5 . 0 C , S3=   2 5 . 0 C";
    QTest::newRow("typed CRA") << "CRA" << " Stand by";
    QTest::newRow("typed CR9") << "CR9" << " M V 7 0   S I M U L A T O R CR ";
    QTest::newRow("typed CR7") << "CR7" << " All OFF : 2 Lamp mode";
    // clang-format on
}

void TestE2E::everyQueryIsDecoded() {
    QFETCH(QString, how);
    QFETCH(QString, status);
    Panel p;
    QVERIFY(p.ready());
    if (how.startsWith(u"Command")) {
        p.pressCtrlJ();
        QCOMPARE(p.ask(how.toLatin1().constData()), status);
    } else {
        p.openServiceBand();
        p.typeAndSend(how);
        QTRY_VERIFY_WITH_TIMEOUT(!p.rxd.isEmpty() && p.rxd.constLast().endsWith(u"CR "), 5000);
        QCOMPARE(p.status.constLast(), status);
    }
    QTRY_COMPARE_WITH_TIMEOUT(p.sim.received(p.form->LastCommand().chopped(1).toLatin1()), 1, 5000);
}

void TestE2E::inputChangeReadBackWithMode() {
    Panel p;
    QVERIFY(p.ready());
    p.pressCtrlJ();
    QVERIFY(p.operate("Command28"));  // PC2
    QCOMPARE(p.ask("Command45"), QStringLiteral(" Computer 2"));
    QVERIFY(p.operate("Command29"));  // Video
    QCOMPARE(p.ask("Command45"), QStringLiteral(" Video"));
    QVERIFY(p.operate("Command27"));  // PC1
    QCOMPARE(p.ask("Command45"), QStringLiteral(" Computer 1"));
}

void TestE2E::heldVolumePlusRepeats() {
    Panel p;
    QVERIFY(p.ready());
    QWidget *plus = p.control("Command1");  // "+" of VOL
    QTest::mousePress(plus, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(p.sim.received("C09") >= 3, 5000);  // at the press, then every 250 ms
    QVERIFY(p.rxd.contains(QStringLiteral(" ACK ")));
    QTest::mouseRelease(plus, Qt::LeftButton);
    QCOMPARE(p.form->Label11->text(), QString());  // the release empties both traces at once
    QCOMPARE(p.form->Label12->text(), QString());
    const int sent = p.sim.received("C09");
    QVERIFY(!p.form->Timer1.isActive());  // the repeat has stopped
    QVERIFY(p.sim.drained());             // and the simulator has read all that was sent
    QVERIFY2(p.sim.received("C09") <= sent + 1, "the repeat went on after the release");  // one may be on its way
    QCOMPARE(p.sim.received("C0A"), 0);
}

void TestE2E::silentProjectorTimesOut() {
    Panel p({QStringLiteral("--silent")});
    QVERIFY(p.ready());
    p.pressCtrlJ();
    QTest::mouseClick(p.control("Command44"), Qt::LeftButton);  // STATUS
    QTRY_VERIFY_WITH_TIMEOUT(!p.rxdAtReplyWindowEnd.isEmpty(), 5000);
    QCOMPARE(p.rxdAtReplyWindowEnd.constFirst(), QStringLiteral(" X X X X"));
    QTRY_COMPARE_WITH_TIMEOUT(p.sim.received("CR0"), 1, 5000);  // heard, and not answered
    QVERIFY(p.rxd.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(p.form->Label12->text(), QString(), 5000);  // the display hold ends
    QCOMPARE(p.form->Label22->text(), QString());
}

void TestE2E::replyInPiecesIsShownAsItGrows() {
    Panel p({QStringLiteral("--split"), QStringLiteral("1"), QStringLiteral("--gap"), QStringLiteral("100")});
    QVERIFY(p.ready());
    p.pressCtrlJ();
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
    QVERIFY2(p.rxd.size() >= 2, qPrintable(p.rxd.join(u'|')));
    QCOMPARE(p.rxd.constFirst(), QStringLiteral(" 8 "));
    QCOMPARE(p.status.constFirst(), QString());  // " 8 " matches nothing yet
    QCOMPARE(p.rxd.constLast(), QStringLiteral(" 8 0 CR "));
}

void TestE2E::typedPressureShowsHectopascals() {
    Panel p({QStringLiteral("--pressure"), QStringLiteral("980")});
    QVERIFY(p.ready());
    p.openServiceBand();
    p.typeAndSend(QStringLiteral("CR PRESSURE"));
    QTRY_VERIFY_WITH_TIMEOUT(!p.rxd.isEmpty() && p.rxd.constLast().endsWith(u"CR "), 5000);
    QCOMPARE(p.rxd.constLast(), QStringLiteral(" 8 2 2 CR "));  // the raw reading
    QCOMPARE(p.status.constLast(), QStringLiteral("980 hPa"));
    QCOMPARE(p.form->Label22->text(), QStringLiteral("980 hPa"));  // held for 2.5 s after SEND
}

void TestE2E::speedsMustAgree() {
    Panel p({QStringLiteral("--baud"), QStringLiteral("9600")});
    QVERIFY(p.ready());
    p.pressCtrlJ();
    QTest::mouseClick(p.control("Command44"), Qt::LeftButton);  // at the panel's 19200: noise to the projector
    QTRY_VERIFY_WITH_TIMEOUT(!p.rxdAtReplyWindowEnd.isEmpty(), 5000);
    QCOMPARE(p.rxdAtReplyWindowEnd.constFirst(), QStringLiteral(" X X X X"));
    QCOMPARE(p.sim.received("CR0"), 0);

    QTest::mouseClick(p.control("Command33"), Qt::LeftButton);  // COM
    QTest::mouseClick(p.control("Option10"), Qt::LeftButton);   // 9600
    QVERIFY(p.form->Frame8->isHidden());
    QCOMPARE(p.ask("Command44"), QStringLiteral(" Stand by"));
}

QTEST_MAIN(TestE2E)
#include "test_e2e.moc"
