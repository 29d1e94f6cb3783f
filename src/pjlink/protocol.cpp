// SPDX-License-Identifier: GPL-3.0-or-later
#include "pjlink/protocol.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>

namespace mv70::pjlink {
namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isCommandByte(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

}  // namespace

QByteArray reply(char pjlinkClass, QByteArrayView command, QByteArrayView body) {
    QByteArray out;
    out.reserve(8 + body.size());
    out += '%';
    out += pjlinkClass;
    out += command.toByteArray().toUpper();
    out += '=';
    // A reply is one line: whatever a reading holds, no control character
    // goes out inside it.
    for (char c : body)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    out += kCR;
    return out;
}

QByteArray reply(const Request &request, QByteArrayView body) {
    return reply(request.pjlinkClass, request.command, body);
}

QByteArray freshRandom() {
    const quint32 value = QRandomGenerator::system()->generate();
    return QByteArray::number(value, 16).rightJustified(kRandomLength, '0');
}

QByteArray expectedDigest(QByteArrayView random, QByteArrayView password) {
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(random);
    hash.addData(password);
    return hash.result().toHex();
}

bool digestMatches(QByteArrayView given, QByteArrayView expected) {
    if (given.size() != expected.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(asciiLower(given[i]) ^ expected[i]);
    return difference == 0;
}

int failureDelayMs(int failures) {
    if (failures <= 0)
        return 0;
    return 250 << std::min(failures - 1, 4);
}

Session::Session(QByteArray password, QByteArray random)
    : password_(std::move(password)), random_(std::move(random)), authenticated_(password_.isEmpty()) {}

QByteArray Session::greeting() const {
    if (password_.isEmpty())
        return QByteArrayLiteral("PJLINK 0\r");
    return QByteArrayLiteral("PJLINK 1 ") + random_ + kCR;
}

void Session::feed(QByteArrayView bytes) {
    // Before the first command the digest comes in front of the line.
    constexpr qsizetype limit = kDigestLength + kMaxLine - 1;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf(kCR);
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        const qsizetype room = limit + 1 - partial_.text.size();
        if (piece.size() > room) {
            partial_.text += piece.first(std::max<qsizetype>(room, 0));
            partial_.overlong = true;
        } else {
            partial_.text += piece;
        }
        if (end < 0)
            return;
        lines_.append(std::exchange(partial_, Line{}));
        bytes = bytes.sliced(end + 1);
    }
}

void Session::skipBlankLines() {
    while (!lines_.isEmpty()) {
        Line &line = lines_.first();
        // Clients that end lines with CR LF: the LF starts the next line.
        while (line.text.startsWith(kLF))
            line.text.remove(0, 1);
        if (!line.text.isEmpty() || line.overlong)
            return;
        lines_.removeFirst();
    }
}

std::optional<Session::Step> Session::next() {
    skipBlankLines();
    if (lines_.isEmpty())
        return std::nullopt;
    return take(lines_.takeFirst());
}

bool Session::guessWaiting() {
    skipBlankLines();
    return !authenticated_ && !lines_.isEmpty() && !lines_.first().text.startsWith("PJLINK ");
}

Session::Step Session::take(const Line &line) {
    QByteArrayView text = line.text;
    if (!authenticated_) {
        // PJLink 2.10's SHA-256 exchange is not offered: a client asking for
        // it is told so and may go on with the MD5 digest of this greeting.
        if (text.startsWith("PJLINK "))
            return {Step::Kind::Reply, {}, QByteArrayLiteral("PJLINK ERR1\r")};
        if (line.overlong || text.size() < kDigestLength + 1
            || !std::all_of(text.begin(), text.begin() + kDigestLength, isHexDigit)
            || !digestMatches(text.first(kDigestLength), expectedDigest(random_, password_)))
            return {Step::Kind::AuthFailed, {}, kAuthError};
        authenticated_ = true;
        text = text.sliced(kDigestLength);
    }

    if (text.size() < 6 || text[0] != '%' || text[1] < '0' || text[1] > '9'
        || !std::all_of(text.begin() + 2, text.begin() + 6, isCommandByte))
        return {Step::Kind::Close, {}, {}};
    Request request;
    request.pjlinkClass = text[1];
    request.command = text.sliced(2, 4).toByteArray().toUpper();
    if (line.overlong || text.size() > kMaxLine - 1)
        return {Step::Kind::Reply, {}, reply(request, "ERR2")};
    if (request.pjlinkClass != '1' && request.pjlinkClass != '2')
        return {Step::Kind::Reply, {}, reply(request, "ERR1")};
    if (text.size() == 6 || text[6] != ' ')
        request.separatorMissing = true;
    else
        request.parameter = text.sliced(7).toByteArray();
    return {Step::Kind::Request, std::move(request), {}};
}

}  // namespace mv70::pjlink
