// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up's serial steps, the port and speed choice, and the failures
// around them, on real pseudo-terminals; a missing path stands for a port
// that cannot be opened.

#include <QAccessible>
#include <QMessageBox>
#include <QProcess>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

#include "form_fixture.h"
#include "window/layout.h"

using namespace mv70;

namespace {

void choose(FormOnPty &f, const char *option) { QTest::mouseClick(f->control(option), Qt::LeftButton); }

// How many times a device is opened, by anyone, from now on. An opening and
// a closing alternate, so the system merges none of them.
class OpenCount {
public:
    explicit OpenCount(const QString &device) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, QFile::encodeName(device).constData(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCount() { ::close(fd_); }
    OpenCount(const OpenCount &) = delete;
    OpenCount &operator=(const OpenCount &) = delete;

    int opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                opens_ += (event->mask & IN_OPEN) ? 1 : 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        return opens_;
    }

private:
    int fd_;
    int opens_ = 0;
};

}  // namespace

class TestPorts : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    void startupOpensCom1At19200();
    void com1ChoiceReopensAndSendsNothing();
    void choosingCom2MovesThePort();
    void speedIsKeptAcrossAPortChange();
    void optionDoesItsChoiceOnceHoweverChosen_data();
    void optionDoesItsChoiceOnceHoweverChosen();
    void failedChoiceWarnsAndFallsBack();
    void speedChoiceWhileClosed();
    void startupFailureShowsTheWindowAndWarns();
    void secondCopyIsToldThePortIsInUse();
    void closingTheWindowReleasesThePort();
    void lostLineIsToldOnceAndAChoiceReopens();
    void warningBoxIsPlainWithOneButton();
};

void TestPorts::startupOpensCom1At19200() {
    FormOnPty f(false);
    OpenCount com1(f.com1.path());
    f->Form_Load();
    QCOMPARE(com1.opens(), 2);  // opened, then reopened by the COM1 mark
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 1);
    QCOMPARE(f->MSComm1.Settings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(f->PortSettings, QStringLiteral("19200,N,8,1"));
    QCOMPARE(f.com1.baudRate(), 19200);
    QVERIFY(f->Option1->isChecked());
    QVERIFY(qobject_cast<QRadioButton *>(f->control("Option9"))->isChecked());
    QVERIFY(f->Frame8->isHidden());
    QCOMPARE(f->clientHeight(), window::CompactHeight.client);
    for (const QTimer *timer : {&f->Timer1, &f->Timer2, &f->Timer3, &f->Timer4})
        QVERIFY(!timer->isActive());
    QVERIFY(f.warnings.isEmpty());
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));  // start-up sends nothing
}

void TestPorts::com1ChoiceReopensAndSendsNothing() {
    FormOnPty f;
    f->show();
    f->Command33_Click();
    choose(f, "Option1");
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 1);
    QVERIFY(f->Frame8->isHidden());
    QVERIFY(f->Timer3.isActive());  // its tick will hide the hidden panel
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestPorts::choosingCom2MovesThePort() {
    FormOnPty f;
    f->show();
    f->Command33_Click();
    choose(f, "Option2");
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 2);
    QCOMPARE(f.sendMarkerAndRead(f.com2), QByteArray("MARK\r"));
    QVERIFY(!f->Option1->isChecked());
}

void TestPorts::speedIsKeptAcrossAPortChange() {
    FormOnPty f;
    f->show();
    f->Command33_Click();
    choose(f, "Option10");  // 9600
    QCOMPARE(f->PortSettings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(f.com1.baudRate(), 9600);  // the open port at once
    QVERIFY(f->MSComm1.PortOpen());
    QVERIFY(f->Frame8->isHidden());
    f->Command33_Click();
    choose(f, "Option2");
    QCOMPARE(f.com2.baudRate(), 9600);
    QCOMPARE(f->MSComm1.Settings(), QStringLiteral("9600,N,8,1"));
}

// A mouse click, the keyboard or an assistive technology's action: the
// option's choice is made, once (a port choice opens the port once).
void TestPorts::optionDoesItsChoiceOnceHoweverChosen_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("opensOfPort");
    QTest::newRow("9600, toggle action") << "Option10"
                                         << "toggle" << 1 << 9600 << 0;
    QTest::newRow("COM2, toggle action") << "Option2"
                                         << "toggle" << 2 << 19200 << 1;
    QTest::newRow("COM2, press action") << "Option2"
                                        << "press" << 2 << 19200 << 1;
    QTest::newRow("COM2, mouse") << "Option2"
                                 << "mouse" << 2 << 19200 << 1;
    QTest::newRow("COM2, space key") << "Option2"
                                     << "space" << 2 << 19200 << 1;
    QTest::newRow("9600, mouse") << "Option10"
                                 << "mouse" << 1 << 9600 << 0;
    QTest::newRow("COM1 again, mouse: reopened") << "Option1"
                                                 << "mouse" << 1 << 19200 << 1;
}

void TestPorts::optionDoesItsChoiceOnceHoweverChosen() {
    QFETCH(QString, option);
    QFETCH(QString, how);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, opensOfPort);
    FormOnPty f;
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    f->Command33_Click();
    PtyPeer &peer = port == 1 ? f.com1 : f.com2;
    OpenCount opens(peer.path());
    auto *widget = qobject_cast<QRadioButton *>(f->control(option.toLatin1().constData()));
    if (how == u"mouse") {
        QTest::mouseClick(widget, Qt::LeftButton);
    } else if (how == u"space") {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Space);
    } else {
        QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(widget)->actionInterface();
        QVERIFY(actions);
        const QString action =
            how == u"toggle" ? QAccessibleActionInterface::toggleAction() : QAccessibleActionInterface::pressAction();
        actions->doAction(action);
    }
    QTRY_VERIFY_WITH_TIMEOUT(f->Frame8->isHidden(), 5000);  // a press is a click a moment later
    const auto marked = [&](const char *name) { return qobject_cast<QRadioButton *>(f->control(name))->isChecked(); };
    QCOMPARE((QList<bool>{marked("Option1"), marked("Option2"), marked("Option9"), marked("Option10")}),
             (QList<bool>{port == 1, port == 2, baud == 19200, baud == 9600}));  // the marks show what is set
    QCOMPARE(f->MSComm1.CommPort(), port);
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(peer.baudRate(), baud);
    QCOMPARE(opens.opens(), opensOfPort);
    QCOMPARE(f.sendMarkerAndRead(peer), QByteArray("MARK\r"));
    QVERIFY(f.warnings.isEmpty());
}

void TestPorts::failedChoiceWarnsAndFallsBack() {
    FormOnPty f;
    f->show();
    qputenv("MV70_COM2", missingDevice());
    f->Command33_Click();
    choose(f, "Option2");
    QTRY_COMPARE_WITH_TIMEOUT(f.warnings.size(), 1, 5000);  // once the facts are looked up
    QVERIFY2(f.warnings.first().contains(QString::fromLatin1(missingDevice())), qPrintable(f.warnings.first()));
    QVERIFY(!f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 1);                                         // the fallback
    QVERIFY(qobject_cast<QRadioButton *>(f->control("Option2"))->isChecked());  // marks stay
    QVERIFY(!f->Frame8->isHidden());                                            // and so does the panel

    // The port was closed by the failure: the next choice opens it.
    choose(f, "Option1");
    QCOMPARE(f.warnings.size(), 1);
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.CommPort(), 1);
    QVERIFY(f->Frame8->isHidden());
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

void TestPorts::speedChoiceWhileClosed() {
    FormOnPty f;
    QVERIFY(f->MSComm1.setPortOpen(false));
    f->show();
    f->Command33_Click();
    choose(f, "Option10");
    QCOMPARE(f->PortSettings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(f->MSComm1.Settings(), QStringLiteral("9600,N,8,1"));
    QVERIFY(!f->MSComm1.PortOpen());
    QVERIFY(f.warnings.isEmpty());
    QVERIFY(f->Frame8->isHidden());
}

void TestPorts::startupFailureShowsTheWindowAndWarns() {
    FormOnPty f(false);
    qputenv("MV70_COM1", missingDevice());
    f->Form_Load();
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QTRY_COMPARE_WITH_TIMEOUT(f.warnings.size(), 1, 5000);  // once the window is up
    QVERIFY(f.warnings.first().contains(QString::fromLatin1(missingDevice())));
    QVERIFY(!f->MSComm1.PortOpen());
    QVERIFY(!f->Option1->isChecked());
    QCOMPARE(f->clientHeight(), window::CompactHeight.client);

    // A command now tells the operator on the STATUS line; nothing breaks.
    qobject_cast<QPushButton *>(f->control("Command17"))->click();
    QVERIFY(f->Label22->text().contains("not open"));

    // With the adapter back, choosing COM1 opens it.
    qputenv("MV70_COM1", f.com1.path().toLocal8Bit());
    f->Command33_Click();
    choose(f, "Option1");
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f->MSComm1.Settings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(f.sendMarkerAndRead(f.com1), QByteArray("MARK\r"));
}

// A second copy of the program, in a process of its own, on the port the
// first copy holds.
void TestPorts::secondCopyIsToldThePortIsInUse() {
    FormOnPty first;
    QProcess second;
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(MV70_SECOND_COPY), {});
    QVERIFY(second.waitForFinished(30000));
    const QString told = QString::fromLocal8Bit(second.readAll());
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(told.contains("in use") && told.contains(first.com1.path()) && told.contains("port closed"),
             qPrintable(told));

    // The first copy goes on undisturbed, both ways.
    QVERIFY(first->MSComm1.PortOpen());
    QCOMPARE(first.sendMarkerAndRead(first.com1), QByteArray("MARK\r"));
    first.com1.write("00\r");
    QTRY_COMPARE_WITH_TIMEOUT(first->RxBuffer(), QStringLiteral("00\r"), 5000);
    QVERIFY(first.warnings.isEmpty());
}

void TestPorts::closingTheWindowReleasesThePort() {
    FormOnPty f;
    f->show();
    f->close();
    QVERIFY(!f->MSComm1.PortOpen());
    serial::Port other;
    QVERIFY(other.open());  // the device is free again
}

void TestPorts::lostLineIsToldOnceAndAChoiceReopens() {
    FormOnPty f;
    f->show();
    f.com1.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!f->MSComm1.PortOpen(), 5000);
    QVERIFY2(f->Label22->text().startsWith(" COM1 (" + f.com1.path() + ") disconnected: the device is gone."),
             qPrintable(f->Label22->text()));
    QVERIFY(f.warnings.isEmpty());  // no box from the error path

    // The window goes on answering; a command says the port is not open.
    qobject_cast<QPushButton *>(f->control("Command17"))->click();
    QVERIFY2(f->Label22->text().contains("not open"), qPrintable(f->Label22->text()));
    QVERIFY(f.warnings.isEmpty());

    PtyPeer replacement;
    qputenv("MV70_COM1", replacement.path().toLocal8Bit());
    f->Command33_Click();
    choose(f, "Option1");
    QVERIFY(f->MSComm1.PortOpen());
    QCOMPARE(f.sendMarkerAndRead(replacement), QByteArray("MARK\r"));
}

void TestPorts::warningBoxIsPlainWithOneButton() {
    Form1 form;  // with its own, modal box
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = true;
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->windowTitle(), QStringLiteral("OLVA   MV70  CONTROL   Ver." MV70_VERSION));
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), QStringLiteral("<b>COM9</b> & more"));
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        box->accept();
    });
    form.showWarning(QStringLiteral("<b>COM9</b> & more"));
    QVERIFY(seen);
}

QTEST_MAIN(TestPorts)
#include "test_ports.moc"
