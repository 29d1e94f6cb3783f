// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When a password guess may be checked. Every guess waits here until its
// address, its network and the server as a whole may have one checked; a
// wrong guess closes them for a while. What an attacker learns is bounded by
// how often guesses are checked, so the pause is before the check, and a
// right guess waits as a wrong one would: answering right guesses sooner
// would tell a parallel guesser which one was right.
//
// Parallel connections from one address share its pause, and addresses of
// one network (/24 for IPv4, /64 for IPv6) share the network's, so neither
// many connections nor many addresses speed guessing up. The pauses stay
// short enough that a controller sharing an address or a network with a
// guesser is let in within a few seconds: when several guesses may be
// checked, one from an address that has logged in before goes first, then
// the one whose network, then address, was checked longest ago.
//
// No clock and no network here: times are given in milliseconds of any
// steady clock.

#include <QHash>
#include <QHostAddress>
#include <QString>

#include <deque>
#include <optional>

namespace mv70::bridge {

// The address as the gate counts it: an IPv4-mapped IPv6 address as its
// IPv4 address, without a scope.
QHostAddress plainAddress(const QHostAddress &address);
// The network an address counts in, as text: "192.0.2.0/24",
// "2001:db8:1:2::/64".
QString networkOf(const QHostAddress &address);

class LoginGate {
public:
    // After a wrong guess the address waits pjlink::failureDelayMs of its
    // wrong guesses (250 ms doubling up to 4 s); its network and everyone
    // wait the same counting theirs, up to 1 s: however many addresses and
    // networks, a guess a second at most, and a typo costs others 250 ms.
    static constexpr qint64 kLongestSharedPauseMs = 1000;
    // An address's wrong guesses are forgotten after this without one, or
    // at its first right guess.
    static constexpr qint64 kForgetMs = 600'000;
    static constexpr int kMaxRecords = 4096;

    using Ticket = quint64;

    // A guess from `address` waits; the ticket names it.
    Ticket enqueue(const QHostAddress &address);
    // The guess went away unchecked (its connection closed).
    void cancel(Ticket ticket);
    // The waiting guess that may be checked now, taken from the waiting; the
    // caller checks it at once and says how it went with checked().
    std::optional<Ticket> take(qint64 nowMs);
    void checked(const QHostAddress &address, bool right, qint64 nowMs);
    // When take() may give a guess next (perhaps now); none while nothing waits.
    std::optional<qint64> nextAt(qint64 nowMs) const;

    int waiting() const { return int(waiting_.size()); }

private:
    struct Record {
        int wrong = 0;  // wrong guesses in a row, not forgotten
        qint64 lastWrongMs = 0;
        qint64 openAtMs = 0;        // no guess checked before this
        qint64 lastCheckedMs = -1;  // for turns; -1 never
        bool loggedIn = false;      // an address: a right guess came from it
    };
    struct Guess {
        Ticket ticket;
        QString address;
        QString network;
    };
    qint64 openAt(const Guess &guess) const;
    Record &record(QHash<QString, Record> &records, const QString &key, qint64 nowMs);

    QHash<QString, Record> addresses_;
    QHash<QString, Record> networks_;
    Record everyone_;
    std::deque<Guess> waiting_;
    Ticket nextTicket_ = 1;
};

}  // namespace mv70::bridge
