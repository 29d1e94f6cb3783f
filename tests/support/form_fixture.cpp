// SPDX-License-Identifier: GPL-3.0-or-later
#include "form_fixture.h"

FormOnPorts::FormOnPorts(const QString &com1, const QString &com2, bool load) {
    if (!com1.isEmpty())
        qputenv("MV70_COM1", com1.toLocal8Bit());
    if (!com2.isEmpty())
        qputenv("MV70_COM2", com2.toLocal8Bit());
    form = std::make_unique<mv70::Form1>();
    form->showWarning = [this](const QString &description) { warnings << description; };
    if (load)
        form->Form_Load();
}

FormOnPorts::~FormOnPorts() {
    form.reset();
    qunsetenv("MV70_COM1");
    qunsetenv("MV70_COM2");
}
