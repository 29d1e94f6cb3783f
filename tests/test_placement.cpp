// SPDX-License-Identifier: GPL-3.0-or-later
// Where start-up puts the window: centred as the full-height window, and
// never outside the screen's available area. Run once per screen (see
// tests/CMakeLists.txt): the offscreen platform reads its screen from a
// configuration file; MV70_SCREEN names the size the test expects to see.

#include <QScreen>
#include <QtTest>

#include "form_fixture.h"
#include "window/layout.h"

using namespace mv70;

class TestPlacement : public QObject {
    Q_OBJECT

private slots:
    void startUpPutsTheWindowWithinReach();
};

void TestPlacement::startUpPutsTheWindowWithinReach() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const QSize size = screen->geometry().size();
    const QByteArray expected = qgetenv("MV70_SCREEN");
    if (!expected.isEmpty())  // the screen configured for this run is the one in use
        QCOMPARE(QStringLiteral("%1x%2@%3").arg(size.width()).arg(size.height()).arg(screen->devicePixelRatio()),
                 QString::fromLatin1(expected));
    const QRect area = screen->availableGeometry();

    FormOnPty f;
    // Centred as the full-height window wherever the compact one then lies
    // within the area.
    const QPoint centred(screen->geometry().x() + (size.width() - f->width()) / 2,
                         screen->geometry().y()
                             + (size.height() - window::twipsToPixels(window::FullHeight.outer)) / 2);
    if (area.contains(QRect(centred, f->size() + QSize(8, 25))))
        QCOMPARE(f->pos(), centred);

    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    // The title bar, the captions of the top row and the logo (the way into
    // the service band) are on the screen: the whole compact window is.
    QVERIFY2(area.contains(f->frameGeometry()), qPrintable(QStringLiteral("window at %1,%2 %3x%4, area %5x%6")
                                                               .arg(f->frameGeometry().x())
                                                               .arg(f->frameGeometry().y())
                                                               .arg(f->frameGeometry().width())
                                                               .arg(f->frameGeometry().height())
                                                               .arg(area.width())
                                                               .arg(area.height())));
    QVERIFY(area.contains(QRect(f->Image1->mapToGlobal(QPoint(0, 0)), f->Image1->size())));
}

QTEST_MAIN(TestPlacement)
#include "test_placement.moc"
