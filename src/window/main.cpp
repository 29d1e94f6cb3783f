// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-control: the operator's panel for the MV70 projector on a serial line.

#include <QApplication>
#include <QStyleFactory>

#include "window/command_line.h"
#include "window/form1.h"
#include "window/outside_end.h"

int main(int argc, char *argv[]) {
    QApplication::setApplicationName(QStringLiteral("mv70-control"));
    QApplication::setApplicationVersion(QStringLiteral(MV70_VERSION));
    if (const std::optional<int> exitCode = mv70::answerCommandLine(argc, argv))
        return *exitCode;  // --help, --version, --list-ports: no window
    QApplication app(argc, argv);
    mv70::applyCommandLine(app);
    // The buttons are painted in their own colours; Fusion honours them on
    // every platform.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    mv70::Form1 form;
    QObject::connect(&form, &mv70::Form1::ended, &app, &QCoreApplication::quit);
    mv70::endFromOutside(form);  // signals, the window destroyed by another client
    form.Form_Load();
    form.show();
    const int exitCode = QApplication::exec();
    form.closeExchangeLog();
    return exitCode;
}
