// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-render: draws the window to PNG files at its four heights, without a
// display (run it on Qt's offscreen platform).
//   mv70-render [--scale FACTOR] [DIR]
// At a scale other than 1 (1.5 for 150 %, 2 for 200 %) the window is drawn as
// on a screen of that density and the file names say the scale:
// window-full-200.png.

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "window/form1.h"
#include "window/layout.h"

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scale must be known before the application starts.
    double scale = 1;
    const char *dirArgument = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
            scale = std::atof(argv[++i]);
            if (!(scale >= 0.5 && scale <= 4)) {
                std::fprintf(stderr, "mv70-render: --scale takes a factor from 0.5 to 4\n");
                return 2;
            }
        } else {
            dirArgument = argv[i];
        }
    }
    if (scale != 1)
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QDir dir(dirArgument ? QString::fromLocal8Bit(dirArgument) : QStringLiteral("."));
    const QString suffix = scale != 1 ? QStringLiteral("-%1").arg(qRound(scale * 100)) : QString();
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    mv70::Form1 form;
    form.showWarning = [](const QString &) {};  // no port here is no matter for a picture
    form.Form_Load();
    form.show();
    QApplication::processEvents();

    QTextStream out(stdout);
    const auto save = [&](const char *name) {
        QApplication::processEvents();
        const QString path = dir.filePath(QString::fromLatin1(name) + suffix + QStringLiteral(".png"));
        if (!form.grab().save(path))
            return false;
        out << path << '\n';
        return true;
    };
    bool ok = save("window-compact");
    form.Command34->setVisible(true);
    form.Command34_Click();  // the data view
    ok = ok && save("window-dataview");
    form.Form_KeyDown(Qt::Key_J, mv70::Form1::kCtrlMask);  // armed
    ok = ok && save("window-armed");
    form.Image1_DblClick();  // full
    ok = ok && save("window-full");
    return ok ? 0 : 1;
}
