// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

namespace bench {

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runUntil(const std::function<bool()> &done, int timeoutMs) {
    const std::int64_t deadline = nowNs() + std::int64_t{timeoutMs} * 1'000'000;
    while (!done()) {
        if (nowNs() > deadline)
            return false;
        runFor(1);
    }
    return true;
}

Panel::Panel() : FormOnPorts(com1.path(), {}, false) {
    form->showWarning = [](const QString &description) { qWarning("warning box: %s", qPrintable(description)); };
    form->Form_Load();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qFatal("the window was never exposed");
    runFor(200);  // let the first frames settle
}

QPoint Panel::centreOf(const char *name) const {
    QWidget *w = control(name);
    return w->mapTo(form.get(), w->rect().center());
}

void Panel::press(const char *name) { QTest::mousePress(window(), Qt::LeftButton, {}, centreOf(name)); }

void Panel::release(const char *name) { QTest::mouseRelease(window(), Qt::LeftButton, {}, centreOf(name)); }

void Panel::click(const char *name) {
    press(name);
    release(name);
}

void Panel::openDataBand() {
    QTest::keyClick(window(), Qt::Key_J, Qt::ControlModifier);
    runFor(100);
}

std::vector<Panel::Command> Panel::commandsFrom(std::size_t from) const {
    std::vector<Command> commands;
    Command current{{}, 0, 0};
    for (std::size_t i = from; i < com1.received(); ++i) {
        if (current.bytes.isEmpty())
            current.firstNs = com1.stamp(i);
        current.bytes += com1.byte(i);
        if (com1.byte(i) == '\r') {
            current.lastNs = com1.stamp(i);
            commands.push_back(current);
            current = {{}, 0, 0};
        }
    }
    return commands;
}

}  // namespace bench
