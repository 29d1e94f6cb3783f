// SPDX-License-Identifier: GPL-3.0-or-later
// The typed command: SEND and CLS on the service band.

#include <QtTest>

#include "form_fixture.h"

using namespace mv70;

namespace {

struct Full {
    FormOnPty f;
    Full() {
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        f->Form_KeyDown(Qt::Key_J, Form1::kCtrlMask);
        f->Image1_DblClick();
    }
    void type(const QString &text) {
        QTest::mouseClick(f->control("Command96"), Qt::LeftButton);  // CLS
        const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
        if (ascii)
            QTest::keyClicks(f->Text1, text);
        else
            f->Text1->setText(text);  // what the keyboard cannot type, a paste brings
    }
    void send() {
        QTest::mouseClick(f->control("Command95"), Qt::LeftButton);
        f->Timer2.stop();
        f->Timer4.stop();
    }
};

}  // namespace

class TestManual : public QObject {
    Q_OBJECT

private slots:
    void emptyBoxSendsALoneCarriageReturn();
    void typedQueryDecodesLikeItsButton();
    void textIsSentVerbatim_data();
    void textIsSentVerbatim();
    void clsClearsOnlyTheBox();
    void sendRetimesLaterCommands();
};

void TestManual::emptyBoxSendsALoneCarriageReturn() {
    Full s;
    s.send();
    QCOMPARE(s.f.com1.read(1), QByteArray("\r"));
    QCOMPARE(s.f->LastCommand(), QStringLiteral("\r"));
    QCOMPARE(s.f->ManualText, QString());
    QCOMPARE(s.f->Label11->text(), QStringLiteral(" CR "));
    QCOMPARE(s.f.sendMarkerAndRead(s.f.com1), QByteArray("MARK\r"));
}

void TestManual::typedQueryDecodesLikeItsButton() {
    Full s;
    s.type(QStringLiteral("CR0"));
    s.send();
    QCOMPARE(s.f.com1.read(4), QByteArray("CR0\r"));
    s.f.com1.write("20\r");
    QTRY_COMPARE_WITH_TIMEOUT(s.f->Label22->text(), QStringLiteral(" Cooling down"), 5000);

    s.type(QStringLiteral("CR PRESSURE"));
    s.send();
    QCOMPARE(s.f.com1.read(12), QByteArray("CR PRESSURE\r"));
    s.f->Timer2_Timer();
    s.f.com1.write("1023\r");
    QTRY_COMPARE_WITH_TIMEOUT(s.f->Label22->text(), QStringLiteral("1194 hPa"), 5000);
    QCOMPARE(s.f->Text1->text(), QStringLiteral("CR PRESSURE"));  // SEND keeps the box
}

void TestManual::textIsSentVerbatim_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lower case") << "cr0" << QByteArray("cr0\r");
    QTest::newRow("blanks kept") << "  C00 " << QByteArray("  C00 \r");
    QTest::newRow("markup is just characters") << "<b>C00</b>" << QByteArray("<b>C00</b>\r");
    QTest::newRow("non-ASCII as ?") << QString::fromUtf8("C0é") << QByteArray("C0?\r");
}

void TestManual::textIsSentVerbatim() {
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    Full s;
    s.f->Label22->setText(QStringLiteral(" before"));
    s.type(typed);
    s.send();
    QCOMPARE(s.f.com1.read(bytes.size()), bytes);
    QCOMPARE(s.f->ManualText, typed);
    QCOMPARE(s.f->LastCommand(), typed + u'\r');
    s.f.com1.write("00\r");
    QTRY_COMPARE_WITH_TIMEOUT(s.f->Label12->text(), QStringLiteral(" 0 0 CR "), 5000);
    QCOMPARE(s.f->Label22->text(), QStringLiteral(" before"));  // not a known query
}

void TestManual::clsClearsOnlyTheBox() {
    Full s;
    s.type(QStringLiteral("C00"));
    s.send();
    s.f.com1.read(4);
    const QString tx = s.f->Label11->text();
    s.f->Label22->setText(QStringLiteral(" status"));
    QTest::mouseClick(s.f->control("Command96"), Qt::LeftButton);
    QCOMPARE(s.f->Text1->text(), QString());
    QCOMPARE(s.f->Label11->text(), tx);
    QCOMPARE(s.f->Label22->text(), QStringLiteral(" status"));
    QCOMPARE(s.f->ManualText, QStringLiteral("C00"));
    QCOMPARE(s.f->LastCommand(), QStringLiteral("C00\r"));
}

void TestManual::sendRetimesLaterCommands() {
    Full s;
    s.send();
    QCOMPARE(s.f->Timer2.interval(), 2000);
    QCOMPARE(s.f->Timer4.interval(), 2500);
    qobject_cast<QPushButton *>(s.f->control("Command17"))->click();
    QVERIFY(s.f->Timer2.isActive());
    QCOMPARE(s.f->Timer2.interval(), 2000);
    QCOMPARE(s.f->Timer4.interval(), 2500);
}

QTEST_MAIN(TestManual)
#include "test_manual.moc"
