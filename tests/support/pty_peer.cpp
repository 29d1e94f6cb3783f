#include "pty_peer.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    termios raw{};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

QByteArray PtyPeer::read(qsizetype count, int timeoutMs) {
    QByteArray bytes;
    const QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
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
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    return bytes;
}

void PtyPeer::write(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
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
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
}

int PtyPeer::baudRate() const {
    termios attributes{};
    if (slave_ < 0 || tcgetattr(slave_, &attributes) != 0)
        return 0;
    switch (cfgetospeed(&attributes)) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    default: return 0;
    }
}
