// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_peer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer() {
    if (!pty_.open())
        qFatal("openpty failed: %s", strerror(errno));
    path_ = QString::fromStdString(pty_.path());
}

PtyPeer::~PtyPeer() {
    if (held_ >= 0)
        ::close(held_);
}

QByteArray PtyPeer::read(qsizetype count, int timeoutMs) {
    QByteArray bytes;
    const QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        pollfd fd{pty_.master(), POLLIN, 0};
        if (::poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
            if (n > 0)
                bytes.append(buffer, n);
        }
        // The program writes from the event loop too; let it run.
        QCoreApplication::processEvents();
    }
    return bytes;
}

QByteArray PtyPeer::readUntil(const QByteArray &marker, int timeoutMs) {
    QByteArray bytes;
    const QDeadlineTimer deadline(timeoutMs);
    while (!bytes.endsWith(marker) && !deadline.hasExpired())
        bytes += read(1, static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    return bytes;
}

QByteArray PtyPeer::readAvailable() {
    QByteArray bytes;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pty_.master(), buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    return bytes;
}

void PtyPeer::write(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(pty_.master(), bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (errno == EAGAIN) {
            QCoreApplication::processEvents();  // let the program read
        } else {
            qFatal("write to pty failed: %s", strerror(errno));
        }
    }
}

void PtyPeer::hangUp() {
    // Closing both ends frees the number, and the next pseudo-terminal
    // opened on this machine (by a test running alongside) may get it: the
    // name would be back at once, another's device behind it. A slave
    // still open holds the number; its node goes with the master all the same.
    if (held_ < 0 && pty_.slave() >= 0)
        held_ = ::fcntl(pty_.slave(), F_DUPFD_CLOEXEC, 0);
    pty_.close();
}

int PtyPeer::baudRate() const {
    termios attributes{};
    if (pty_.slave() < 0 || tcgetattr(pty_.slave(), &attributes) != 0)
        return 0;
    return mv70::pty::bitsPerSecondOf(cfgetospeed(&attributes));
}
