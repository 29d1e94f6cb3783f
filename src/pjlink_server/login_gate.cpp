// SPDX-License-Identifier: GPL-3.0-or-later
#include "pjlink_server/login_gate.h"

#include <algorithm>
#include <limits>
#include <tuple>

#include "pjlink/protocol.h"

namespace mv70::bridge {
namespace {

// The pause after `wrong` guesses: the address's, or a shared one.
qint64 pauseMs(int wrong, qint64 longest = std::numeric_limits<qint64>::max()) {
    return std::min<qint64>(pjlink::failureDelayMs(wrong), longest);
}

}  // namespace

QHostAddress plainAddress(const QHostAddress &address) {
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ip);
    QHostAddress plain = address;
    plain.setScopeId(QString());
    return plain;
}

QString networkOf(const QHostAddress &address) {
    const QHostAddress plain = plainAddress(address);
    if (plain.protocol() == QAbstractSocket::IPv4Protocol)
        return QHostAddress(plain.toIPv4Address() & 0xffffff00u).toString() + QStringLiteral("/24");
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

LoginGate::Ticket LoginGate::enqueue(const QHostAddress &address) {
    const Ticket ticket = nextTicket_++;
    waiting_.push_back({ticket, plainAddress(address).toString(), networkOf(address)});
    return ticket;
}

void LoginGate::cancel(Ticket ticket) {
    std::erase_if(waiting_, [ticket](const Guess &guess) { return guess.ticket == ticket; });
}

qint64 LoginGate::openAt(const Guess &guess) const {
    qint64 at = everyone_.openAtMs;
    if (const auto it = addresses_.constFind(guess.address); it != addresses_.cend())
        at = std::max(at, it->openAtMs);
    if (const auto it = networks_.constFind(guess.network); it != networks_.cend())
        at = std::max(at, it->openAtMs);
    return at;
}

std::optional<LoginGate::Ticket> LoginGate::take(qint64 nowMs) {
    const auto find = [](const QHash<QString, Record> &records, const QString &key) {
        const auto it = records.constFind(key);
        return it == records.cend() ? Record{} : *it;
    };
    // An address that has logged in before goes first: a guesser cannot
    // earn that, however many addresses it has.
    auto chosen = waiting_.end();
    std::tuple<bool, qint64, qint64> chosenTurn{};
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (openAt(*it) > nowMs)
            continue;
        const Record address = find(addresses_, it->address);
        const std::tuple<bool, qint64, qint64> turn{!address.loggedIn, find(networks_, it->network).lastCheckedMs,
                                                    address.lastCheckedMs};
        if (chosen == waiting_.end() || turn < chosenTurn) {
            chosen = it;
            chosenTurn = turn;
        }
    }
    if (chosen == waiting_.end())
        return std::nullopt;
    const Guess guess = *chosen;
    waiting_.erase(chosen);
    record(addresses_, guess.address, nowMs).lastCheckedMs = nowMs;
    record(networks_, guess.network, nowMs).lastCheckedMs = nowMs;
    return guess.ticket;
}

void LoginGate::checked(const QHostAddress &address, bool right, qint64 nowMs) {
    Record &byAddress = record(addresses_, plainAddress(address).toString(), nowMs);
    if (right) {
        byAddress.wrong = 0;
        byAddress.openAtMs = nowMs;
        byAddress.loggedIn = true;
        return;
    }
    Record &byNetwork = record(networks_, networkOf(address), nowMs);
    for (Record *counted : {&byAddress, &byNetwork, &everyone_}) {
        if (nowMs - counted->lastWrongMs > kForgetMs)
            counted->wrong = 0;
        ++counted->wrong;
        counted->lastWrongMs = nowMs;
    }
    byAddress.openAtMs = nowMs + pauseMs(byAddress.wrong);
    byNetwork.openAtMs = nowMs + pauseMs(byNetwork.wrong, kLongestSharedPauseMs);
    everyone_.openAtMs = nowMs + pauseMs(everyone_.wrong, kLongestSharedPauseMs);
}

std::optional<qint64> LoginGate::nextAt(qint64 nowMs) const {
    std::optional<qint64> at;
    for (const Guess &guess : waiting_)
        at = std::min(at.value_or(openAt(guess)), openAt(guess));
    if (at)
        at = std::max(*at, nowMs);
    return at;
}

// The record of `key`, made when missing. The records are bounded: those
// that hold nothing worth keeping go first, then any.
LoginGate::Record &LoginGate::record(QHash<QString, Record> &records, const QString &key, qint64 nowMs) {
    if (!records.contains(key) && records.size() >= kMaxRecords) {
        records.removeIf([nowMs](const auto &entry) {
            const Record &r = entry.value();
            return r.openAtMs <= nowMs && !r.loggedIn && (r.wrong == 0 || nowMs - r.lastWrongMs > kForgetMs);
        });
        if (records.size() >= kMaxRecords)
            records.erase(records.begin());
    }
    return records[key];
}

}  // namespace mv70::bridge
