// SPDX-License-Identifier: GPL-3.0-or-later
// The window as assistive technology sees it through Qt's accessibility
// interfaces, in this process: names, roles, relations, and the monitor
// lines' text through a real exchange on the line.

#include <QAccessible>
#include <QLabel>
#include <QtTest>

#include "form_fixture.h"
#include "logic/trace.h"
#include "window/layout.h"

using namespace mv70;
using namespace mv70::window;

namespace {

QAccessibleInterface *accessible(QWidget *widget) { return QAccessible::queryAccessibleInterface(widget); }
QString nameOf(QWidget *widget) { return accessible(widget)->text(QAccessible::Name); }

bool isMonitorLine(const ControlSpec &row) { return row.kind == Kind::Label && row.sunken; }

}  // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void everyControlHasAMeaningAndARole();
    void buttonsSayWhatTheySend();
    void captionsLabelTheirLines();
    void dataViewButtonIsNamedByItsCaption();
    void linesReportWhatTheyHold();
    void noEventWhileNobodyListens();
};

void TestAccessibility::everyControlHasAMeaningAndARole() {
    FormOnPty f;
    QHash<QWidget *, QSet<QString>> namesInGroup;
    for (const ControlSpec &row : kControls) {
        QWidget *widget = f->control(row.name);
        QAccessibleInterface *iface = accessible(widget);
        QVERIFY2(iface, row.name.data());
        const QString name = iface->text(QAccessible::Name);
        if (isMonitorLine(row)) {
            QCOMPARE(iface->role(), QAccessible::StaticText);
            QVERIFY(name.isEmpty());  // its text, empty at start
            continue;
        }
        QVERIFY2(!name.isEmpty(), row.name.data());
        QSet<QString> &group = namesInGroup[widget->parentWidget()];
        QVERIFY2(!group.contains(name), qPrintable(name));
        group.insert(name);
        switch (row.kind) {
        case Kind::Frame:
            QCOMPARE(iface->role(), QAccessible::Grouping);
            break;
        case Kind::Button:
            QCOMPARE(iface->role(), QAccessible::Button);
            break;
        case Kind::Label:
            QCOMPARE(name, QString::fromUtf8(row.caption));
            break;
        default:
            break;
        }
        // The meaning is for assistive technology only: the caption on
        // screen stays as designed.
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), QString::fromUtf8(row.caption));
    }
    // A frame is named by the caption inside it.
    QCOMPARE(nameOf(f->control("Frame1")), QStringLiteral("POWER"));
    QCOMPARE(nameOf(f->control("Frame3")), QStringLiteral("SOUND MUTE"));
}

void TestAccessibility::buttonsSayWhatTheySend() {
    FormOnPty f;
    const std::pair<const char *, const char *> rows[] = {
        {"Command17", "sends C00"},
        {"Command44", "sends CR0"},
        {"Command72", "sends CF INPUT COMPUTER2 ANALOG"},
        {"Command1", "sends C09 while held"},
        {"Command5", "sends C3C while held"},
        {"Command16", ""},  // END sends nothing
        {"Command95", ""},  // SEND sends what was typed
    };
    for (const auto &[control, description] : rows)
        QCOMPARE(accessible(f->control(control))->text(QAccessible::Description), QString::fromUtf8(description));
}

void TestAccessibility::captionsLabelTheirLines() {
    FormOnPty f;
    for (const CaptionFor &pair : kCaptionsFor) {
        QAccessibleInterface *label = accessible(f->control(pair.label));
        QAccessibleInterface *control = accessible(f->control(pair.control));
        const auto labels = control->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first, label);
        const auto labelled = label->relations(QAccessible::Labelled);
        QCOMPARE(labelled.size(), 1);
        QCOMPARE(labelled.front().first, control);
    }
}

void TestAccessibility::dataViewButtonIsNamedByItsCaption() {
    FormOnPty f;
    QWidget *button = f->Command34;
    QCOMPARE(nameOf(button), QStringLiteral("Show the data band"));
    f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
    QCOMPARE(f->Command34->text(), QStringLiteral("CLOSE"));
    QCOMPARE(nameOf(button), QStringLiteral("Close the data and service bands"));
    f->Command34_Click();
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示する"));
    QCOMPARE(nameOf(button), QStringLiteral("Show the data band"));
    f->Command34_Click();
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示しない"));
    QCOMPARE(nameOf(button), QStringLiteral("Hide the data band"));
}

void TestAccessibility::linesReportWhatTheyHold() {
    FormOnPty f;
    const auto names = [&] { return QStringList{nameOf(f->Label11), nameOf(f->Label12), nameOf(f->Label22)}; };
    const auto texts = [&] { return QStringList{f->Label11->text(), f->Label12->text(), f->Label22->text()}; };

    // A transmit.
    f->OneShot_Click(*findOneShot("Command44"));  // STATUS: CR0
    QCOMPARE(f.com1.readUntil("CR0\r"), QByteArray("CR0\r"));
    f->Timer2.stop();  // the reply window and the display hold are driven by hand
    f->Timer4.stop();
    QCOMPARE(names().at(0), renderTrace(u"CR0\r"));
    // A reply, and the reading decoded from it.
    f.com1.write("80\r");
    QTRY_COMPARE(names().at(2), QStringLiteral(" Stand by"));
    QCOMPARE(names().at(1), renderTrace(u"80\r"));
    QCOMPARE(names(), texts());
    // A trace longer than the line: its name is what the line paints, the
    // start of the trace, at least as wide as the line.
    f.com1.write(QByteArray(600, 'A'));
    QTRY_COMPARE(f->Label12->text().size(), renderTrace(u"80\r").size() + 1200);
    const QString rxd = names().at(1);
    QVERIFY(rxd.size() < f->Label12->text().size());
    QVERIFY(f->Label12->text().startsWith(rxd));
    QVERIFY(f->Label12->fontMetrics().horizontalAdvance(rxd) >= f->Label12->width());
    // The display hold's blanking.
    f->Timer4_Timer();
    QCOMPARE(names(), (QStringList{QString(), QString(), QString()}));
}

void TestAccessibility::noEventWhileNobodyListens() {
    // No screen reader here: Qt's accessibility is off.
    QVERIFY(!QAccessible::isActive());
    FormOnPty f;
    for (int i = 0; i < 50; ++i) {
        f->Label11->setText(QString::number(i));
        f->Label12->setText(QString(i, u'x'));
        f->Label22->setText(QStringLiteral(" reading ") + QString::number(i));
        QTest::qWait(1);  // changes spread out in time, as they come: painted at once or held back
    }
    QTest::qWait(3 * MonitorLine::kSteadyRepaintIntervalMs);  // a time, past any held-back repaint: none may tell
    for (const MonitorLine *line : {f->Label11, f->Label12, f->Label22})
        QCOMPARE(line->nameChangesRaised(), quint64{0});

    // A reading, no answer and a lost line make no announcer either.
    f->show();
    f->activateWindow();
    QTRY_VERIFY(f->isActiveWindow());
    f->OneShot_Click(*findOneShot("Command44"));  // STATUS: CR0
    QCOMPARE(f.com1.readUntil("CR0\r"), QByteArray("CR0\r"));
    f.com1.write("80\r");
    QTRY_COMPARE(f->Label22->text(), QStringLiteral(" Stand by"));
    f->OneShot_Click(*findOneShot("Command44"));
    QCOMPARE(f.com1.readUntil("CR0\r"), QByteArray("CR0\r"));
    QTRY_COMPARE(f->AwaitingReply(), quint8{1});
    f->Timer2_Timer();
    QCOMPARE(f->Label12->text(), QStringLiteral(" X X X X"));
    f.com1.hangUp();
    QTRY_VERIFY(f->MSComm1.isWaitingForLine());
    QVERIFY(!f->Label22->text().isEmpty());
    QCOMPARE(f->findChild<Announcer *>(), nullptr);
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
