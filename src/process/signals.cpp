// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace mv70::process {
namespace {

// The pipe's writing end while a watch is alive; -1 otherwise. The handler
// reads it, so it is a lock-free atomic.
std::atomic<int> writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onSignal(int signo) {
    const int savedErrno = errno;
    const int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signo);
        // A full pipe drops the byte: the signals waiting in it are enough to
        // wake the loop.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

struct SignalWatch::Private {
    int pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier;
    struct Watched {
        struct sigaction previous {};
        Callback callback;
    };
    std::map<int, Watched> watched;

    void readAll() {
        // Every byte waiting; an empty wake-up reads none and changes nothing.
        std::bitset<256> came;
        unsigned char bytes[64];
        ssize_t got = 0;
        while ((got = ::read(pipe[0], bytes, sizeof bytes)) > 0)
            for (ssize_t i = 0; i < got; ++i)
                came.set(bytes[i]);
        for (auto &[signo, entry] : watched)
            if (signo < int(came.size()) && came.test(std::size_t(signo)) && entry.callback)
                entry.callback(signo);
    }
};

SignalWatch::SignalWatch() : d(std::make_unique<Private>()) {
    if (writeEnd.load() >= 0) {
        qWarning("a second signal watch in one program: it watches nothing");
        return;
    }
    if (::pipe2(d->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("no pipe for the signals: %s", std::strerror(errno));
        d->pipe[0] = d->pipe[1] = -1;
        return;
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->pipe[0], QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, d->notifier.get(), [this] { d->readAll(); });
    writeEnd.store(d->pipe[1]);
}

SignalWatch::~SignalWatch() {
    for (auto &[signo, entry] : d->watched)
        ::sigaction(signo, &entry.previous, nullptr);
    if (d->pipe[1] >= 0)
        writeEnd.store(-1);
    d->notifier.reset();
    for (int &fd : d->pipe)
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
}

bool SignalWatch::isValid() const { return d->notifier != nullptr; }

bool SignalWatch::on(int signo, Callback callback) {
    if (!isValid() || signo <= 0 || signo >= 256)
        return false;
    if (const auto found = d->watched.find(signo); found != d->watched.end()) {
        found->second.callback = std::move(callback);
        return true;
    }
    struct sigaction previous {};
    if (::sigaction(signo, nullptr, &previous) != 0
        || (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN))
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signo, &action, nullptr) != 0)
        return false;
    d->watched[signo] = {previous, std::move(callback)};
    return true;
}

QString SignalWatch::name(int signo) {
    if (const char *abbreviation = ::sigabbrev_np(signo))
        return QStringLiteral("SIG") + QString::fromLatin1(abbreviation);
    return QStringLiteral("signal %1").arg(signo);
}

}  // namespace mv70::process
