// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The far end of a real pseudo-terminal: the program opens the device path,
// the test reads and writes the other side.

#include <QByteArray>
#include <QString>

#include "pty/raw_pty.h"

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    // The device the program opens.
    QString path() const { return path_; }

    // Reads until `count` bytes have come or the (generous) time is up.
    QByteArray read(qsizetype count, int timeoutMs = 5000);
    // Reads up to and including `marker`; everything before it is returned
    // too. A command the test sends last serves as the marker that proves
    // nothing else was sent before it.
    QByteArray readUntil(const QByteArray &marker, int timeoutMs = 5000);
    // Whatever the program has written so far; does not wait.
    QByteArray readAvailable();
    void write(const QByteArray &bytes);
    // The line speed the program set, in bit/s (0 if unknown).
    int baudRate() const;
    // Closes the far end: the program's side hangs up, and the device's
    // name is gone for as long as this peer lives.
    void hangUp();

private:
    mv70::pty::RawPty pty_;
    QString path_;
    int held_ = -1;  // the hung-up slave, which keeps its number from the next pseudo-terminal
};
