#include "protocol/trace.h"

#include <array>

namespace mv70 {
namespace {

// Token rules, tested in this order; the first whose range holds the
// character wins. A null token means the character itself and a blank.
struct TokenRule {
    char16_t first;
    char16_t last;
    const char *token;
};

constexpr TokenRule kTokenRules[] = {
    {0x06, 0x06, "ACK "},
    {0x14, 0x14, "&"},      // no blank after it: the next token follows directly
    {0x0D, 0x0D, "CR "},
    {0x0A, 0x0A, "LF "},
    {0x00, 0x1F, "? "},
    {0x20, 0x7A, nullptr},  // blank up to "z": itself
    {0x7B, 0xFFFF, "? "},
};

constexpr const char *tokenByRules(char16_t c) {
    for (const TokenRule &rule : kTokenRules)
        if (c >= rule.first && c <= rule.last)
            return rule.token;
    return "? ";
}

// The rules resolved once for the ASCII range; everything above renders
// as "? " by the last rule.
constexpr std::array<const char *, 0x80> kAsciiTokens = [] {
    std::array<const char *, 0x80> table{};
    for (char16_t c = 0; c < 0x80; ++c)
        table[c] = tokenByRules(c);
    return table;
}();

}  // namespace

QString renderTrace(QStringView text) {
    QString trace;
    trace.reserve(1 + 2 * text.size() + 16);
    trace += u' ';
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        const char *token = c < 0x80 ? kAsciiTokens[c] : "? ";
        if (token) {
            trace += QLatin1StringView(token);
        } else {
            trace += ch;
            trace += u' ';
        }
    }
    return trace;
}

}  // namespace mv70
