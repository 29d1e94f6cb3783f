// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A started window whose COM1 and COM2 are real pseudo-terminals, with the
// warning box answered by the test.

#include <QStringList>
#include <QtTest>

#include <memory>

#include "pty_peer.h"
#include "window/form1.h"

// The window started as the program starts it, its ports pointed at the
// given devices through the environment as an operator points them (an
// empty path leaves that port's default). Warnings are collected instead of
// shown. The benchmark starts its window with this too, on its own peer.
struct FormOnPorts {
    std::unique_ptr<mv70::Form1> form;
    QStringList warnings;

    FormOnPorts(const QString &com1, const QString &com2, bool load = true);
    ~FormOnPorts();
    FormOnPorts(const FormOnPorts &) = delete;
    FormOnPorts &operator=(const FormOnPorts &) = delete;

    mv70::Form1 &operator*() { return *form; }
    mv70::Form1 *operator->() { return form.get(); }
};

// The two peers come first, so that they are open before the window starts
// and still open when it has gone.
struct PtyPeerPair {
    PtyPeer com1;
    PtyPeer com2;
};

struct FormOnPty : PtyPeerPair, FormOnPorts {
    explicit FormOnPty(bool load = true) : FormOnPorts(com1.path(), com2.path(), load) {}

    // A command sent last, to prove what went before it.
    QByteArray sendMarkerAndRead(PtyPeer &peer) {
        form->setLastCommand(QStringLiteral("MARK\r"));
        if (!form->Hyouji(form->LastCommand(), mv70::kTransmit))
            return "<marker not sent>";
        return peer.readUntil("MARK\r");
    }
};

// Where a test points a port that does not exist.
inline QByteArray missingDevice() { return "/nonexistent/mv70-no-such-tty"; }
