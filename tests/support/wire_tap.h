// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A wire tap between a program and a projector on a pseudo-terminal: the
// program opens the tap's device, the tap opens the projector's and passes
// every byte both ways, on the event loop. On the way it notes each command
// (the bytes up to a carriage return) with when it went out, and counts a
// command that went out while the reply to the one before was still
// awaited: two commands in one reply window. `silent` drops the replies,
// as a projector that no longer answers.

#include <QElapsedTimer>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>
#include <unistd.h>

#include "pty/raw_pty.h"

class WireTap {
public:
    struct Command {
        QByteArray text;  // without the carriage return
        qint64 ms;        // since the tap began
        qint64 ns;        // the same, finer
    };

    WireTap(const QString &projectorDevice, int bitsPerSecond = 19200) {
        clock_.start();
        if (!program_.open())
            return;
        projector_ = mv70::pty::openRawDevice(projectorDevice.toStdString(), bitsPerSecond);
        if (projector_ < 0)
            return;
        fromProgram_ = std::make_unique<QSocketNotifier>(program_.master(), QSocketNotifier::Read);
        fromProjector_ = std::make_unique<QSocketNotifier>(projector_, QSocketNotifier::Read);
        QObject::connect(fromProgram_.get(), &QSocketNotifier::activated, [this] { passCommands(); });
        QObject::connect(fromProjector_.get(), &QSocketNotifier::activated, [this] { passReplies(); });
    }
    ~WireTap() {
        fromProgram_.reset();
        fromProjector_.reset();
        if (projector_ >= 0)
            ::close(projector_);
    }
    WireTap(const WireTap &) = delete;
    WireTap &operator=(const WireTap &) = delete;

    // The device for the program; empty when the tap could not be made.
    QString path() const { return projector_ >= 0 ? QString::fromStdString(program_.path()) : QString(); }

    const QList<Command> &commands() const { return commands_; }
    int count(const QByteArray &command) const {
        return int(
            std::count_if(commands_.begin(), commands_.end(), [&](const Command &c) { return c.text == command; }));
    }
    // Commands that went out while a reply was awaited.
    int overlaps() const { return overlaps_; }
    void setSilent(bool silent) { silent_ = silent; }
    // Replies reach the program `ms` late; while held, none does, then all at once.
    void setReplyDelay(int ms) { delayMs_ = ms; }
    void hold(bool held) { held_ = held, release(); }
    // The tap's clock, on which commands are stamped.
    qint64 sinceStartNs() const { return clock_.nsecsElapsed(); }

private:
    static QByteArray readAll(int fd) {
        QByteArray bytes;
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, got);
        return bytes;
    }

    void passCommands() {
        const QByteArray bytes = readAll(program_.master());
        [[maybe_unused]] const ssize_t written = ::write(projector_, bytes.constData(), size_t(bytes.size()));
        for (const char c : bytes) {
            if (c != '\r') {
                partial_ += c;
                continue;
            }
            if (awaiting_)
                ++overlaps_;
            awaiting_ = true;
            const qint64 ns = clock_.nsecsElapsed();
            commands_.append({partial_, ns / 1000000, ns});
            partial_.clear();
        }
    }

    void passReplies() {
        const QByteArray bytes = readAll(projector_);
        if (silent_) {
            awaiting_ = false;  // nothing will come for what is waiting
            return;
        }
        due_.append({clock_.elapsed() + delayMs_, bytes});
        release();
    }

    // The replies whose time has come, in one write.
    void release() {
        QByteArray bytes;
        while (!held_ && !due_.isEmpty() && due_.first().first <= clock_.elapsed())
            bytes += due_.takeFirst().second;
        [[maybe_unused]] const ssize_t written = ::write(program_.master(), bytes.constData(), size_t(bytes.size()));
        if (bytes.contains('\r') || bytes.contains('\x06'))
            awaiting_ = false;
        if (!held_ && !due_.isEmpty())
            QTimer::singleShot(int(due_.first().first - clock_.elapsed()), fromProjector_.get(), [this] { release(); });
    }

    QElapsedTimer clock_;
    mv70::pty::RawPty program_;
    int projector_ = -1;
    std::unique_ptr<QSocketNotifier> fromProgram_, fromProjector_;
    QList<Command> commands_;
    QByteArray partial_;
    bool awaiting_ = false;
    bool silent_ = false;
    int overlaps_ = 0;
    int delayMs_ = 0;
    bool held_ = false;
    QList<std::pair<qint64, QByteArray>> due_;  // replies not yet passed on, and when they go
};
