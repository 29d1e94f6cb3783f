// SPDX-License-Identifier: GPL-3.0-or-later
// The window as built from its layout table: the properties a slip in the
// table or in the building would break.

#include <QLabel>
#include <QRadioButton>
#include <QtTest>

#include "form_fixture.h"
#include "window/fonts.h"
#include "window/layout.h"

using namespace mv70;
using namespace mv70::window;

namespace {

QRect inForm(const Form1 &form, const QWidget *widget) {
    return QRect(widget->mapTo(&form, QPoint(0, 0)), widget->size());
}

// The top-level container of a control: the band it lies in.
const ControlSpec &outermost(const ControlSpec &row) {
    const ControlSpec *s = &row;
    while (s->parent)
        s = findControl(s->parent);
    return *s;
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void everyControlExistsInItsContainer();
    void controlsInFramesLieInsideTheirFrame();
    void windowAndTimersAsStored();
    void compactHeightShowsTheMainAreaOnly();
    void armedHeightShowsTheDataBandAndTheTopOfFrame14();
    void fullHeightShowsEverything();
    void tabOrderFollowsTheTabIndex();
    void optionPairsAreSeparateGroups();
    void labelsLieBeneathAndThePortPanelAbove();
    void commandTablesNameButtonsOfTheLayout();
    void japaneseCaptionsHaveGlyphs();
    void logoIsTheBitmapAtItsNaturalSize();
    void labelsNeverInterpretMarkup();
    void rendersFourPictures();
    void captionsFitTheirControls();
};

void TestLayout::everyControlExistsInItsContainer() {
    FormOnPty f;
    QSet<QString> names;
    for (const ControlSpec &row : kControls) {
        QWidget *widget = f->control(row.name);
        QVERIFY2(widget, row.name.data());
        QVERIFY2(!names.contains(widget->objectName()), row.name.data());
        names.insert(widget->objectName());
        QWidget *expectedParent = row.parent ? f->control(row.parent) : f.form.get();
        QCOMPARE(widget->parentWidget(), expectedParent);
        switch (row.kind) {
        case Kind::Button:
            QVERIFY(qobject_cast<QPushButton *>(widget));
            break;
        case Kind::Option:
            QVERIFY(qobject_cast<QRadioButton *>(widget));
            break;
        case Kind::TextBox:
            QVERIFY(qobject_cast<QLineEdit *>(widget));
            break;
        case Kind::Image:
            QVERIFY(qobject_cast<LogoImage *>(widget));
            break;
        case Kind::Label:
            QVERIFY(qobject_cast<QLabel *>(widget) || qobject_cast<MonitorLine *>(widget));
            break;
        case Kind::Frame:
            QCOMPARE(widget->metaObject(), &QFrame::staticMetaObject);
            break;
        }
    }
    // The press-and-hold buttons are the kind that reports any mouse button.
    for (const HoldButton &button : kHoldButtons)
        QVERIFY(qobject_cast<HoldPushButton *>(f->control(button.control)));
    QVERIFY(!f->control("Command1_missing"));
}

void TestLayout::controlsInFramesLieInsideTheirFrame() {
    FormOnPty f;
    for (const ControlSpec &row : kControls) {
        if (!row.parent)
            continue;
        const QWidget *widget = f->control(row.name);
        QVERIFY2(QRect(QPoint(0, 0), widget->parentWidget()->size()).contains(widget->geometry()), row.name.data());
    }
    // Every top-level control lies inside the full client area.
    f->setClientHeight(FullHeight.client);
    for (const ControlSpec &row : kControls)
        if (!row.parent)
            QVERIFY2(f->rect().contains(f->control(row.name)->geometry()), row.name.data());
}

void TestLayout::windowAndTimersAsStored() {
    FormOnPty f(false);
    QCOMPARE(f->windowTitle(), QStringLiteral("OLVA   MV70  CONTROL   Ver." MV70_VERSION));
    QCOMPARE(f->size(), QSize(633, 582));
    QCOMPARE(f->minimumSize(), f->maximumSize());  // the operator cannot resize it
    QVERIFY(!(f->windowFlags() & Qt::WindowMaximizeButtonHint));
    const QTimer *timers[] = {&f->Timer1, &f->Timer2, &f->Timer3, &f->Timer4};
    const int intervals[] = {200, 500, 5000, 1000};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(timers[i]->interval(), intervals[i]);
        QVERIFY(!timers[i]->isActive());
    }
    QVERIFY(f->Frame8->isHidden());
    QVERIFY(f->Command34->isHidden());
    QCOMPARE(f->Command34->text(), QStringLiteral("データを表示する"));
    QVERIFY(qobject_cast<QRadioButton *>(f->control("Option9"))->isChecked());
    QVERIFY(!f->Option1->isChecked());
    QVERIFY(f->Label11->text().isEmpty() && f->Label12->text().isEmpty() && f->Label22->text().isEmpty());
}

void TestLayout::compactHeightShowsTheMainAreaOnly() {
    FormOnPty f;
    QCOMPARE(f->clientHeight(), CompactHeight.client);
    QCOMPARE(f->height(), 332);
    for (const ControlSpec &row : kControls) {
        const QRect r = inForm(*f, f->control(row.name));
        const std::string_view band = outermost(row).name;
        const bool lower = outermost(row).top >= 4920;
        if (row.name == "Frame9") {
            // Only the top of its border shows: 60 twips.
            QVERIFY(r.top() < f->height());
            QCOMPARE(f->height() - r.top(), twipsToPixels(60));
        } else if (lower || band == "Frame9") {
            QVERIFY2(r.top() >= f->height(), row.name.data());
        } else {
            QVERIFY2(r.bottom() < f->height(), row.name.data());
        }
    }
}

void TestLayout::armedHeightShowsTheDataBandAndTheTopOfFrame14() {
    FormOnPty f;
    f->setClientHeight(ArmedHeight.client);
    const QRect frame14 = inForm(*f, f->control("Frame14"));
    QVERIFY(frame14.top() < f->height());
    QCOMPARE(f->height() - frame14.top(), twipsToPixels(6830 - 6735));
    QVERIFY(inForm(*f, f->control("Command36")).top() >= f->height());
    QVERIFY(inForm(*f, f->control("Frame15")).top() >= f->height());
    for (const char *name : {"Frame9", "Command34", "Command44", "Command45", "Command46", "Command47", "Command54"})
        QVERIFY2(inForm(*f, f->control(name)).bottom() < f->height(), name);
}

void TestLayout::fullHeightShowsEverything() {
    FormOnPty f;
    f->setClientHeight(FullHeight.client);
    for (const ControlSpec &row : kControls)
        QVERIFY2(inForm(*f, f->control(row.name)).bottom() < f->height(), row.name.data());
}

void TestLayout::tabOrderFollowsTheTabIndex() {
    FormOnPty f;
    std::vector<std::pair<int, QWidget *>> expected;
    for (const ControlSpec &row : kControls)
        if (row.kind == Kind::Button || row.kind == Kind::Option || row.kind == Kind::TextBox)
            expected.emplace_back(row.tab, f->control(row.name));
    std::ranges::sort(expected);
    QCOMPARE(expected.front().second->objectName(), QStringLiteral("Command17"));
    QCOMPARE(f->focusWidget(), expected.front().second);
    // Hidden and out-of-sight controls keep their place in the chain.
    QWidget *w = expected.front().second;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        QCOMPARE(w->objectName(), expected[i].second->objectName());
    }
}

void TestLayout::optionPairsAreSeparateGroups() {
    FormOnPty f(false);
    auto *option2 = qobject_cast<QRadioButton *>(f->control("Option2"));
    auto *option9 = qobject_cast<QRadioButton *>(f->control("Option9"));
    auto *option10 = qobject_cast<QRadioButton *>(f->control("Option10"));
    f->Option1->setChecked(true);
    QVERIFY(option9->isChecked());
    option2->setChecked(true);
    QVERIFY(!f->Option1->isChecked());
    QVERIFY(option9->isChecked());
    option10->setChecked(true);
    QVERIFY(!option9->isChecked());
    QVERIFY(option2->isChecked());
}

void TestLayout::labelsLieBeneathAndThePortPanelAbove() {
    FormOnPty f;
    for (const ControlSpec &container : kControls) {
        if (container.kind != Kind::Frame && &container != &kControls.front())
            continue;
        // Within one container, every label and the logo come before (beneath)
        // every windowed control.
        for (QWidget *parent : {static_cast<QWidget *>(f.form.get()), f->control(container.name)}) {
            int lastStatic = -1;
            int firstWindowed = INT_MAX;
            const QObjectList children = parent->children();
            for (int i = 0; i < children.size(); ++i) {
                const ControlSpec *row = findControl(children[i]->objectName().toStdString());
                if (!row)
                    continue;
                if (row->kind == Kind::Label || row->kind == Kind::Image)
                    lastStatic = std::max(lastStatic, i);
                else
                    firstWindowed = std::min(firstWindowed, i);
            }
            QVERIFY2(lastStatic < firstWindowed, qPrintable(parent->objectName()));
        }
    }
    // The port panel, once shown, covers the COM button: a click there lands on the panel.
    f->show();
    f->Command33_Click();
    QWidget *com = f->control("Command33");
    QWidget *hit = f->childAt(com->mapTo(f.form.get(), com->rect().center()));
    QVERIFY(hit == f->Frame8 || f->Frame8->isAncestorOf(hit));
    QVERIFY(inForm(*f, f->Frame8).contains(inForm(*f, com)));
}

// A button's caption lives in the layout only: every row of the command
// tables must name a button there.
void TestLayout::commandTablesNameButtonsOfTheLayout() {
    for (const OneShotButton &button : kOneShotButtons) {
        const ControlSpec *row = findControl(button.control);
        QVERIFY2(row && row->kind == Kind::Button, button.control.data());
    }
    for (const HoldButton &button : kHoldButtons) {
        const ControlSpec *row = findControl(button.control);
        QVERIFY2(row && row->kind == Kind::Button, button.control.data());
    }
}

void TestLayout::japaneseCaptionsHaveGlyphs() {
    FormOnPty f;
    for (const char *caption : {"データを表示する", "データを表示しない"}) {
        const QFontMetrics metrics(f->Command34->font());
        for (char32_t c : QString::fromUtf8(caption).toUcs4())
            QVERIFY2(metrics.inFontUcs4(c), caption);
    }
    // The Gothic faces are mapped to real Japanese faces, monospaced and proportional.
    const QFontInfo gothic(fontFor({Face::Gothic, 9, false}));
    const QFontInfo pGothic(fontFor({Face::PGothic, 9, false}));
    QCOMPARE(gothic.family(), QStringLiteral("IPAGothic"));
    QCOMPARE(pGothic.family(), QStringLiteral("IPAPGothic"));
    const QFontMetrics gothicMetrics(fontFor({Face::Gothic, 9, false}));
    QCOMPARE(gothicMetrics.horizontalAdvance(u'i'), gothicMetrics.horizontalAdvance(u'W'));
    QCOMPARE(QFontInfo(f->font()).pixelSize(), 12);  // 9 pt at 96 dpi
}

void TestLayout::logoIsTheBitmapAtItsNaturalSize() {
    FormOnPty f;
    const QImage logo = f->Image1->pixmap().toImage();
    QCOMPARE(logo.size(), QSize(80, 26));
    QCOMPARE(f->Image1->size(), QSize(80, 26));
    QCOMPARE(f->Image1->pos(), QPoint(544, 8));
    QCOMPARE(logo.pixelColor(0, 0), QColor(0xB4, 0xB4, 0xB4));
    QCOMPARE(logo.pixelColor(79, 25), QColor(0xB4, 0xB4, 0xB4));
    int red = 0;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            red += logo.pixelColor(x, y) == QColor(0xFF, 0, 0);
    QVERIFY(red > 50);
}

void TestLayout::labelsNeverInterpretMarkup() {
    FormOnPty f;
    for (QLabel *label : f->findChildren<QLabel *>())
        if (label != f->Image1)
            QCOMPARE(label->textFormat(), Qt::PlainText);
    // What the line brings is drawn as the characters themselves.
    f->Label12->setText(QStringLiteral("<b>x</b>"));
    QCOMPARE(f->Label12->text(), QStringLiteral("<b>x</b>"));
}

void TestLayout::rendersFourPictures() {
    // As on a screen of ordinary density, and at 200 %: twice the pixels.
    for (const int percent : {100, 200}) {
        QTemporaryDir dir;
        QProcess render;
        QStringList arguments{dir.path()};
        if (percent != 100)
            arguments << QStringLiteral("--scale") << QString::number(percent / 100.0);
        render.start(QStringLiteral(MV70_RENDER_TOOL), arguments);
        QVERIFY(render.waitForFinished(60000));
        QCOMPARE(render.exitCode(), 0);
        const std::pair<const char *, int> pictures[] = {
            {"window-compact", 332}, {"window-dataview", 418}, {"window-armed", 455}, {"window-full", 582}};
        const QString suffix = percent == 100 ? QString() : QStringLiteral("-%1").arg(percent);
        for (const auto &[name, height] : pictures) {
            const QImage image(dir.filePath(QString::fromLatin1(name) + suffix + QStringLiteral(".png")));
            QCOMPARE(image.size(), QSize(633, height) * percent / 100);
        }
    }
}

// Where a caption's pixels fall on its button, in device pixels: the
// difference between the button drawn with and without it.
QRect inkOf(QAbstractButton *button, const QString &caption) {
    const QString kept = button->text();
    button->setText(QString());
    const QImage bare = button->grab().toImage();
    button->setText(caption);
    const QImage shown = button->grab().toImage();
    button->setText(kept);
    QRect ink;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != bare.pixel(x, y))
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// Every caption inside its control, nothing cut off or drawn over a border,
// at the screen scale this runs at: ctest runs it at 100 %, and again at
// 150 % and 200 % (QT_SCALE_FACTOR).
void TestLayout::captionsFitTheirControls() {
    FormOnPty f;
    f->setClientHeight(FullHeight.client);
    const qreal dpr = f->devicePixelRatioF();
    const int border = qCeil(dpr);  // the button's frame
    for (const ControlSpec &row : kControls) {
        QWidget *widget = f->control(row.name);
        const QString caption = QString::fromUtf8(row.caption);
        if (caption.isEmpty())
            continue;
        const QFontMetrics metrics = widget->fontMetrics();
        switch (row.kind) {
        case Kind::Button: {
            QStringList captions{caption};
            if (row.name == "Command34")
                captions << QStringLiteral("データを表示しない") << QStringLiteral("CLOSE");
            for (const QString &shown : captions) {
                const QRect ink = inkOf(qobject_cast<QAbstractButton *>(widget), shown);
                const QRect inside =
                    QRect(QPoint(0, 0), widget->size() * dpr).adjusted(border, border, -border, -border);
                QVERIFY2(!ink.isEmpty() && inside.contains(ink),
                         qPrintable(QStringLiteral("%1 \"%2\": ink %3,%4 %5x%6 in %7x%8 at %9x")
                                        .arg(QString::fromUtf8(row.name.data()), shown)
                                        .arg(ink.x())
                                        .arg(ink.y())
                                        .arg(ink.width())
                                        .arg(ink.height())
                                        .arg(widget->width() * dpr)
                                        .arg(widget->height() * dpr)
                                        .arg(dpr)));
            }
            break;
        }
        case Kind::Label:
            QVERIFY2(metrics.horizontalAdvance(caption) <= widget->width(), row.name.data());
            QVERIFY2(metrics.height() <= widget->height(), row.name.data());
            break;
        case Kind::Option:
            QVERIFY2(widget->sizeHint().width() <= widget->width(), row.name.data());
            QVERIFY2(metrics.height() <= widget->height(), row.name.data());
            break;
        default:
            break;
        }
    }
}

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
