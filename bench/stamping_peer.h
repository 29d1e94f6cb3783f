// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The projector's end of a pseudo-terminal, run on a thread of its own so
// that the panel's GUI thread is what gets measured. Every byte that arrives
// is stamped on CLOCK_MONOTONIC the moment read() hands it over. The peer
// can also answer each command after a delay, or send a steady stream at a
// given line speed.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pty/raw_pty.h"

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: one clock for every process on the machine.
std::int64_t nowNs();

class StampingPeer {
public:
    explicit StampingPeer(std::size_t capacity = 1 << 22);
    ~StampingPeer();
    StampingPeer(const StampingPeer &) = delete;
    StampingPeer &operator=(const StampingPeer &) = delete;

    // The device the panel opens.
    QString path() const { return path_; }

    // Bytes received so far. Byte i and its stamp may be read for every i
    // below received(); the peer never moves them.
    std::size_t received() const { return received_.load(std::memory_order_acquire); }
    char byte(std::size_t i) const { return bytes_[i]; }
    std::int64_t stamp(std::size_t i) const { return stamps_[i]; }

    // Answer every command (bytes up to a carriage return) with `reply`,
    // `delayNs` after its carriage return came in. An empty reply answers
    // nothing. Replies written are counted by repliesWritten(); the stamp
    // taken just before the write of reply i is replyStamp(i).
    void answerCommands(const QByteArray &reply, std::int64_t delayNs);
    // Like answerCommands, but the replies take turns from the list.
    void answerCommandsInTurn(const std::vector<QByteArray> &replies, std::int64_t delayNs);
    std::size_t repliesWritten() const { return replies_.load(std::memory_order_acquire); }
    std::int64_t replyStamp(std::size_t i) const { return replyStamps_[i]; }

    // Sends `pattern` over and over, one byte at a time, at the pace of a
    // line of `bitsPerSecond` with ten bits per byte (8N1), until stopped.
    void startStream(const QByteArray &pattern, int bitsPerSecond);
    void stopStream();
    std::size_t streamed() const { return streamed_.load(std::memory_order_acquire); }

    // CPU time the peer's thread has used, in nanoseconds.
    std::int64_t cpuNs() const;
    // Whether the peer's thread runs at a real-time priority.
    bool realtime() const { return realtime_; }

private:
    void run();
    void wake();

    QString path_;
    mv70::pty::RawPty pty_;
    int wakeFd_ = -1;  // eventfd: configuration changed or stop

    // Allocated whole but left untouched until used, so that the peer adds
    // to the resident size of the process only what it has received.
    std::size_t capacity_;
    std::unique_ptr<char[]> bytes_;
    std::unique_ptr<std::int64_t[]> stamps_;
    std::atomic<std::size_t> received_{0};

    std::mutex configMutex_;  // guards the configuration below
    std::vector<QByteArray> replyTurns_;
    std::int64_t replyDelayNs_ = 0;
    QByteArray streamPattern_;
    std::int64_t streamByteNs_ = 0;  // 0: no stream
    std::uint64_t configGeneration_ = 0;

    static constexpr std::size_t kReplyCapacity = 1 << 16;
    std::unique_ptr<std::int64_t[]> replyStamps_;
    std::atomic<std::size_t> replies_{0};
    std::atomic<std::size_t> streamed_{0};

    bool realtime_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bench
