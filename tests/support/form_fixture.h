#pragma once
// A started window whose COM1 and COM2 are real pseudo-terminals, with the
// warning box answered by the test.

#include <QStringList>
#include <QtTest>

#include <memory>

#include "pty_peer.h"
#include "window/form1.h"

struct FormOnPty {
    PtyPeer com1;
    PtyPeer com2;
    std::unique_ptr<mv70::Form1> form;
    QStringList warnings;

    explicit FormOnPty(bool load = true) {
        qputenv("MV70_COM1", com1.path().toLocal8Bit());
        qputenv("MV70_COM2", com2.path().toLocal8Bit());
        form = std::make_unique<mv70::Form1>();
        form->showWarning = [this](const QString &description) { warnings << description; };
        if (load)
            form->Form_Load();
    }
    ~FormOnPty() {
        form.reset();
        qunsetenv("MV70_COM1");
        qunsetenv("MV70_COM2");
    }
    mv70::Form1 &operator*() { return *form; }
    mv70::Form1 *operator->() { return form.get(); }

    // A command sent last, to prove what went before it.
    QByteArray sendMarkerAndRead(PtyPeer &peer) {
        form->LastCommand = QStringLiteral("MARK\r");
        if (!form->Hyouji(form->LastCommand, mv70::kTransmit))
            return "<marker not sent>";
        return peer.readUntil("MARK\r");
    }
};

// Where a test points a port that does not exist.
inline QByteArray missingDevice() { return "/nonexistent/mv70-no-such-tty"; }
