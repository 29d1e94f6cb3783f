// SPDX-License-Identifier: GPL-3.0-or-later
#include "stamping_peer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <QtGlobal>

namespace bench {

std::int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

StampingPeer::StampingPeer(std::size_t capacity)
    : capacity_(capacity), bytes_(new char[capacity]), stamps_(new std::int64_t[capacity]),
      replyStamps_(new std::int64_t[kReplyCapacity]) {
    if (!pty_.open())
        qFatal("openpty failed: %s", strerror(errno));
    path_ = QString::fromStdString(pty_.path());
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        qFatal("eventfd failed: %s", strerror(errno));
    thread_ = std::thread([this] { run(); });
    // The instrument should not wait for a processor behind other work: a
    // real-time priority, where the system grants it, keeps the stamps close
    // to the moment the bytes arrive. The panel's thread keeps its ordinary one.
    sched_param param{};
    param.sched_priority = 1;
    realtime_ = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &param) == 0;
}

StampingPeer::~StampingPeer() {
    stop_.store(true);
    wake();
    thread_.join();
    ::close(wakeFd_);
}

void StampingPeer::wake() {
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void StampingPeer::answerCommands(const QByteArray &reply, std::int64_t delayNs) {
    answerCommandsInTurn(reply.isEmpty() ? std::vector<QByteArray>{} : std::vector<QByteArray>{reply}, delayNs);
}

void StampingPeer::answerCommandsInTurn(const std::vector<QByteArray> &replies, std::int64_t delayNs) {
    {
        const std::lock_guard lock(configMutex_);
        replyTurns_ = replies;
        replyDelayNs_ = delayNs;
        ++configGeneration_;
    }
    wake();
}

void StampingPeer::startStream(const QByteArray &pattern, int bitsPerSecond) {
    {
        const std::lock_guard lock(configMutex_);
        streamPattern_ = pattern;
        streamByteNs_ = std::int64_t{10} * 1'000'000'000 / bitsPerSecond;
        ++configGeneration_;
    }
    wake();
}

void StampingPeer::stopStream() {
    {
        const std::lock_guard lock(configMutex_);
        streamByteNs_ = 0;
        ++configGeneration_;
    }
    wake();
}

std::int64_t StampingPeer::cpuNs() const {
    clockid_t clock{};
    if (pthread_getcpuclockid(const_cast<std::thread &>(thread_).native_handle(), &clock) != 0)
        return 0;
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

void StampingPeer::run() {
    std::uint64_t seenGeneration = ~std::uint64_t{0};
    std::vector<QByteArray> replies;
    std::int64_t replyDelay = 0;
    std::size_t replyTurn = 0;
    std::deque<std::int64_t> replyDue;  // when each pending reply is to be written
    QByteArray pattern;
    std::int64_t byteNs = 0;
    std::int64_t nextByte = 0;
    qsizetype patternPos = 0;
    constexpr std::int64_t kForever = INT64_MAX;

    while (!stop_.load()) {
        {
            const std::lock_guard lock(configMutex_);
            if (configGeneration_ != seenGeneration) {
                seenGeneration = configGeneration_;
                replies = replyTurns_;
                replyDelay = replyDelayNs_;
                if (replies.empty())
                    replyDue.clear();
                if (streamByteNs_ != 0 && byteNs == 0) {
                    pattern = streamPattern_;
                    patternPos = 0;
                    nextByte = nowNs();
                }
                byteNs = streamByteNs_;
            }
        }

        const std::int64_t due =
            std::min(replyDue.empty() ? kForever : replyDue.front(), byteNs != 0 ? nextByte : kForever);
        pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (due == kForever) {
            ::ppoll(fds, 2, nullptr, nullptr);
        } else {
            const std::int64_t wait = std::max<std::int64_t>(0, due - nowNs());
            const timespec timeout{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
            ::ppoll(fds, 2, &timeout, nullptr);
        }

        if (fds[0].revents & POLLIN) {
            char chunk[4096];
            const ssize_t n = ::read(pty_.master(), chunk, sizeof chunk);
            const std::int64_t at = nowNs();
            if (n > 0) {
                std::size_t count = received_.load(std::memory_order_relaxed);
                for (ssize_t i = 0; i < n && count < capacity_; ++i, ++count) {
                    bytes_[count] = chunk[i];
                    stamps_[count] = at;
                    if (chunk[i] == '\r' && !replies.empty())
                        replyDue.push_back(at + replyDelay);
                }
                received_.store(count, std::memory_order_release);
            }
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t value = 0;
            (void)!::read(wakeFd_, &value, sizeof value);
        }

        std::int64_t now = nowNs();
        while (!replyDue.empty() && replyDue.front() <= now && !replies.empty()) {
            replyDue.pop_front();
            const QByteArray &reply = replies[replyTurn++ % replies.size()];
            const std::size_t index = replies_.load(std::memory_order_relaxed);
            if (index < kReplyCapacity)
                replyStamps_[index] = nowNs();
            (void)!::write(pty_.master(), reply.constData(), static_cast<size_t>(reply.size()));
            if (index < kReplyCapacity)
                replies_.store(index + 1, std::memory_order_release);
            now = nowNs();
        }

        if (byteNs != 0 && nextByte <= now && !pattern.isEmpty()) {
            // Every byte whose time has come goes out; when the thread was
            // held up, the late ones go together, as from a UART's FIFO.
            const std::int64_t count = (now - nextByte) / byteNs + 1;
            QByteArray out;
            out.reserve(count);
            for (std::int64_t i = 0; i < count; ++i) {
                out += pattern[patternPos];
                patternPos = (patternPos + 1) % pattern.size();
            }
            const ssize_t n = ::write(pty_.master(), out.constData(), static_cast<size_t>(out.size()));
            if (n > 0)
                streamed_.fetch_add(static_cast<std::size_t>(n), std::memory_order_release);
            nextByte += count * byteNs;
        }
    }
}

}  // namespace bench
