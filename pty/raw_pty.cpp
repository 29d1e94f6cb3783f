// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty/raw_pty.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace mv70::pty {

speed_t speedOf(int bitsPerSecond) {
    switch (bitsPerSecond) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    default:
        return B0;
    }
}

int bitsPerSecondOf(speed_t speed) {
    switch (speed) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    default:
        return 0;
    }
}

bool makeRaw(int fd, int bitsPerSecond) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0)
        return false;
    cfmakeraw(&attributes);
    if (bitsPerSecond != 0 && cfsetspeed(&attributes, speedOf(bitsPerSecond)) != 0)
        return false;
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

int openRawDevice(const std::string &path, int bitsPerSecond) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (!makeRaw(fd, bitsPerSecond)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

RawPty::~RawPty() { close(); }

RawPty::RawPty(RawPty &&other) noexcept
    : master_(std::exchange(other.master_, -1)), slave_(std::exchange(other.slave_, -1)),
      path_(std::move(other.path_)) {}

RawPty &RawPty::operator=(RawPty &&other) noexcept {
    if (this != &other) {
        close();
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool RawPty::open() {
    close();
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return false;
    }
    const int flags = fcntl(master_, F_GETFL);
    if (!makeRaw(master_) || flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    path_ = name;
    return true;
}

void RawPty::close() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

}  // namespace mv70::pty
