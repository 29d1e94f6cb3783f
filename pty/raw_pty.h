// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Raw pseudo-terminals, for everything that plays the far end of a serial
// line on this machine: the simulator, the tests' peers and the
// benchmark's. No Qt: the simulator and the benchmark's peer thread use it
// as well as the tests.

#include <string>

#include <termios.h>

namespace mv70::pty {

// The termios speed of a rate in bit/s (9600, 19200 or 38400), or B0.
speed_t speedOf(int bitsPerSecond);
// The rate in bit/s of a termios speed, or 0 for any other.
int bitsPerSecondOf(speed_t speed);

// Sets the terminal at `fd` raw (8 bits, no echo, no line editing, no CR
// to LF) and, unless `bitsPerSecond` is 0, to that speed. False, with errno
// set, when it cannot.
bool makeRaw(int fd, int bitsPerSecond = 0);

// Opens a terminal device as a serial program does: read and write, not as
// the controlling terminal, non-blocking, raw at `bitsPerSecond`. The file
// descriptor, or -1 with errno set.
int openRawDevice(const std::string &path, int bitsPerSecond);

// A pseudo-terminal pair. The master is the far end of the line (raw and
// non-blocking); the slave's device path is what the program opens. The
// slave is held open too, so that the line stays up between the program's
// openings and its speed can be read.
class RawPty {
public:
    RawPty() = default;
    ~RawPty();
    RawPty(RawPty &&other) noexcept;
    RawPty &operator=(RawPty &&other) noexcept;
    RawPty(const RawPty &) = delete;
    RawPty &operator=(const RawPty &) = delete;

    // Opens a fresh pair in place of any open one. False, with errno set
    // and nothing open, when it cannot.
    [[nodiscard]] bool open();
    // Closes both ends: the program's side hangs up.
    void close();

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string &path() const { return path_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace mv70::pty
