// mv70-render: draws the window to PNG files at its four heights, without a
// display (run it on Qt's offscreen platform). Usage: mv70-render [DIR]

#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTextStream>

#include "window/form1.h"
#include "window/layout.h"

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
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
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (!form.grab().save(path))
            return false;
        out << path << '\n';
        return true;
    };
    bool ok = save("window-compact.png");
    form.Command34->setVisible(true);
    form.Command34_Click();  // the data view
    ok = ok && save("window-dataview.png");
    form.Form_KeyDown(Qt::Key_J, mv70::Form1::kCtrlMask);  // armed
    ok = ok && save("window-armed.png");
    form.Image1_DblClick();  // full
    ok = ok && save("window-full.png");
    return ok ? 0 : 1;
}
