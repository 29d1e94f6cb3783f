// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/trace.h"

#include <algorithm>
#include <array>

#include "logic/command_text.h"

namespace mv70 {
namespace {

// Token rules, tested in this order; the first whose range holds the
// character wins. A null token means the character itself and a blank.
struct TokenRule {
    char16_t first;
    char16_t last;
    const char *token;
};

// clang-format off
constexpr TokenRule kTokenRules[] = {
    {kAck.unicode(), kAck.unicode(), "ACK "},
    {0x14, 0x14, "&"},      // no blank after it: the next token follows directly
    {0x0D, 0x0D, "CR "},
    {0x0A, 0x0A, "LF "},
    {0x00, 0x1F, "? "},
    {0x20, 0x7A, nullptr},  // blank up to "z": itself
    {0x7B, 0xFFFF, "? "},
};
// clang-format on

constexpr const char *tokenByRules(char16_t c) {
    for (const TokenRule &rule : kTokenRules)
        if (c >= rule.first && c <= rule.last)
            return rule.token;
    return "? ";
}

// A token spelled out, at most four characters.
struct Token {
    std::array<char16_t, 4> chars{};
    qsizetype length = 0;
};

constexpr Token spell(const char *token) {
    Token spelled;
    while (token[spelled.length] != '\0') {
        spelled.chars[static_cast<std::size_t>(spelled.length)] = static_cast<char16_t>(token[spelled.length]);
        ++spelled.length;
    }
    return spelled;
}

// The rules resolved once for the ASCII range; everything above renders
// as "? " by the last rule. A length of 0 marks a character shown as itself.
constexpr std::array<Token, 0x80> kAsciiTokens = [] {
    std::array<Token, 0x80> table{};
    for (char16_t c = 0; c < 0x80; ++c)
        if (const char *token = tokenByRules(c))
            table[c] = spell(token);
    return table;
}();
constexpr Token kOtherToken = spell("? ");

constexpr qsizetype tokenLength(char16_t c) {
    if (c >= 0x80)
        return kOtherToken.length;
    const qsizetype length = kAsciiTokens[c].length;
    return length ? length : 2;
}

qsizetype traceLength(QStringView text) {
    qsizetype length = 0;
    for (QChar ch : text)
        length += tokenLength(ch.unicode());
    return length;
}

// Writes the tokens of `text` from `out` on; returns the end.
QChar *writeTokens(QStringView text, QChar *out) {
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        const Token &token = c < 0x80 ? kAsciiTokens[c] : kOtherToken;
        if (token.length == 0) {
            *out++ = ch;
            *out++ = u' ';
        } else {
            out = std::copy_n(token.chars.begin(), token.length, out);
        }
    }
    return out;
}

}  // namespace

QString renderTrace(QStringView text) {
    QString trace(1 + traceLength(text), Qt::Uninitialized);
    QChar *out = trace.data();
    *out++ = u' ';
    writeTokens(text, out);
    return trace;
}

const QString &IncrementalTrace::render(const QString &text) {
    const QStringView before = text_;
    const QStringView now = text;
    qsizetype dropped = -1;  // characters lost at the start since the last call
    if (now.startsWith(before)) {
        dropped = 0;
    } else if (!before.isEmpty() && !now.isEmpty()) {
        // Where the new text starts within the old one. A short head can
        // match in more than one place; any place where the whole of the rest
        // of the old text matches gives the same trace, so a few tries do.
        const QStringView head = now.left(16);
        qsizetype from = 1;
        for (int tries = 0; tries < 3; ++tries) {
            const qsizetype at = before.indexOf(head, from);
            if (at < 0)
                break;
            const qsizetype kept = before.size() - at;
            if (kept <= now.size() && now.startsWith(before.sliced(at))) {
                dropped = at;
                break;
            }
            from = at + 1;
        }
    }

    if (dropped < 0) {
        spare_ = renderTrace(now);
    } else {
        // Written into the spare trace, which nobody shows any more: a long
        // trace is copied once and its memory reused, not allocated anew.
        const QStringView kept = QStringView(trace_).sliced(1 + traceLength(before.first(dropped)));
        const QStringView added = now.sliced(before.size() - dropped);
        spare_.resize(1 + kept.size() + traceLength(added));
        QChar *out = spare_.data();
        *out++ = u' ';
        writeTokens(added, std::copy(kept.begin(), kept.end(), out));
    }
    trace_.swap(spare_);
    // A copy of our own: sharing the caller's text would make its next
    // append copy it.
    text_.resize(text.size());
    std::copy(text.begin(), text.end(), text_.data());
    return trace_;
}

}  // namespace mv70
