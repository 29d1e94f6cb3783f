// SPDX-License-Identifier: GPL-3.0-or-later
// mv70-second-copy: starts the window as the program does, in a process of
// its own, and prints what the operator would be told. Exits 1 when a
// warning was shown, 0 when the port opened without one.

#include <QApplication>
#include <QDeadlineTimer>

#include <cstdio>

#include "window/form1.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    mv70::Form1 form;
    bool warned = false;
    form.showWarning = [&warned](const QString &description) {
        std::printf("warning: %s\n", qPrintable(description));
        warned = true;
    };
    form.Form_Load();
    // The start-up warning comes once the window is up and the failure's
    // facts are in.
    const QDeadlineTimer deadline(30000);
    do
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    while (!warned && !form.MSComm1.PortOpen() && !deadline.hasExpired());
    std::printf("port %s\n", form.MSComm1.PortOpen() ? "open" : "closed");
    return warned ? 1 : 0;
}
