// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PJLink on one TCP connection, without the connection: the greeting, the
// digest on the first command, cutting what arrives into requests, and the
// form of every reply. No network and no projector here: the server feeds
// bytes in and writes out what comes back.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <optional>

namespace mv70::pjlink {

// A request line: '%', class, four-letter command, separator, parameter, CR.
// 136 bytes at most, the CR included; the digest of the first command comes
// in front of that.
inline constexpr qsizetype kMaxLine = 136;
inline constexpr qsizetype kDigestLength = 32;  // MD5 in lower-case hex
inline constexpr qsizetype kRandomLength = 8;   // the greeting's random, hex

struct Request {
    char pjlinkClass = '1';  // '1' or '2': the reply mirrors it
    QByteArray command;      // four letters or digits, upper case
    QByteArray parameter;    // after the separator; may be empty
    bool separatorMissing = false;

    bool isQuery() const { return parameter.startsWith('?'); }
};

// The reply to `request`: "%<class><COMMAND>=<body>\r".
QByteArray reply(const Request &request, QByteArrayView body);
// The reply to a request whose line was not understood beyond its header.
QByteArray reply(char pjlinkClass, QByteArrayView command, QByteArrayView body);

// ---- Authentication -----------------------------------------------------

// A fresh random for one greeting: eight lower-case hex digits from the
// system's unpredictable source.
QByteArray freshRandom();

// What the client must send: MD5 of the random followed by the password,
// in lower-case hex.
QByteArray expectedDigest(QByteArrayView random, QByteArrayView password);

// Compares a digest as the client sent it (either case) with the expected
// one, in time that depends only on the lengths.
bool digestMatches(QByteArrayView given, QByteArrayView expected);

// The pause after `failures` wrong guesses in a row (this one included)
// before the next guess is checked: it doubles from 250 ms up to 4 s, so a
// controller that got its password wrong a few times is in within 5 s (a
// common client timeout) once it has it right.
int failureDelayMs(int failures);

// ---- One connection ------------------------------------------------------

// Cuts the client's bytes into lines and checks the digest on the first
// command. Takes one line at a time, so the server answers in order and
// reads the next request only once the previous one is answered.
class Session {
public:
    // An empty password: no authentication ("PJLINK 0"). Otherwise `random`
    // (see freshRandom) goes into the greeting.
    Session(QByteArray password, QByteArray random);

    QByteArray greeting() const;

    // Bytes as they arrived. Memory stays bounded: of a line longer than
    // kMaxLine only its start is kept.
    void feed(QByteArrayView bytes);

    struct Step {
        enum class Kind {
            Request,     // answer `request`
            Reply,       // write `reply` (and nothing else for this line)
            AuthFailed,  // write "PJLINK ERRA\r" (after the pause) and close
            Close,       // not PJLink: close without a word
        };
        Kind kind = Kind::Request;
        Request request;
        QByteArray reply;
    };
    // The next complete line's step; nothing while no line is complete.
    std::optional<Step> next();

    // The next complete line is a password guess: the first command of a
    // connection not authenticated yet. The server lets next() check it
    // only when the guess's turn has come.
    bool guessWaiting();

    bool authenticated() const { return authenticated_; }
    static inline const QByteArray kAuthError = QByteArrayLiteral("PJLINK ERRA\r");

private:
    struct Line {
        QByteArray text;  // without its CR; only the start of an overlong one
        bool overlong = false;
    };
    Step take(const Line &line);
    void skipBlankLines();

    QByteArray password_;
    QByteArray random_;
    bool authenticated_;
    QList<Line> lines_;  // complete, not taken yet
    Line partial_;       // the line being received
};

}  // namespace mv70::pjlink
