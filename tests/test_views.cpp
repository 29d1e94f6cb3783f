// SPDX-License-Identifier: GPL-3.0-or-later
// The window's views: start-up position, the hidden key combination, the
// armed logo, the data-view button, COM and END.

#include <QSignalSpy>
#include <QtTest>

#include "form_fixture.h"
#include "window/layout.h"

using namespace mv70;
using namespace mv70::window;

namespace {

struct Shown {
    FormOnPty f;
    Shown() {
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    }
};

// Counts the presses of J that reach one widget.
class KeyCounter : public QObject {
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        presses += event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_J;
        return false;
    }
};

}  // namespace

class TestViews : public QObject {
    Q_OBJECT

private slots:
    void startsCentredAsAFullHeightWindowThenCompact();
    void ctrlJArmsFromAnyControlWithoutTakingTheKey();
    void otherModifiersDoNothing_data();
    void otherModifiersDoNothing();
    void ctrlJAtFullHeightShrinksToArmed();
    void logoOpensTheServiceBandOnlyWhenArmed();
    void dataViewThresholdIsStrict_data();
    void dataViewThresholdIsStrict();
    void dataViewFromTheKeyboardInTheClosedView();
    void dataViewButtonRestartsThePanelCountdown();
    void endClosesThePortAndStopsEverything();
};

void TestViews::startsCentredAsAFullHeightWindowThenCompact() {
    FormOnPty f;
    const QRect screen = f->screen()->geometry();
    QCOMPARE(f->pos().x(), screen.x() + (screen.width() - 633) / 2);
    QCOMPARE(f->pos().y(), screen.y() + (screen.height() - twipsToPixels(FullHeight.outer)) / 2);
    QCOMPARE(f->height(), twipsToPixels(CompactHeight.client));
    QCOMPARE(f->width(), 633);
    QVERIFY(f->Command34->isHidden());
    QCOMPARE(f->DataPanelArmed, qint16(0));
}

void TestViews::ctrlJArmsFromAnyControlWithoutTakingTheKey() {
    Shown s;
    auto &f = s.f;
    QWidget *focused = f->control("Command18");
    focused->setFocus();
    KeyCounter counter;
    focused->installEventFilter(&counter);
    QTest::keyClick(focused, Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(counter.presses, 1);  // the control still gets the key
    QCOMPARE(f->clientHeight(), ArmedHeight.client);
    QCOMPARE(f->DataPanelArmed, qint16(1));
    QCOMPARE(f->Command34->text(), QStringLiteral("CLOSE"));
    QVERIFY(f->Command34->isVisible());

    // From the text box too, at any height; a second time changes nothing.
    f->setClientHeight(CompactHeight.client);
    f->Text1->setFocus();
    QTest::keyClick(f->Text1, Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(f->clientHeight(), ArmedHeight.client);
    QTest::keyClick(f->Text1, Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(f->clientHeight(), ArmedHeight.client);
}

void TestViews::otherModifiersDoNothing_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl+Shift+J") << int(Qt::Key_J) << int(Qt::ControlModifier | Qt::ShiftModifier);
    QTest::newRow("Ctrl+Alt+J") << int(Qt::Key_J) << int(Qt::ControlModifier | Qt::AltModifier);
    QTest::newRow("J") << int(Qt::Key_J) << int(Qt::NoModifier);
    QTest::newRow("Shift+J") << int(Qt::Key_J) << int(Qt::ShiftModifier);
    QTest::newRow("Ctrl+K") << int(Qt::Key_K) << int(Qt::ControlModifier);
}

void TestViews::otherModifiersDoNothing() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Shown s;
    QTest::keyClick(s.f->control("Command17"), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(s.f->clientHeight(), CompactHeight.client);
    QCOMPARE(s.f->DataPanelArmed, qint16(0));
    QVERIFY(s.f->Command34->isHidden());
}

void TestViews::ctrlJAtFullHeightShrinksToArmed() {
    Shown s;
    s.f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
    s.f->Image1_DblClick();
    QCOMPARE(s.f->clientHeight(), FullHeight.client);
    s.f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
    QCOMPARE(s.f->clientHeight(), ArmedHeight.client);
}

void TestViews::logoOpensTheServiceBandOnlyWhenArmed() {
    Shown s;
    auto &f = s.f;
    QTest::mouseDClick(f->Image1, Qt::LeftButton);
    QCOMPARE(f->clientHeight(), CompactHeight.client);  // not armed yet

    QTest::keyClick(f.form.get(), Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(f->DataPanelArmed, qint16(1));
    QTest::mouseDClick(f->Image1, Qt::LeftButton);
    QCOMPARE(f->clientHeight(), FullHeight.client);
    QCOMPARE(f->Command34->text(), QStringLiteral("CLOSE"));
    QVERIFY(f->Command34->isVisible());

    // After CLOSE, the logo is disarmed again.
    QTest::mouseClick(f->Command34, Qt::LeftButton);
    QCOMPARE(f->clientHeight(), CompactHeight.client);
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示する"));
    QTest::mouseDClick(f->Image1, Qt::LeftButton);
    QCOMPARE(f->clientHeight(), CompactHeight.client);
}

void TestViews::dataViewThresholdIsStrict_data() {
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("caption");
    QTest::newRow("compact") << CompactHeight.client << DataViewHeight.client << "データを表示しない";
    QTest::newRow("just below") << kDataViewClientThreshold - 1 << DataViewHeight.client << "データを表示しない";
    QTest::newRow("at the threshold") << kDataViewClientThreshold << CompactHeight.client << "データを表示する";
    QTest::newRow("data view") << DataViewHeight.client << CompactHeight.client << "データを表示する";
    QTest::newRow("full") << FullHeight.client << CompactHeight.client << "データを表示する";
}

void TestViews::dataViewThresholdIsStrict() {
    QFETCH(int, client);
    FormOnPty f;
    f->DataPanelArmed = 1;
    f->setClientHeight(client);
    const bool wasVisible = !f->Command34->isHidden();
    f->Command34_Click();
    QTEST(f->clientHeight(), "after");
    QTEST(f->Command34->text(), "caption");
    QCOMPARE(f->DataPanelArmed, qint16(0));
    QCOMPARE(!f->Command34->isHidden(), wasVisible);  // the click leaves its visibility alone
}

void TestViews::dataViewFromTheKeyboardInTheClosedView() {
    Shown s;
    auto &f = s.f;
    f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
    QTest::mouseClick(f->Command34, Qt::LeftButton);  // closed view: the button lies below the client area
    QCOMPARE(f->clientHeight(), CompactHeight.client);
    QVERIFY(f->Command34->geometry().top() >= f->height());
    f->Command34->setFocus();
    QTest::keyClick(f->Command34, Qt::Key_Space);
    QCOMPARE(f->clientHeight(), DataViewHeight.client);
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示しない"));
    QTest::keyClick(f->Command34, Qt::Key_Space);
    QCOMPARE(f->clientHeight(), CompactHeight.client);
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示する"));
}

void TestViews::dataViewButtonRestartsThePanelCountdown() {
    FormOnPty f;
    f->Command33_Click();
    QVERIFY(!f->Frame8->isHidden());
    QVERIFY(f->Timer3.isActive());
    f->Timer3.setInterval(60000);  // far away: the test looks at the restart, not the time
    f->Timer3.start();
    const int before = f->Timer3.remainingTime();
    f->Timer3.setInterval(5000);
    f->Command34_Click();
    QVERIFY(f->Timer3.isActive());
    QVERIFY(f->Timer3.remainingTime() <= 5000 && before > 5000);
    QVERIFY(!f->Frame8->isHidden());
    f->Timer3_Timer();
    QVERIFY(f->Frame8->isHidden());
}

void TestViews::endClosesThePortAndStopsEverything() {
    Shown s;
    auto &f = s.f;
    QSignalSpy ended(f.form.get(), &Form1::ended);
    QTest::mousePress(f->control("Command1"), Qt::LeftButton);  // a held repeat
    QVERIFY(f->Timer1.isActive());
    f.com1.read(4);
    f.com1.write("00\r");                                        // and a reply on its way
    QTest::mouseClick(f->control("Command16"), Qt::LeftButton);  // END
    QCOMPARE(ended.size(), 1);
    QVERIFY(!f->MSComm1.PortOpen());
    for (const QTimer *timer : {&f->Timer1, &f->Timer2, &f->Timer3, &f->Timer4})
        QVERIFY(!timer->isActive());
    const QString rx = f->RxBuffer();
    QTest::qWait(50);  // a time: nothing may arrive on a closed port, so there is no event to wait for
    QCOMPARE(f->RxBuffer(), rx);
    QVERIFY(!f->isVisible());
}

QTEST_MAIN(TestViews)
#include "test_views.moc"
